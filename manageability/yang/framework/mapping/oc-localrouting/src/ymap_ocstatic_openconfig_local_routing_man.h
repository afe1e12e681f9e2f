// What the hand-written OpenConfig-side callbacks share between their two
// sources: the working record, the native paths they compose and one way of
// adding a native path to the output tree.
#ifndef OC_LR_YMAP_OCSTATIC_OPENCONFIG_LOCAL_ROUTING_MAN_H
#define OC_LR_YMAP_OCSTATIC_OPENCONFIG_LOCAL_ROUTING_MAN_H

#include <string.h>

#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"
#include "ymap_text.h"

#define OC_LR_OX(name) ymap_ox_ocstatic_openconfiglocalrouting_##name

// Native next-hop lists under a route's next-hop table.
#define OC_LR_LIST_INTF "/vrf-next-hop-interface-name"
#define OC_LR_LIST_ADDR "/vrf-next-hop-next-hop-address"
#define OC_LR_LIST_BOTH "/vrf-next-hop-interface-name-next-hop-address"
#define OC_LR_LEAF_INTF "/interface-name"
#define OC_LR_LEAF_ADDR "/next-hop-address"

// The interface text of a next-hop: interface, a dot and the subinterface.
#define OC_LR_INTF_NAME_TEXT 100

// The drop next-hop's native interface.
#define OC_LR_NULL_INTF "Null0"

extern "C" {
// Condition callbacks: they mark the rows of a condition table that apply.
YMAP_EXPORT ymap_result oc_nexthops_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                         ymap_cond_entry *rows);
YMAP_EXPORT ymap_result oc_index_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                      ymap_cond_entry *rows);
YMAP_EXPORT ymap_result oc_metric_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                       ymap_cond_entry *rows);
// Writes the route's tag onto the native entry the current next-hop uses.
YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_settag_v2)(yfw_map_ctx *ctx,
                                                                         yfw_map_node *node,
                                                                         yfw_map_datatree *tree);
}

namespace oc_lr {

using native_path = char[OC_LR_NATIVE_PATH];

inline oc_lr_prefix_type *record_of(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr ? static_cast<oc_lr_prefix_type *>(ctx->req_ctx->common_data_ptr)
                                   : nullptr;
}

inline bool is_read(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr && (ctx->req_ctx->req_type == YFW_REQ_READ_CONFIG ||
                                       ctx->req_ctx->req_type == YFW_REQ_READ_STATE);
}

inline bool walk_all(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr && ctx->req_ctx->walk_all != 0;
}

inline bool same_text(const char *a, const char *b) {
    return a != nullptr && b != nullptr && yfw_map_do_these_match(a, b);
}

inline bool has_text(const char *s) {
    return s != nullptr && s[0] != '\0';
}

// out = base + suffix, bounded to the native path buffer.
inline void join_path(native_path &out, const char *base, const char *suffix) {
    ymap::copy_pieces(out, sizeof out, {base, suffix});
}

inline void join_path(native_path &out, const char *base, const char *list, const char *leaf) {
    ymap::copy_pieces(out, sizeof out, {base, list, leaf});
}

// Adds one native path. bound: the request node whose operation applies to
// the path, or none; entry: the path is a new list entry.
inline ymap_result add_native(yfw_map_ctx *ctx, yfw_map_datatree *tree, const char *path,
                              const char *value, yfw_map_node *bound, bool entry = false,
                              uint32_t flag2 = 0) {
    return yfw_map_datatree_add_path_flagged(ctx, tree, path, OC_LR_NATIVE_NAMESPACE, value, bound,
                                             nullptr, entry ? 1 : 0, static_cast<int>(flag2));
}

// Which native list the existing entry (as the index lookup found it) is in.
enum class existing_list { none, interface, both, address };

inline existing_list existing_of(const oc_lr_prefix_type &rec) {
    if (rec.old_has_addr && rec.old_has_intf) return existing_list::both;
    if (rec.old_has_intf) return existing_list::interface;
    if (rec.old_has_addr) return existing_list::address;
    return existing_list::none;
}

// The native interface text of a next-hop: the OpenConfig interface and,
// unless it is 0, a dot and the subinterface. The OpenConfig interface
// itself carries no dot; false when it does.
inline bool build_intf_text(char (&out)[OC_LR_INTF_NAME_TEXT], const char *name,
                            const char *subintf) {
    out[0] = '\0';
    if (name == nullptr) return true;
    if (strchr(name, '.') != nullptr) return false;
    strncpy_s(out, sizeof out, name, sizeof out - 1);
    if (has_text(subintf) && strcmp(subintf, "0") != 0) {
        strcat_s(out, sizeof out, ".");
        strcat_s(out, sizeof out, subintf);
    }
    return true;
}

// A temporary or lasting change of a request node's operation is always
// marked, so the host knows the operation is no longer the client's.
inline void rewrite_operation(yfw_map_node *node, uint32_t op) {
    node->operation = op;
    node->flags |= YFW_NODE_OP_REWRITTEN;
}

}  // namespace oc_lr

#endif
