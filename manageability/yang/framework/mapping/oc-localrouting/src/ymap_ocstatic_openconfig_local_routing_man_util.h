// Utilities of the OpenConfig-to-native callbacks: the working record's
// per-next-hop reset, native path builders, carried-over next-hop
// attributes, interface-name forms, and the configuration-database lookups
// that tell an edit what is already configured.
//
// Every function here is exported with a C name so that a router build can
// resolve it exactly like the framework's own utilities.
#ifndef OC_LR_YMAP_OCSTATIC_OPENCONFIG_LOCAL_ROUTING_MAN_UTIL_H
#define OC_LR_YMAP_OCSTATIC_OPENCONFIG_LOCAL_ROUTING_MAN_UTIL_H

#include <stdint.h>

#include "oc_lr_types.h"
#include "yfw_map.h"
#include "ymap_ocstatic_oclocalrouting.h"

extern "C" {

// ---------------------------------------------------------------- working record

// Starts a next-hop entry afresh; route-wide fields are kept.
YMAP_EXPORT void oc_lr_init_prefix_type(oc_lr_prefix_type *rec);

// ---------------------------------------------------------------- native paths

// out (OC_LR_NATIVE_PATH bytes) receives the native next-hop list the
// next-hop belongs in. 0, or YMAP_ERR_BAD_REQUEST when the next-hop names
// neither an interface nor a next-hop value.
YMAP_EXPORT uint32_t get_mapping_path_name(yfw_map_ctx *ctx, uint32_t is_ipv4, uint32_t nexthop_set,
                                           uint32_t intf_set, uint32_t is_drop, char *out);
// The route's prefix list and next-hop table paths. Result of the last
// bounded append, 0 on success.
YMAP_EXPORT uint32_t get_mapping_path_name_prefix(uint32_t is_ipv4, char *out);
YMAP_EXPORT uint32_t get_mapping_path_name_nexthop(uint32_t is_ipv4, char *out);

// Writes the attributes of the stored next-hop (or, in replace mode, the
// request's tag and metric) under the native entry path. Result of the last
// insertion, 0 when none was made.
YMAP_EXPORT uint32_t set_metadata_path(const char *entry_path, yfw_map_ctx *ctx,
                                       yfw_map_datatree *parent);

// "ipv4", "ipv6" or "NULL" (constant texts) for an address without length.
YMAP_EXPORT const char *ymap_localrouting_check_ipv4_ipv6(const char *address);

// ---------------------------------------------------------------- interface names

YMAP_EXPORT bool oc_lr_validate_ifname(const char *name);
// dest must hold at least OC_LR_INTF_TEXT + 1 bytes.
YMAP_EXPORT void oc_lr_convert_to_internal_ifname(char *dest, const char *src);
YMAP_EXPORT void get_external_ifname(char *name);

// ---------------------------------------------------------------- database key texts

// Printable form of a hexadecimal address; storage belongs to the address
// services and is overwritten by their next call.
YMAP_EXPORT const char *get_ip_string(const char *hex);
// Offset of the last element of a database path, 0 when there is none.
YMAP_EXPORT uint32_t get_length(const char *path);
// Hexadecimal digits of a prefix length (no "0x"), or null for lengths
// below 1. The text lives in thread-local storage until the next call.
YMAP_EXPORT const char *dec_to_hex(int32_t length);

// ---------------------------------------------------------------- request scans

// 1 when the next-hop entry names an interface.
YMAP_EXPORT uint32_t check_next_hop_interface_config(yfw_map_ctx *ctx, yfw_map_node *node);
// 1 when the next-hop entry names a next-hop value other than local-link.
YMAP_EXPORT uint32_t check_next_hop_ip_and_set_drop_config(yfw_map_ctx *ctx, yfw_map_node *node);
// 1 when the static entry's next-hops are replaced, deleted or removed.
YMAP_EXPORT uint32_t check_nexthops_operation_delete_replace(yfw_map_ctx *ctx, yfw_map_node *node);

// ---------------------------------------------------------------- lookups

// Finds the stored next-hop the entry's index stands for. 0: found (or the
// route has nothing stored); YMAP_SYSDB_NOT_FOUND: the index is new;
// anything else: failure.
YMAP_EXPORT ymap_result do_index_lookup_on_sysdb(yfw_map_ctx *ctx, yfw_map_node *node);
// 1 when the auto index parts name the request's own next-hop.
YMAP_EXPORT uint32_t is_auto_index_valid(yfw_map_ctx *ctx, const char *first, const char *second);
// Rewrites the tag on every stored next-hop of the route.
YMAP_EXPORT ymap_result do_prefix_lookup_on_sysdb_and_set_tag(yfw_map_ctx *ctx, yfw_map_node *node,
                                                              yfw_map_datatree *tree);
// Takes the route's configured tag into tag_text when it has none.
YMAP_EXPORT ymap_result do_sysdb_lookup_and_get_tag(yfw_map_ctx *ctx, yfw_map_node *node);
}

#endif
