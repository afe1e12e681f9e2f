// Native static-route data to OpenConfig: the hand-written callbacks behind
// the generated forwarding handlers of the default VRF's unicast prefix
// lists (IPv4 and IPv6), their three mapped next-hop lists, and the leaves
// that carry the route's prefix, the next-hop's key and target, its
// interface reference and the route tag. Everything else in the native tree
// is walked by generated handlers that produce nothing.
//
// A native next-hop has no OpenConfig index of its own, so its OpenConfig
// key is synthesised from its native keys in the auto-index form that the
// OpenConfig side resolves when a later edit names that next-hop:
// "**" intf "**", "**" addr "**", "**" intf "**" addr "**", and
// "**oc-loc-rt:DROP**" for the drop interface.
//
// Texts that do not fit their buffers are refused: the callback reports the
// leaf and the lengths, sets the error tag to the leaf, adds nothing for it
// and answers 0xaaf29e00, which ends the walk. Cutting them would be worse
// than failing: a cut auto index can equal the key of another next-hop of
// the same route and silently merge the two, and a cut subinterface names a
// different subinterface. Skipping the leaf quietly would leave an
// OpenConfig next-hop without its key. Valid native data never comes near
// the limits (addresses are at most 45 characters, interface names far
// below 120), so only broken or hostile data meets the refusal.
#include "ymap_ocstatic_velmo_ornat_ip_static_cfg_man.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_text.h"

#define OC_LR_XO_STATIC "/local-routes/static-routes/static"
#define OC_LR_XO_NEXT_HOP OC_LR_XO_STATIC "/next-hops/next-hop"
#define OC_LR_XO_PREFIX_LIST(af) \
    "/router-static/default-vrf/address-family/" af "/vrf-unicast/vrf-prefixes/vrf-prefix"

namespace {

constexpr const char *drop_interface = "Null0";
constexpr const char *drop_next_hop = "oc-loc-rt:DROP";
constexpr const char *local_link_next_hop = "oc-loc-rt:LOCAL_LINK";
constexpr const char *drop_index = "**oc-loc-rt:DROP**";

constexpr size_t prefix_text_size = 100;
constexpr size_t subinterface_text_size = 10;
constexpr size_t auto_index_size = OC_LR_AUTO_INDEX;
constexpr size_t mark_len = 2;  // the "**" framing the parts of an auto index

// What differs between the IPv4 and IPv6 callbacks.
struct family {
    const char *prefix_list;     // where the entry's prefix-length is looked up
    bool next_hop_before_index;  // order of the combined list's configuration adds
};
constexpr family ipv4{OC_LR_XO_PREFIX_LIST("vrfipv4"), false};
constexpr family ipv6{OC_LR_XO_PREFIX_LIST("vrfipv6"), true};

// The OpenConfig leaves written for one view of a route and its next-hop.
struct oc_view {
    const char *prefix;
    const char *set_tag;
    const char *index;
    const char *next_hop;
    const char *interface;
    const char *subinterface;
};
constexpr oc_view config_view{
    OC_LR_XO_STATIC "/config/prefix",
    OC_LR_XO_STATIC "/config/set-tag",
    OC_LR_XO_NEXT_HOP "/config/index",
    OC_LR_XO_NEXT_HOP "/config/next-hop",
    OC_LR_XO_NEXT_HOP "/interface-ref/config/interface",
    OC_LR_XO_NEXT_HOP "/interface-ref/config/subinterface",
};
constexpr oc_view state_view{
    OC_LR_XO_STATIC "/state/prefix",
    OC_LR_XO_STATIC "/state/set-tag",
    OC_LR_XO_NEXT_HOP "/state/index",
    OC_LR_XO_NEXT_HOP "/state/next-hop",
    OC_LR_XO_NEXT_HOP "/interface-ref/state/interface",
    OC_LR_XO_NEXT_HOP "/interface-ref/state/subinterface",
};

// The adds of one callback. Configuration leaves go out only when the
// host's configuration-output test lets them through and state leaves only
// in reads with state, the same rule the generated leaf mappings follow.
// The callback answers with the result of its last add.
struct oc_adds {
    yfw_map_ctx *ctx;
    yfw_map_datatree *tree;
    bool config;
    bool state;
    ymap_result rc = YMAP_OK;

    oc_adds(yfw_map_ctx *c, yfw_map_datatree *t)
        : ctx(c),
          tree(t),
          config(yfw_map_config_output(c) != 0),
          state(c->req_ctx != nullptr && c->req_ctx->req_type == YFW_REQ_READ_STATE) {}

