// Native-side no-mapping stubs. Every native node that produces no
// OpenConfig output has one of these as its handler; the walker still visits
// the node so that its children are reached.
#include "ymap_frame.h"
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
