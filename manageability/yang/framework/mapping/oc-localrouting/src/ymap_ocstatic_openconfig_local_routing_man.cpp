// Hand-written OpenConfig-side handlers that take the place of their
// generated defaults (the plain names below are strong here and weak in the
// generated code).
//
// Until the edit mapping that decides which native next-hop list an entry
// goes to is in place, these run the generated default, which marks and
// adds the same condition-table rows without consulting the existing
// configuration.
#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"

#define OC_LR_OX(name) ymap_ox_ocstatic_openconfiglocalrouting_##name

extern "C" {

YMAP_EXPORT ymap_result
__ymap_ox_ocstatic_openconfiglocalrouting_cont_lvla_localroutes_static_nexthops(yfw_map_ctx *,
                                                                                yfw_map_node *,
                                                                                uint32_t,
                                                                                yfw_map_datatree *);
YMAP_EXPORT ymap_result
__ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_nexthop_index(yfw_map_ctx *,
                                                                              yfw_map_node *,
                                                                              yfw_map_datatree *);
YMAP_EXPORT ymap_result
__ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_config_index(yfw_map_ctx *,
                                                                             yfw_map_node *,
                                                                             yfw_map_datatree *);
YMAP_EXPORT ymap_result
__ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_config_metric(yfw_map_ctx *,
                                                                              yfw_map_node *,
                                                                              yfw_map_datatree *);

YMAP_EXPORT ymap_result OC_LR_OX(cont_lvla_localroutes_static_nexthops)(yfw_map_ctx *ctx,
                                                                        yfw_map_node *node,
                                                                        uint32_t child_count,
                                                                        yfw_map_datatree *tree) {
    return __ymap_ox_ocstatic_openconfiglocalrouting_cont_lvla_localroutes_static_nexthops(
        ctx, node, child_count, tree);
}

YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_nexthop_index)(yfw_map_ctx *ctx,
                                                                      yfw_map_node *node,
                                                                      yfw_map_datatree *tree) {
    return __ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_nexthop_index(ctx, node,
                                                                                         tree);
}

YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_index)(yfw_map_ctx *ctx,
                                                                     yfw_map_node *node,
                                                                     yfw_map_datatree *tree) {
    return __ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_config_index(ctx, node,
                                                                                        tree);
}

YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_metric)(yfw_map_ctx *ctx,
                                                                      yfw_map_node *node,
                                                                      yfw_map_datatree *tree) {
    return __ymap_ox_ocstatic_openconfiglocalrouting_leaf_lvla_localroutes_config_metric(ctx, node,
                                                                                         tree);
}
}
