// Symbols the plug-in's own sources share: the root walkers, the module
// state of the configuration database binding, the namespaces and the
// no-mapping stubs.
#ifndef OC_LR_YMAP_OCSTATIC_OCLOCALROUTING_H
#define OC_LR_YMAP_OCSTATIC_OCLOCALROUTING_H

#include "yfw_map.h"
#include "ymap_platform.h"

#define YMAP_EXPORT __attribute__((visibility("default")))

#define OC_LR_OC_NAMESPACE "http://openconfig.net/yang/local-routing"
#define OC_LR_NATIVE_NAMESPACE "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg"
#define OC_LR_SYSDB_ROOT "/cfg/gl/static/router/ord_d/default/address/"

extern "C" {

YMAP_EXPORT int32_t yfw_map_reg_oclocalrouting_conf(yfw_map_reg *reg);
YMAP_EXPORT int32_t yfw_ipstatic_init(void);

YMAP_EXPORT extern sysdb_connid_t ip_static_sysdb_connid;
YMAP_EXPORT extern uint32_t ipstatic_init_done;

// Root walkers, written into the registration record.
YMAP_EXPORT ymap_result ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);

// No-mapping stubs, one set per direction.
YMAP_EXPORT ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_list(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container(
    yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_leaf(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_list(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_container(
    yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count, yfw_map_datatree *tree);
}

#endif
