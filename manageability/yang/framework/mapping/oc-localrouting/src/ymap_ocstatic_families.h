// Handler family code both directions share: the forwarding handler that
// runs the frame around a hand-written callback.
#ifndef OC_LR_YMAP_FAMILIES_H
#define OC_LR_YMAP_FAMILIES_H

#include "ymap_frame.h"

namespace ymap {

inline ymap_result forward(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count,
                           yfw_map_datatree *tree, const char *name,
                           yfw_map_container_handler_fn callback) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = callback(ctx, node, child_count, tree);
    YMAP_END(fr);
    return rc;
}

inline ymap_result forward(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                           const char *name, yfw_map_walker_fn callback) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = callback(ctx, node, tree);
    YMAP_END(fr);
    return rc;
}

}  // namespace ymap

#endif
