// OpenConfig-side no-mapping stubs. Every unmapped OpenConfig node's handler
// is an alias of one of these.
#include "ymap_frame.h"
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
