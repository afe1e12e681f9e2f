// Native-side no-mapping stubs (every native node that produces no
// OpenConfig output has one of these or a generated do-nothing handler; the
// walker still visits the node so that its children are reached) and the
// code behind the generated handlers.
#include "ymap_frame.h"
#include "ymap_ocstatic_families.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {
ymap_result end_record_only(yfw_map_ctx *ctx, const char *name) {
    YMAP_FRAME_QUIET(fr, ctx, name);
    YMAP_END(fr);
    return YMAP_OK;
}
}  // namespace

extern "C" {

ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_leaf(yfw_map_ctx *ctx, yfw_map_node *,
                                                                 yfw_map_datatree *) {
    return end_record_only(ctx, __func__);
}

ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_list(yfw_map_ctx *ctx, yfw_map_node *,
                                                                 yfw_map_datatree *) {
    return end_record_only(ctx, __func__);
}

ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_container(yfw_map_ctx *ctx,
                                                                      yfw_map_node *, uint32_t,
                                                                      yfw_map_datatree *) {
    return end_record_only(ctx, __func__);
}
}

// ---------------------------------------------------------------- families
//
// The shared code behind the generated native-side handlers. Each generated
// handler is one call into a function below, passing its own name for the
// trace records.

namespace ymap::xo {

namespace {

ymap_result add_oc_leaf(yfw_map_ctx *ctx, yfw_map_datatree *tree, const char *path,
                        const char *value) {
    return yfw_map_datatree_add_path_flagged(ctx, tree, path, OC_LR_OC_NAMESPACE, value, nullptr,
                                             nullptr, 0, 0);
}

bool reads_state(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr && ctx->req_ctx->req_type == YFW_REQ_READ_STATE;
}

}  // namespace

using ::ymap::forward;

__attribute__((noinline)) ymap_result end_only(yfw_map_ctx *ctx, yfw_map_node *, yfw_map_datatree *,
                                               const char *name) {
    return end_record_only(ctx, name);
}

__attribute__((noinline)) ymap_result check_args(yfw_map_ctx *ctx, yfw_map_node *node,
                                                 yfw_map_datatree *tree, const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    YMAP_END(fr);
    return YMAP_OK;
}

__attribute__((noinline)) ymap_result check_args(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t,
                                                 yfw_map_datatree *tree, const char *name) {
    return check_args(ctx, node, tree, name);
}

// A table with entries gets its OpenConfig container from the entries'
// own adds; only an empty one has to be added here.
__attribute__((noinline)) ymap_result empty_container(yfw_map_ctx *ctx, yfw_map_node *node,
                                                      uint32_t child_count, yfw_map_datatree *tree,
                                                      const char *name, const char *oc_path) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    if (child_count != 0) {
        YMAP_TRC(fr, "No mapping done for this node");
    } else {
        YMAP_TRC(fr, "No subtrees");
        rc = add_oc_leaf(ctx, tree, oc_path, nullptr);
    }
    YMAP_END(fr);
    return rc;
}

// Copies a native leaf's value to its OpenConfig configuration and state
// leaves. A key path, when given, is the OpenConfig list key: it identifies
// the entry, so it is written whether or not configuration is produced.
__attribute__((noinline)) ymap_result map_leaf(yfw_map_ctx *ctx, yfw_map_node *node,
                                               yfw_map_datatree *tree, const char *name,
                                               const char *config_path, const char *state_path,
                                               const char *key_path) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    if (key_path != nullptr) rc = add_oc_leaf(ctx, tree, key_path, node->value);
    if (yfw_map_config_output(ctx)) rc = add_oc_leaf(ctx, tree, config_path, node->value);
    if (reads_state(ctx)) rc = add_oc_leaf(ctx, tree, state_path, node->value);
    YMAP_END(fr);
    return rc;
}

// Children of other modules are accepted and ignored on this side.
__attribute__((noinline)) ymap_result parse_augments(yfw_map_ctx *ctx, yfw_map_node *node,
                                                     yfw_map_datatree *tree, const char *name) {
    return check_args(ctx, node, tree, name);
}

}  // namespace ymap::xo

#include "ymap_xo_handlers.inc"