    void add(const char *path, const char *value) {
        rc = yfw_map_datatree_add_path_flagged(ctx, tree, path, OC_LR_OC_NAMESPACE, value, nullptr,
                                               nullptr, 0, 0);
    }

    template <typename F>
    void each_view(F fn) {
        if (config) fn(config_view);
        if (state) fn(state_view);
    }

    // The next-hop's list key is written with either view's index: a
    // state-only read still needs the entry's key.
    void index(const oc_view &v, const char *text) {
        add(OC_LR_XO_NEXT_HOP "/index", text);
        add(v.index, text);
    }
};

bool has_value(const yfw_map_node *node) {
    return node->value != nullptr && node->value[0] != '\0';
}

// False, reported and tagged, when a text of len characters would not fit
// where at most max go.
bool fits(ymap::frame &fr, const yfw_map_node *node, const char *what, size_t len, size_t max) {
    if (len <= max) return true;
    YMAP_ERR(fr, "Value of %s is too long: %zu characters, at most %zu", what, len, max);
    ymap::set_error_tag(fr.ctx, node->tag);
    return false;
}

oc_lr_prefix_type *working_record(yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr ? static_cast<oc_lr_prefix_type *>(ctx->req_ctx->common_data_ptr)
                                   : nullptr;
}

// The record belongs to the request context once stored there; the host
// frees it with the request.
oc_lr_prefix_type *working_record_or_new(yfw_map_ctx *ctx) {
    if (ctx->req_ctx == nullptr) return nullptr;
    if (ctx->req_ctx->common_data_ptr == nullptr)
        ctx->req_ctx->common_data_ptr = calloc(1, sizeof(oc_lr_prefix_type));
    return working_record(ctx);
}

// ---------------------------------------------------------------- interfaces
//
// A native interface name may carry its subinterface after a dot
// ("eth1/0.100"); OpenConfig keeps the two apart. The name ends at the first
// dot after its first character, so leading dots stay part of the name.

struct interface_parts {
    char *dot;  // where the name ends inside the node's value; none without subinterface
    bool ok;
};

// Finds the split and checks that the name (within max_name characters,
// the room its index text leaves) and the subinterface fit.
interface_parts check_interface(ymap::frame &fr, const yfw_map_node *node, size_t max_name) {
    const char *p = node->value;
    while (*p == '.') ++p;
    // The host's texts are its own writable copies; the cut below is how the
    // rest of this entry's adds see the name without its subinterface.
    char *dot = *p != '\0' ? const_cast<char *>(strchr(p + 1, '.')) : nullptr;
    bool ok = fits(fr, node, "interface-name", strlen(node->value), max_name) &&
              (dot == nullptr ||
               fits(fr, node, "subinterface", strlen(dot + 1), subinterface_text_size - 1));
    return {dot, ok};
}

// Ends the node's value at the interface name and fills the subinterface
// text, "0" when there is none.
void cut_interface(const interface_parts &parts, char (&subinterface)[subinterface_text_size]) {
    memset(subinterface, 0, sizeof subinterface);
    const char *rest = "";
    if (parts.dot != nullptr) {
        *parts.dot = '\0';
        rest = parts.dot + 1;
    }
    if (*rest == '\0') rest = "0";
    strncpy_s(subinterface, sizeof subinterface, rest, sizeof subinterface - 1);
}

// ---------------------------------------------------------------- bodies

// An empty native root still reads back as an (empty) static-routes
// container; a non-empty one gets it through the routes found below.
ymap_result root_container(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count,
                           yfw_map_datatree *tree, const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    if (child_count != 0) {
        YMAP_TRC(fr, "No mapping done for this node");
    } else {
        YMAP_TRC(fr, "No subtrees");
        rc = yfw_map_datatree_add_path_flagged(ctx, tree, "/local-routes/static-routes",
                                               OC_LR_OC_NAMESPACE, nullptr, nullptr, nullptr, 0, 0);
    }
    YMAP_END(fr);
    return rc;
}

// One OpenConfig list entry per native entry. Its key leaves come from the
// native leaves walked next. A native delete is passed on as the entry's
// request node so the host can apply it to the OpenConfig entry.
ymap_result list_entry(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                       const char *name, const char *oc_list) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    yfw_map_node *bound = yfw_map_is_request_delete(node) ? node : nullptr;
    ymap_result rc = yfw_map_datatree_add_path_flagged(ctx, tree, oc_list, OC_LR_OC_NAMESPACE,
                                                       nullptr, bound, nullptr, 1, 0);
    YMAP_END(fr);
    return rc;
}

