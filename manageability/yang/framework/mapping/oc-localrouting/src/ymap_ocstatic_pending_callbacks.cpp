// Placeholders for hand-written callbacks that are not written yet. They are
// weak, so each real definition replaces its placeholder at link time, and
// this file shrinks to nothing as the mapping is completed. A placeholder
// refuses the request loudly rather than producing partial output.
#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {
ymap_result not_available(yfw_map_ctx *ctx, const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_ERR(fr, "Mapping callback not available");
    YMAP_END(fr);
    return YMAP_ERR_BAD_REQUEST;
}
}  // namespace

#define OC_LR_PENDING_NODE(name)                                   \
    extern "C" YMAP_EXPORT __attribute__((weak)) ymap_result name( \
        yfw_map_ctx *ctx, yfw_map_node *, yfw_map_datatree *) {    \
        return not_available(ctx, #name);                          \
    }
#define OC_LR_PENDING_CONTAINER(name)                                     \
    extern "C" YMAP_EXPORT __attribute__((weak)) ymap_result name(        \
        yfw_map_ctx *ctx, yfw_map_node *, uint32_t, yfw_map_datatree *) { \
        return not_available(ctx, #name);                                 \
    }
#define OC_LR_PENDING_CONDITION(name)                                                         \
    extern "C" YMAP_EXPORT __attribute__((weak)) ymap_result name(yfw_map_ctx *ctx, uint32_t, \
                                                                  ymap_cond_entry *) {        \
        return not_available(ctx, #name);                                                     \
    }

// OpenConfig edits and reads to native.
OC_LR_PENDING_CONTAINER(
    ymap_ox_ocstatic_openconfiglocalrouting_man_cont_lvla_localroutes_staticroutes)
OC_LR_PENDING_NODE(
    ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_staticroutes_static)
OC_LR_PENDING_NODE(ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_static_prefix)
OC_LR_PENDING_NODE(ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_config_prefix)
OC_LR_PENDING_NODE(ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_config_settag)
OC_LR_PENDING_NODE(
    ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_nexthops_nexthop)
OC_LR_PENDING_NODE(ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_config_nexthop)
OC_LR_PENDING_NODE(
    ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_config_interface)
OC_LR_PENDING_NODE(
    ymap_ox_ocstatic_openconfiglocalrouting_man_leaf_lvla_localroutes_config_subinterface)
OC_LR_PENDING_CONDITION(oc_nexthops_cond_manual_callback)
OC_LR_PENDING_CONDITION(oc_index_cond_manual_callback)
OC_LR_PENDING_CONDITION(oc_metric_cond_manual_callback)

// Native data to OpenConfig.
OC_LR_PENDING_CONTAINER(ymap_xo_ocstatic_velmoornatipstaticcfg_man_cont_lvla_routerstatic)
#define OC_LR_PENDING_NATIVE_FAMILY(v, nh, leafv)                                                                                    \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_##v##_routerstatic_vrfprefixes_vrfprefix)                                    \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##v##_routerstatic_vrfprefix_prefix)                                         \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##v##_routerstatic_vrfprefix_prefixlength)                                   \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_##nh##_routerstatic_vrfnexthoptable_vrfnexthopinterfacename)                 \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_##nh##_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress)   \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_##nh##_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress)                \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopinterfacename_interfacename)                \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename)  \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress) \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopnexthopaddress_nexthopaddress)              \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopinterfacename_tag)                          \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag)            \
    OC_LR_PENDING_NODE(                                                                                                              \
        ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_##leafv##_routerstatic_vrfnexthopnexthopaddress_tag)
OC_LR_PENDING_NATIVE_FAMILY(lvle, lvln, lvlan)
OC_LR_PENDING_NATIVE_FAMILY(lvlg, lvlt, lvlbf)
