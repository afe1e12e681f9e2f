// Hand-written native-to-OpenConfig callbacks, reached through the
// generated forwarding handlers of their native nodes. Each turns one native
// node of the default VRF's unicast static routes into OpenConfig adds.
// IPv4 names carry lvle/lvln/lvlan, IPv6 names lvlg/lvlt/lvlbf.
#ifndef OC_LR_YMAP_OCSTATIC_VELMO_ORNAT_IP_STATIC_CFG_MAN_H
#define OC_LR_YMAP_OCSTATIC_VELMO_ORNAT_IP_STATIC_CFG_MAN_H

#include "yfw_map.h"
#include "ymap_ocstatic_oclocalrouting.h"

extern "C" {

// /router-static
YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_cont_lvla_routerstatic(
    yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count, yfw_map_datatree *tree);

// .../vrf-prefixes/vrf-prefix entries
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvle_routerstatic_vrfprefixes_vrfprefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlg_routerstatic_vrfprefixes_vrfprefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);

// .../vrf-route/vrf-next-hop-table/<list> entries
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);

// .../vrf-prefix/prefix and prefix-length
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvle_routerstatic_vrfprefix_prefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlg_routerstatic_vrfprefix_prefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvle_routerstatic_vrfprefix_prefixlength(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlg_routerstatic_vrfprefix_prefixlength(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);

// Key leaves of the three next-hop lists
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacename_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);

// tag of the three next-hop lists
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacename_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacename_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
YMAP_EXPORT ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree);
}

#endif