// OpenConfig keys a route by "prefix/length"; the native entry holds the two
// apart. A native entry without prefix-length (only a hand-made document
// lacks that key) keeps its bare prefix, so the route stays visible instead
// of collapsing onto an empty key.
ymap_result prefix_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                        const char *name, const family &af) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_adds out(ctx, tree);
    if (has_value(node)) {
        const char *length = nullptr;
        (void)yfw_map_get_node_info(ctx, af.prefix_list, "prefix-length", &length);
        size_t len = strlen(node->value) + (length != nullptr ? 1 + strlen(length) : 0);
        char text[prefix_text_size];
        if (fits(fr, node, "prefix and prefix-length", len, sizeof text - 1)) {
            if (length != nullptr)
                ymap::join_text(text, {node->value, "/", length});
            else
                ymap::join_text(text, {node->value});
            if (out.config) {
                out.add(OC_LR_XO_STATIC "/prefix", text);
                out.add(config_view.prefix, text);
            }
            if (out.state) out.add(state_view.prefix, text);
        } else {
            out.rc = YMAP_ERR_BAD_REQUEST;
        }
    }
    YMAP_END(fr);
    return out.rc;
}

// The length reaches OpenConfig through the prefix text.
ymap_result prefix_length_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                               const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    YMAP_END(fr);
    return YMAP_OK;
}

// An interface-only native next-hop reads back as a LOCAL_LINK next-hop
// with its interface reference; the drop interface as a DROP next-hop
// without one.
ymap_result interface_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                           const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    if (!has_value(node)) return YMAP_OK;
    oc_adds out(ctx, tree);
    interface_parts parts = check_interface(fr, node, auto_index_size - 1 - 2 * mark_len);
    if (parts.ok) {
        char index[auto_index_size];
        if (strcmp(node->value, drop_interface) == 0)
            ymap::join_text(index, {drop_index});
        else
            ymap::join_text(index, {"**", node->value, "**"});
        char subinterface[subinterface_text_size];
        cut_interface(parts, subinterface);
        const char *intf = node->value;
        bool drop = strcmp(intf, drop_interface) == 0;
        out.each_view([&](const oc_view &v) { out.index(v, index); });
        out.each_view([&](const oc_view &v) {
            out.add(v.next_hop, drop ? drop_next_hop : local_link_next_hop);
            if (!drop) {
                out.add(v.interface, intf);
                out.add(v.subinterface, subinterface);
            }
        });
    } else {
        out.rc = YMAP_ERR_BAD_REQUEST;
    }
    YMAP_END(fr);
    return out.rc;
}

// The combined list's key needs both leaves, but each arrives in its own
// call: the interface writes the partial index "**" intf and leaves it in
// the working record, where the entry's next-hop-address completes it.
ymap_result combined_interface_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                                    const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    if (!has_value(node)) return YMAP_OK;
    oc_adds out(ctx, tree);
    interface_parts parts = check_interface(fr, node, auto_index_size - 1 - mark_len);
    if (parts.ok) {
        oc_lr_prefix_type *rec = working_record_or_new(ctx);
        if (rec == nullptr) {
            YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
            return YMAP_OK;
        }
        memset(rec->auto_index, 0, sizeof rec->auto_index);
        ymap::join_text(rec->auto_index, {"**", node->value});
        char subinterface[subinterface_text_size];
        cut_interface(parts, subinterface);
        out.each_view([&](const oc_view &v) { out.index(v, rec->auto_index); });
        out.each_view([&](const oc_view &v) {
            out.add(v.interface, node->value);
            out.add(v.subinterface, subinterface);
        });
    } else {
        out.rc = YMAP_ERR_BAD_REQUEST;
    }
    YMAP_END(fr);
    return out.rc;
}

