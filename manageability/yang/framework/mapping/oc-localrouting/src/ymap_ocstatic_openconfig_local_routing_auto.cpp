// OpenConfig-side no-mapping stubs (every unmapped OpenConfig node's handler
// is an alias of one of these) and the code behind the generated handlers.
#include <string.h>

#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_ocstatic_families.h"
#include "ymap_ocstatic_oclocalrouting.h"

extern "C" {

ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(yfw_map_ctx *ctx,
                                                                  yfw_map_node *node,
                                                                  yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    // An OpenConfig leaf without mapping cannot be honoured; answering
    // nonzero ends the request here instead of silently dropping the leaf.
    YMAP_END(fr);
    return YMAP_NO_LEAF_MAPPING;
}

ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_list(yfw_map_ctx *ctx,
                                                                  yfw_map_node *node,
                                                                  yfw_map_datatree *tree) {
    (void)node;
    (void)tree;
    YMAP_FRAME_QUIET(fr, ctx, __func__);
    YMAP_END(fr);
    return YMAP_OK;
}

ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container(yfw_map_ctx *ctx,
                                                                       yfw_map_node *node,
                                                                       uint32_t child_count,
                                                                       yfw_map_datatree *tree) {
    (void)child_count;
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    YMAP_END(fr);
    return YMAP_OK;
}
}

// ---------------------------------------------------------------- families
//
// The shared code behind the generated OpenConfig-side handlers. Each
// generated handler is one call into a function below, passing its own name
// for the trace records.

namespace ymap::ox {

namespace {

bool is_read(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr && (ctx->req_ctx->req_type == YFW_REQ_READ_CONFIG ||
                                       ctx->req_ctx->req_type == YFW_REQ_READ_STATE);
}

// The largest condition table: three next-hop lists for each of two
// families. The terminator row comes on top. The generator refuses larger
// tables, so the copy below always fits.
constexpr uint32_t max_cond_rows = 6;

// Marks a stack copy of the table through the condition callback and adds
// the marked rows. Leaves carry the request's value; containers never do,
// and the generated container default binds the request node only for a
// delete.
ymap_result add_selected_rows(frame &fr, yfw_map_node *node, yfw_map_datatree *tree,
                              const ymap_cond_entry *table, uint32_t rows,
                              ymap_cond_callback_fn condition, bool container) {
    ymap_cond_entry copy[max_cond_rows + 1];
    memcpy(copy, table, (rows + 1) * sizeof *table);
    ymap_result rc = condition(fr.ctx, rows, copy);
    const bool read = is_read(fr.ctx);
    const bool del = !read && yfw_map_is_request_delete(node);
    for (uint32_t i = 0; i < rows; ++i) {
        if (copy[i].selected != 1) continue;
        const char *value = nullptr;
        yfw_map_node *bound = nullptr;
        if (container) {
            bound = del ? node : nullptr;
        } else {
            value = del ? nullptr : copy[i].get_value(node);
            bound = read ? nullptr : node;
        }
        rc = yfw_map_datatree_add_path_flagged(fr.ctx, tree, copy[i].path, copy[i].ns, value, bound,
                                               nullptr, 0, static_cast<int>(copy[i].flags));
    }
    return rc;
}

}  // namespace

// The generated tables' own value getter: a request node's value text.
const char *cond_value(yfw_map_node *node) {
    return node != nullptr ? node->value : nullptr;
}

using ::ymap::forward;

// A leaf that is generated but maps nothing answers like the leaf stub.
__attribute__((noinline)) ymap_result no_body(yfw_map_ctx *ctx, yfw_map_node *node,
                                              yfw_map_datatree *tree, const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    YMAP_END(fr);
    return YMAP_NO_LEAF_MAPPING;
}

__attribute__((noinline)) ymap_result cond_leaf(yfw_map_ctx *ctx, yfw_map_node *node,
                                                yfw_map_datatree *tree, const char *name,
                                                const ymap_cond_entry *table, uint32_t rows,
                                                ymap_cond_callback_fn condition) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = add_selected_rows(fr, node, tree, table, rows, condition, false);
    YMAP_END(fr);
    return rc;
}

// An auto index names an existing next-hop by its keys; there is no native
// index leaf to write for it.
__attribute__((noinline)) ymap_result cond_index(yfw_map_ctx *ctx, yfw_map_node *node,
                                                 yfw_map_datatree *tree, const char *name,
                                                 const ymap_cond_entry *table, uint32_t rows,
                                                 ymap_cond_callback_fn condition) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    const auto *record = ctx->req_ctx != nullptr
                             ? static_cast<const oc_lr_prefix_type *>(ctx->req_ctx->common_data_ptr)
                             : nullptr;
    ymap_result rc = YMAP_OK;
    if (record != nullptr && record->index_known)
        YMAP_TRC(fr, "Need not map index, as it is auto index");
    else
        rc = add_selected_rows(fr, node, tree, table, rows, condition, false);
    YMAP_END(fr);
    return rc;
}

__attribute__((noinline)) ymap_result cond_container(yfw_map_ctx *ctx, yfw_map_node *node,
                                                     uint32_t child_count, yfw_map_datatree *tree,
                                                     const char *name, const ymap_cond_entry *table,
                                                     uint32_t rows,
                                                     ymap_cond_callback_fn condition) {
    (void)child_count;
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = add_selected_rows(fr, node, tree, table, rows, condition, true);
    YMAP_END(fr);
    return rc;
}

// A child of another module: harmless to skip in reads and deletes, but an
// edit that adds it would be silently lost, so it is refused.
__attribute__((noinline)) ymap_result parse_augments(yfw_map_ctx *ctx, yfw_map_node *node,
                                                     yfw_map_datatree *tree, const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    if (yfw_map_is_request_add(node)) {
        set_error_tag(ctx, node->tag);
        rc = YMAP_ERR_FOREIGN_ADD;
    }
    YMAP_END(fr);
    return rc;
}

}  // namespace ymap::ox

#include "ymap_ox_handlers.inc"