// Completes the partial index of the same entry's interface. The partial
// index is consumed here, so an address whose entry showed no interface
// first is refused rather than given another entry's interface.
ymap_result combined_address_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                                  const char *name, const family &af) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_adds out(ctx, tree);
    oc_lr_prefix_type *rec = working_record(ctx);
    if (!has_value(node)) {
        // Nothing to key or point at; the entry keeps its partial index.
    } else if (rec == nullptr || strncmp(rec->auto_index, "**", mark_len) != 0) {
        YMAP_ERR(fr, "No interface-name before next-hop-address %s in its entry", node->value);
        ymap::set_error_tag(ctx, node->tag);
        out.rc = YMAP_ERR_BAD_REQUEST;
    } else if (fits(fr, node, "interface-name and next-hop-address",
                    strlen(rec->auto_index) - mark_len + strlen(node->value),
                    auto_index_size - 1 - 3 * mark_len)) {
        // Checked above to fit; bounded all the same.
        char index[auto_index_size];
        ymap::join_text(index, {rec->auto_index, "**", node->value, "**"});
        memset(rec->auto_index, 0, sizeof rec->auto_index);
        if (out.config) {
            if (af.next_hop_before_index) out.add(config_view.next_hop, node->value);
            out.index(config_view, index);
            if (!af.next_hop_before_index) out.add(config_view.next_hop, node->value);
        }
        if (out.state) {
            out.index(state_view, index);
            out.add(state_view.next_hop, node->value);
        }
    } else {
        out.rc = YMAP_ERR_BAD_REQUEST;
    }
    YMAP_END(fr);
    return out.rc;
}

ymap_result address_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                         const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_adds out(ctx, tree);
    if (!has_value(node)) {
        // Nothing to key or point at.
    } else if (fits(fr, node, "next-hop-address", strlen(node->value),
                    auto_index_size - 1 - 2 * mark_len)) {
        char index[auto_index_size];
        ymap::join_text(index, {"**", node->value, "**"});
        out.each_view([&](const oc_view &v) {
            out.index(v, index);
            out.add(v.next_hop, node->value);
        });
    } else {
        out.rc = YMAP_ERR_BAD_REQUEST;
    }
    YMAP_END(fr);
    return out.rc;
}

// The native tag sits on each next-hop, OpenConfig has one per route: every
// tagged next-hop writes the route's set-tag again.
ymap_result tag_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                     const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_adds out(ctx, tree);
    if (has_value(node)) out.each_view([&](const oc_view &v) { out.add(v.set_tag, node->value); });
    YMAP_END(fr);
    return out.rc;
}

}  // namespace

extern "C" {

// /router-static
ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_cont_lvla_routerstatic(
    yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count, yfw_map_datatree *tree) {
    return root_container(ctx, node, child_count, tree, __func__);
}

// /router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix
ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvle_routerstatic_vrfprefixes_vrfprefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_STATIC);
}

// /router-static/default-vrf/address-family/vrfipv6/vrf-unicast/vrf-prefixes/vrf-prefix
ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlg_routerstatic_vrfprefixes_vrfprefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_STATIC);
}

// <vrfipv4 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv4 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name-next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv4 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv6 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv6 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name-next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv6 prefix>/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return list_entry(ctx, node, tree, __func__, OC_LR_XO_NEXT_HOP);
}

// <vrfipv4 prefix>/prefix
ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvle_routerstatic_vrfprefix_prefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return prefix_leaf(ctx, node, tree, __func__, ipv4);
}

// <vrfipv6 prefix>/prefix
ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlg_routerstatic_vrfprefix_prefix(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return prefix_leaf(ctx, node, tree, __func__, ipv6);
}

// <vrfipv4 prefix>/prefix-length
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvle_routerstatic_vrfprefix_prefixlength(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return prefix_length_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 prefix>/prefix-length
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlg_routerstatic_vrfprefix_prefixlength(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return prefix_length_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-interface-name/interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return interface_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-interface-name/interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacename_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return interface_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-interface-name-next-hop-address/interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return combined_interface_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-interface-name-next-hop-address/interface-name
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return combined_interface_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-interface-name-next-hop-address/next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return combined_address_leaf(ctx, node, tree, __func__, ipv4);
}

// <vrfipv6 next-hop table>/vrf-next-hop-interface-name-next-hop-address/next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return combined_address_leaf(ctx, node, tree, __func__, ipv6);
}

// <vrfipv4 next-hop table>/vrf-next-hop-next-hop-address/next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return address_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-next-hop-address/next-hop-address
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_nexthopaddress(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return address_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-interface-name/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacename_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-interface-name/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacename_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-interface-name-next-hop-address/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-interface-name-next-hop-address/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}

// <vrfipv4 next-hop table>/vrf-next-hop-next-hop-address/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}

// <vrfipv6 next-hop table>/vrf-next-hop-next-hop-address/tag
ymap_result
ymap_xo_ocstatic_velmoornatipstaticcfg_man_leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_tag(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return tag_leaf(ctx, node, tree, __func__);
}
}
