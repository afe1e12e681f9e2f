// Utilities of the OpenConfig-to-native callbacks: the configuration
// database binding, the working record's per-next-hop reset, native path
// builders, carried-over next-hop attributes, interface-name forms, and the
// lookups that tell an edit what is already configured.
//
// OpenConfig keys next-hops by a free-text index while the native model keys
// them by interface and/or address, and keeps a tag per next-hop where
// OpenConfig has one per route. An edit can only be translated against what
// is stored, so the lookups read the database directly and leave what they
// found in the working record for the callbacks.
#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <string_view>

#include "oc_lr_types.h"
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"
#include "ymap_ocstatic_openconfig_local_routing_man_util.h"
#include "ymap_text.h"

extern "C" {

sysdb_connid_t ip_static_sysdb_connid = nullptr;
uint32_t ipstatic_init_done = 0;
}

namespace {

// Set once the database library was found; later bindings skip the test.
uint32_t sysdb_library_present = 0;

// ---------------------------------------------------------------- constants

constexpr char absent_component[] = "________";
constexpr char nexthop_drop[] = "oc-loc-rt:DROP";
constexpr char nexthop_local_link[] = "oc-loc-rt:LOCAL_LINK";
// A stored number field that still holds this after decoding is absent.
constexpr uint32_t absent_number = 0xffffffffu;
// What a lookup answers when the prefix cannot be put into key form.
constexpr uint32_t no_key_form = 0xffffffffu;
constexpr char tuple_format[] = "%d%d%d%d%d%d%d%d%s%s%d%s";

// A native path below a family's container, spelled out for both families:
// the callbacks ask for these on every next-hop leaf, and writing one is a
// single copy of a constant.
struct family_path {
    std::string_view ipv4;
    std::string_view ipv6;

    // out holds OC_LR_NATIVE_PATH bytes, which every path here fits.
    void copy(uint32_t is_ipv4, char *out) const {
        const std::string_view text = is_ipv4 != 0 ? ipv4 : ipv6;
        memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
    }
};

#define OC_LR_UTIL_BASE "/router-static/default-vrf/address-family/"
#define OC_LR_UTIL_TABLE "/vrf-unicast/vrf-prefixes/vrf-prefix/vrf-route/vrf-next-hop-table"
#define OC_LR_UTIL_PATH(piece)                                           \
    family_path {                                                        \
        OC_LR_UTIL_BASE "vrfipv4" piece, OC_LR_UTIL_BASE "vrfipv6" piece \
    }
constexpr family_path family_container = OC_LR_UTIL_PATH("");
constexpr family_path prefix_list = OC_LR_UTIL_PATH("/vrf-unicast/vrf-prefixes/vrf-prefix");
constexpr family_path nexthop_table = OC_LR_UTIL_PATH(OC_LR_UTIL_TABLE);
constexpr family_path list_both =
    OC_LR_UTIL_PATH(OC_LR_UTIL_TABLE "/vrf-next-hop-interface-name-next-hop-address");
constexpr family_path list_intf = OC_LR_UTIL_PATH(OC_LR_UTIL_TABLE "/vrf-next-hop-interface-name");
constexpr family_path list_addr =
    OC_LR_UTIL_PATH(OC_LR_UTIL_TABLE "/vrf-next-hop-next-hop-address");
#undef OC_LR_UTIL_PATH
#undef OC_LR_UTIL_TABLE
#undef OC_LR_UTIL_BASE
static_assert(list_both.ipv4.size() < OC_LR_NATIVE_PATH &&
                  list_both.ipv6.size() < OC_LR_NATIVE_PATH,
              "the longest family path must fit a native path buffer");

// The longest leaf suffix set_metadata_path appends to an entry path.
constexpr size_t longest_leaf_suffix = sizeof "/detect-multiplier" - 1;

oc_lr_prefix_type *working_record(const yfw_map_ctx *ctx) {
    return ctx->req_ctx != nullptr ? static_cast<oc_lr_prefix_type *>(ctx->req_ctx->common_data_ptr)
                                   : nullptr;
}

bool matches(const char *a, const char *b) {
    return a != nullptr && b != nullptr && yfw_map_do_these_match(a, b) != 0;
}

bool has_text(const char *s) {
    return s != nullptr && s[0] != '\0';
}

// Decimal text as the request and the working record carry it (tag, metric).
uint32_t decimal_value(const char *text) {
    return text != nullptr ? static_cast<uint32_t>(strtoul(text, nullptr, 10)) : 0;
}

// ---------------------------------------------------------------- request tree

// Children a scan may visit. The framework marks a node's children valid;
// an unmarked node is treated as childless, while a count without an array
// means the tree is broken and the scan gives up.
enum class children { none, some, broken };

children children_of(const yfw_map_node *node) {
    if (node == nullptr || (node->flags & YFW_NODE_CHILDREN_VALID) == 0 || node->child_count == 0)
        return children::none;
    return node->children != nullptr ? children::some : children::broken;
}

// The value of the entry's "index" child, or null when the entry has no
// children, no such child, or the child no value.
const char *index_value(const yfw_map_node *node) {
    if (children_of(node) != children::some) return nullptr;
    for (uint32_t i = 0; i < node->child_count; ++i) {
        const yfw_map_node &c = node->children[i];
        if (matches(c.tag, "index")) return has_text(c.value) ? c.value : nullptr;
    }
    return nullptr;
}

uint32_t scan_interface(oc_lr_prefix_type &rec, const yfw_map_node *node) {
    if (children_of(node) != children::some) return 0;
    for (uint32_t i = 0; i < node->child_count; ++i) {
        const yfw_map_node &ref = node->children[i];
        if (ref.tag == nullptr) return 0;
        if (!matches(ref.tag, "interface-ref")) continue;
        if (ref.operation == YFW_OP_DELETE) {
            rec.intf_deleted = 1;
            rec.intf_set = 0;
            continue;
        }
        children ref_kids = children_of(&ref);
        if (ref_kids == children::broken) return 0;
        if (ref_kids == children::none) continue;
        for (uint32_t j = 0; j < ref.child_count; ++j) {
            const yfw_map_node &config = ref.children[j];
            if (config.tag == nullptr) return 0;
            if (!matches(config.tag, "config")) continue;
            if (config.operation == YFW_OP_DELETE) {
                rec.intf_deleted = 1;
                rec.intf_set = 0;
                continue;
            }
            if ((config.flags & YFW_NODE_CHILDREN_VALID) == 0) continue;
            if (children_of(&config) == children::broken) return 0;
            for (uint32_t k = 0; k < config.child_count && config.children != nullptr; ++k) {
                const yfw_map_node &leaf = config.children[k];
                if (leaf.tag == nullptr) return 0;
                if (matches(leaf.tag, "interface")) {
                    if (leaf.value != nullptr) {
                        rec.intf_name = leaf.value;
                        rec.intf_set = 1;
                    }
                    if (leaf.operation == YFW_OP_DELETE) {
                        rec.intf_deleted = 1;
                        rec.intf_set = 0;
                    }
                } else if (matches(leaf.tag, "subinterface")) {
                    if (leaf.operation == YFW_OP_DELETE)
                        rec.subintf_deleted = 1;
                    else if (leaf.value != nullptr)
                        rec.subintf = leaf.value;
                }
            }
            if (rec.intf_set != 0) return 1;
        }
    }
    return 0;
}

uint32_t scan_next_hop(oc_lr_prefix_type &rec, const yfw_map_node *node) {
    if (children_of(node) != children::some) return 0;
    for (uint32_t i = 0; i < node->child_count; ++i) {
        const yfw_map_node &c = node->children[i];
        if (c.tag == nullptr) return 0;
        if (matches(c.tag, "index")) {
            rec.index = c.value;
            continue;
        }
        if (!matches(c.tag, "config")) continue;
        children config_kids = children_of(&c);
        if (config_kids == children::broken) return 0;
        if ((c.flags & YFW_NODE_CHILDREN_VALID) == 0) continue;
        for (uint32_t k = 0; k < c.child_count && c.children != nullptr; ++k) {
            const yfw_map_node &leaf = c.children[k];
            if (leaf.tag == nullptr) return 0;
            if (matches(leaf.tag, "next-hop")) {
                if (leaf.operation == YFW_OP_DELETE) {
                    rec.nexthop_deleted = 1;
                    rec.nexthop_set = 0;
                    rec.is_drop = 0;
                    rec.is_local_link = 0;
                } else {
                    rec.nexthop = leaf.value;
                    if (matches(leaf.value, nexthop_drop))
                        rec.is_drop = 1;
                    else if (matches(leaf.value, nexthop_local_link))
                        rec.is_local_link = 1;
                    rec.nexthop_set = 1;
                }
            } else if (matches(leaf.tag, "metric")) {
                if (leaf.operation == YFW_OP_DELETE)
                    rec.metric_deleted = 1;
                else
                    rec.metric = leaf.value;
            }
        }
        // A local-link next-hop is interface-only: it names no next-hop value.
        if (rec.is_local_link != 0) return 0;
        if (rec.nexthop_set != 0) return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- database

void bind_on_first_use() {
    if (ipstatic_init_done == 0) {
        // A failed binding is not reported here: the searches fail instead
        // and report with the database's own error text.
        yfw_ipstatic_init();
        ipstatic_init_done = 1;
    }
}

// One search's entries; released on every way out of a lookup.
struct entry_list {
    sysdb_datalist *list = nullptr;
    uint32_t count = 0;

    entry_list() = default;
    entry_list(const entry_list &) = delete;
    entry_list &operator=(const entry_list &) = delete;
    ~entry_list() { release(); }

    void release() {
        if (list != nullptr) sysdb_datalist_free(list);
        list = nullptr;
        count = 0;
    }

    uint32_t search(const char *pattern) {
        release();
        bind_on_first_use();
        uint32_t rc = sysdb_find_data(ip_static_sysdb_connid, pattern, "", &count, &list, 4, 0);
        // The count of a failed search means nothing; a list it may have
        // left is still released with the others.
        if (rc != SYSDB_OK) count = 0;
        return rc;
    }
};

// One stored next-hop: its path and its decoded tuple. The initial values
// are what a field keeps when the tuple lacks it.
struct stored_next_hop {
    char *path = nullptr;
    uint32_t bfd_fast_detect = 0;
    uint32_t minimum_interval = absent_number;
    uint32_t detect_multiplier = absent_number;
    uint32_t metric = absent_number;
    uint32_t tag = 0;
    uint32_t permanent = 0;
    uint32_t vrf_label = OC_LR_NO_VRF_LABEL;
    uint32_t tunnel_id = 0;
    const char *object_name = "";
    const char *description = "";
    uint32_t load_metric = absent_number;
    const char *index = "";
};

uint32_t read_next(entry_list &found, stored_next_hop &e) {
    e = stored_next_hop{};
    void *data = nullptr;
    uint32_t type = 0, len = 0, reserved = 0;
    uint32_t rc = sysdb_datalist_next(found.list, &e.path, &type, &data, &len, &reserved);
    if (rc != SYSDB_OK) return rc;
    if (e.path == nullptr || data == nullptr) return SYSDB_ERR_BAD_TUPLE;
    return tuple_unpack(data, tuple_format, &e.bfd_fast_detect, &e.minimum_interval,
                        &e.detect_multiplier, &e.metric, &e.tag, &e.permanent, &e.vrf_label,
                        &e.tunnel_id, &e.object_name, &e.description, &e.load_metric, &e.index);
}

// The next-hop key: the last element of an entry path, split at its commas
// into interface (internal form), address (hexadecimal) and explicit path.
struct key_parts {
    char text[OC_LR_NATIVE_PATH];
    const char *intf = nullptr;
    const char *addr = nullptr;
    const char *path = nullptr;
};

// The key is split with strtok_r rather than strtok: same splitting (runs
// of separators collapse, empty pieces vanish), but no process-wide state
// that another caller on the host's thread could disturb between pieces.
bool split_key(const char *entry_path, key_parts &k) {
    if (entry_path == nullptr) return false;
    if (strcpy_s(k.text, sizeof k.text, entry_path + get_length(entry_path)) != 0) return false;
    char *save = nullptr;
    k.intf = strtok_r(k.text, ",", &save);
    k.addr = k.intf != nullptr ? strtok_r(nullptr, ",", &save) : nullptr;
    k.path = k.addr != nullptr ? strtok_r(nullptr, ",", &save) : nullptr;
    return true;
}

bool present(const char *component) {
    return component != nullptr && strcmp(component, absent_component) != 0;
}

// A present key component in the form the native tree carries: external
// interface name, printable address. False when it does not fit or, for an
// address, is not one.
bool external_interface(const char *component, char (&out)[OC_LR_INTF_TEXT + 1]) {
    if (strcpy_s(out, sizeof out, component) != 0) return false;
    get_external_ifname(out);
    return true;
}

bool printable_address(const char *component, char (&out)[OC_LR_ADDR_TEXT]) {
    const char *text = get_ip_string(component);
    return has_text(text) && strcpy_s(out, sizeof out, text) == 0;
}

// Copies a stored next-hop into the record: its key into the old-entry
// fields and its tuple into the attribute block. A stored text that does not
// fit its record field is refused rather than cut, because a cut interface
// or description would be written back as a different one.
ymap_result copy_stored(ymap::frame &fr, oc_lr_prefix_type &rec, const stored_next_hop &e) {
    key_parts k;
    bool ok = split_key(e.path, k);
    if (ok) {
        ok = strcpy_s(rec.old_intf, sizeof rec.old_intf, k.intf != nullptr ? k.intf : "") == 0 &&
             strcpy_s(rec.old_addr, sizeof rec.old_addr, k.addr != nullptr ? k.addr : "") == 0 &&
             strcpy_s(rec.old_path, sizeof rec.old_path, k.path != nullptr ? k.path : "") == 0;
    }
    if (ok && present(k.intf)) {
        rec.old_has_intf = 1;
        get_external_ifname(rec.old_intf);
    }
    if (ok && present(k.addr)) {
        rec.old_has_addr = 1;
        ok = printable_address(k.addr, rec.old_addr);
    }
    if (ok && present(k.path)) rec.old_has_path = 1;
    if (ok) {
        rec.bfd_fast_detect = e.bfd_fast_detect;
        rec.permanent = e.permanent;
        if (rec.tag_deleted == 0) {
            rec.tag_value = e.tag;
            // The route's tag of this request wins over the stored one.
            if (rec.tag_text[0] != '\0') rec.tag_value = decimal_value(rec.tag_text);
        }
        rec.vrf_label = e.vrf_label;
        rec.tunnel_id = e.tunnel_id;
        ok = strcpy_s(rec.object_name, sizeof rec.object_name, e.object_name) == 0 &&
             strcpy_s(rec.description, sizeof rec.description, e.description) == 0;
    }
    if (ok) {
        if (e.detect_multiplier != absent_number) rec.detect_multiplier = e.detect_multiplier;
        if (e.minimum_interval != absent_number) rec.minimum_interval = e.minimum_interval;
        if (e.metric != absent_number && rec.metric_deleted == 0) rec.metric_value = e.metric;
        if (rec.metric != nullptr) rec.metric_value = decimal_value(rec.metric);
        if (e.load_metric != absent_number) rec.load_metric = e.load_metric;
        return YMAP_OK;
    }
    YMAP_ERR(fr, "Stored next-hop %s does not fit the working record", e.path ? e.path : "");
    return YMAP_ERR_BAD_REQUEST;
}

// ---------------------------------------------------------------- route pattern

struct route_pattern {
    char address[OC_LR_ADDR_TEXT];  // printable prefix address, for traces
    char text[OC_LR_NATIVE_PATH];
};

// The length must be plain decimal within the family's range: anything else
// names no stored route, and reading it leniently (as "1x" for 1) would
// search, and later rewrite, the next-hops of a different route.
bool parse_length(const char *text, uint32_t max, int32_t &out) {
    if (!has_text(text) || strspn(text, "0123456789") != strlen(text) || strlen(text) > 3)
        return false;
    unsigned long v = strtoul(text, nullptr, 10);
    if (v > max) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// The first two runs of the text without slashes, as strtok_r with "/"
// gives them: leading and repeated slashes vanish. Each run is ended in
// place; null when there is none.
void split_at_slashes(char *text, const char *&first, const char *&second) {
    auto next_run = [](char *&p) -> const char * {
        while (*p == '/') ++p;
        if (*p == '\0') return nullptr;
        char *run = p;
        while (*p != '\0' && *p != '/') ++p;
        if (*p == '/') *p++ = '\0';
        return run;
    };
    char *p = text;
    first = next_run(p);
    second = first != nullptr ? next_run(p) : nullptr;
}

// Builds the search pattern of the route's stored next-hops. A prefix
// without a length, with an unparsable address or with an impossible length
// cannot be put into key form.
uint32_t build_route_pattern_afresh(const oc_lr_prefix_type &rec, route_pattern &out) {
    out.address[0] = '\0';
    out.text[0] = '\0';
    char copy[OC_LR_ADDR_TEXT + 8];  // an IPv6 text, a slash and up to three digits
    if (strcpy_s(copy, sizeof copy, rec.prefix) != 0) return no_key_form;
    const char *address = nullptr;
    const char *length_text = nullptr;
    split_at_slashes(copy, address, length_text);
    if (address == nullptr || length_text == nullptr) return no_key_form;
    if (strcpy_s(out.address, sizeof out.address, address) != 0) return no_key_form;

    ip_addr_t a{};
    a.family = rec.is_ipv4 != 0 ? YMAP_AF_INET : YMAP_AF_INET6;
    // An address that does not parse would leave the all-zero address in the
    // record and search the default route's next-hops instead.
    if (inet_pton(rec.is_ipv4 != 0 ? AF_INET : AF_INET6, out.address, a.addr) != 1)
        return no_key_form;
    char hex[OC_LR_ADDR_TEXT];
    if (ip_addr2hex_string(&a, hex, sizeof hex) != 0) return no_key_form;

    int32_t length = 0;
    if (!parse_length(length_text, rec.is_ipv4 != 0 ? 32 : 128, length)) return no_key_form;
    char length_key[5];  // "0x" and at most two digits: 128 is 0x80
    const char *digits = dec_to_hex(length);
    if (ymap::copy_pieces(length_key, sizeof length_key,
                          {"0x", digits != nullptr ? digits : "0"}) != 0)
        return no_key_form;

    ymap::join_text(out.text, {rec.is_ipv4 != 0 ? "ipv4" : "ipv6", "/unicast/ord_c/default/route/",
                               hex, "/", length_key, "/.*,.*/nexthop/"});
    return YMAP_OK;
}

// The pattern depends on the prefix text and the family alone, and a route's
// next-hops and its tag ask for it one after another: the last one built on
// this thread is kept.
struct last_route_pattern {
    char prefix[OC_LR_ADDR_TEXT + 8];
    uint32_t is_ipv4;
    uint32_t rc;
    route_pattern pattern;
};
thread_local last_route_pattern last_pattern;

uint32_t build_route_pattern(const oc_lr_prefix_type &rec, route_pattern &out) {
    last_route_pattern &last = last_pattern;
    if (last.prefix[0] != '\0' && last.is_ipv4 == rec.is_ipv4 &&
        strcmp(last.prefix, rec.prefix) == 0) {
        out = last.pattern;
        return last.rc;
    }
    const uint32_t rc = build_route_pattern_afresh(rec, out);
    // A prefix too long to keep is simply built again next time.
    if (strcpy_s(last.prefix, sizeof last.prefix, rec.prefix) == 0) {
        last.is_ipv4 = rec.is_ipv4;
        last.rc = rc;
        last.pattern = out;
    }
    return rc;
}

// ---------------------------------------------------------------- index lookup

// An auto index: "**", then one or two parts separated by asterisks, "**".
struct auto_index {
    bool is_auto = false;  // the form, with a non-empty first part
    bool fits = true;      // short enough to name any stored next-hop
    char text[OC_LR_AUTO_INDEX];
    const char *first = nullptr;
    const char *second = nullptr;
};

void parse_auto_index(const char *index, auto_index &ai) {
    size_t n = strlen(index);
    if (n < 2 || strncmp(index, "**", 2) != 0 || strcmp(index + n - 2, "**") != 0) return;
    const char *inner = index + 2;
    // Only asterisks: the first part is empty and the index is a plain one.
    if (inner[strspn(inner, "*")] == '\0') return;
    ai.is_auto = true;
    // An interface of at most 64 bytes and an address, each between
    // asterisk pairs, stay well under the native index's 127 characters;
    // anything longer names no next-hop.
    if (strcpy_s(ai.text, sizeof ai.text, inner) != 0) {
        ai.fits = false;
        return;
    }
    char *save = nullptr;  // strtok_r for the same reason as in split_key
    ai.first = strtok_r(ai.text, "*", &save);
    ai.second = ai.first != nullptr ? strtok_r(nullptr, "*", &save) : nullptr;
}

bool auto_index_valid(yfw_map_ctx *ctx, const auto_index &ai) {
    return ai.fits && is_auto_index_valid(ctx, ai.first, ai.second) != 0;
}

// The search succeeded and the index is an auto index: find the stored
// next-hop it names by building that next-hop's key.
ymap_result auto_index_lookup(ymap::frame &fr, oc_lr_prefix_type &rec, const route_pattern &rp,
                              const char *index, const auto_index &ai, entry_list &found) {
    if (!ai.fits) {
        YMAP_TRC(fr, "Create of index %s rejected, as it contains ** at start & end", index);
        return YMAP_ERR_INVALID_ARGS;
    }
    const char *candidate = ai.second != nullptr ? ai.second : ai.first;
    ip_addr_t a{};
    a.family = rec.is_ipv4 != 0 ? YMAP_AF_INET : YMAP_AF_INET6;
    bool is_address = inet_pton(rec.is_ipv4 != 0 ? AF_INET : AF_INET6, candidate, a.addr) == 1;
    if (!is_address && ai.second != nullptr) {
        YMAP_TRC(fr, "Create of index %s rejected, as it contains ** at start & end", index);
        return YMAP_ERR_INVALID_ARGS;
    }

    char intf[OC_LR_INTF_TEXT + 1];
    char addr[OC_LR_ADDR_TEXT];
    strcpy_s(intf, sizeof intf, absent_component);
    strcpy_s(addr, sizeof addr, absent_component);
    // A longer interface than a key can hold names no stored next-hop; cut
    // to 64 bytes it could name another one.
    bool searchable = true;
    if (!is_address || ai.second != nullptr) {
        searchable = strlen(ai.first) <= OC_LR_INTF_TEXT;
        oc_lr_convert_to_internal_ifname(intf, ai.first);
    }
    if (is_address && ip_addr2hex_string(&a, addr, sizeof addr) != 0) searchable = false;

    found.release();
    char key_pattern[OC_LR_NATIVE_PATH];
    searchable = searchable && strcpy_s(key_pattern, sizeof key_pattern, rp.text) == 0 &&
                 strcat_s(key_pattern, sizeof key_pattern, intf) == 0 &&
                 strcat_s(key_pattern, sizeof key_pattern, ",") == 0 &&
                 strcat_s(key_pattern, sizeof key_pattern, addr) == 0 &&
                 strcat_s(key_pattern, sizeof key_pattern, ",") == 0 &&
                 strcat_s(key_pattern, sizeof key_pattern, absent_component) == 0;
    entry_list named;
    // Only whether an entry exists matters; a failed search means none.
    bool exists = searchable && named.search(key_pattern) == SYSDB_OK && named.count > 0;

    if (!exists) {
        if (auto_index_valid(fr.ctx, ai)) {
            YMAP_TRC(fr,
                     "Create of index %s accepted, as it contains ** at start & end& valid "
                     "nexthop data",
                     index);
            rec.index_known = 1;
            return YMAP_SYSDB_NOT_FOUND;
        }
        YMAP_TRC(fr,
                 "Create of index %s rejected, as it contains ** at start & end& invalid "
                 "nexthop data",
                 index);
        return YMAP_ERR_INVALID_ARGS;
    }

    YMAP_TRC(fr, "Modification/Delete received for CLI entry");
    stored_next_hop e;
    ymap_result rc = read_next(named, e);
    if (rc == YMAP_OK) rc = copy_stored(fr, rec, e);
    if (rc == YMAP_OK) rec.index_known = 1;
    return rc;
}

// The search succeeded and the index is a plain one: the stored next-hop
// whose own index leaf equals it.
ymap_result plain_index_lookup(ymap::frame &fr, oc_lr_prefix_type &rec, const char *index,
                               entry_list &found) {
    if (found.count == 0) return YMAP_OK;
    for (uint32_t i = 0; i < found.count; ++i) {
        stored_next_hop e;
        ymap_result rc = read_next(found, e);
        if (rc != YMAP_OK) return rc;
        if (e.index != nullptr && strcmp(e.index, index) == 0) return copy_stored(fr, rec, e);
        // The route's tag lives on each of its next-hops; the first one that
        // carries a tag gives it, unless the request sets or deletes it.
        if (rec.tag_text[0] == '\0' && e.tag != 0 && rec.tag_deleted == 0)
            snprintf(rec.tag_text, sizeof rec.tag_text, "%u", e.tag);
    }
    return YMAP_SYSDB_NOT_FOUND;
}

ymap_result index_lookup(ymap::frame &fr, oc_lr_prefix_type &rec, yfw_map_node *node) {
    route_pattern rp;
    if (build_route_pattern(rec, rp) != YMAP_OK) return no_key_form;
    const char *index = index_value(node);
    if (index == nullptr) {
        YMAP_ERR(fr, "Failed to get subtrees!");
        return YMAP_ERR_BAD_REQUEST;
    }

    entry_list found;
    uint32_t rc = found.search(rp.text);
    auto_index ai;
    parse_auto_index(index, ai);
    if (rc != SYSDB_OK) {
        YMAP_TRC(fr, "sysdb_find_data failed for prefix %s :(%s)\n", rp.address, cerr_strerror(rc));
        if (!ai.is_auto) return rc;
        if (auto_index_valid(fr.ctx, ai)) {
            YMAP_TRC(fr,
                     "Create of index %s accepted, as it contains ** at start & end & valid "
                     "nexthop data",
                     index);
            rec.index_known = 1;
            return rc;
        }
        YMAP_TRC(fr, "Create of index %s rejected, as it contains ** at start & end", index);
        return YMAP_ERR_INVALID_ARGS;
    }
    if (ai.is_auto) return auto_index_lookup(fr, rec, rp, index, ai, found);
    return plain_index_lookup(fr, rec, index, found);
}

// ---------------------------------------------------------------- set-tag

// Writes the route's tag onto one stored next-hop: its native entry, its
// keys and its tag leaf. Result of the tag insertion, 0 when the entry gets
// none.
ymap_result set_tag_on_entry(ymap::frame &fr, oc_lr_prefix_type &rec, yfw_map_node *node,
                             yfw_map_datatree *tree, const stored_next_hop &e) {
    yfw_map_ctx *ctx = fr.ctx;
    key_parts k;
    char intf[OC_LR_INTF_TEXT + 1] = "";
    char addr[OC_LR_ADDR_TEXT] = "";
    bool ok = split_key(e.path, k);
    const bool has_intf = ok && present(k.intf);
    const bool has_addr = ok && present(k.addr);
    if (ok && has_intf) ok = external_interface(k.intf, intf);
    if (ok && has_addr) ok = printable_address(k.addr, addr);
    if (!ok) {
        YMAP_ERR(fr, "Stored next-hop %s does not fit the working record", e.path ? e.path : "");
        return YMAP_ERR_BAD_REQUEST;
    }
    if (ctx->req_ctx->req_type == YFW_REQ_READ_CONFIG ||
        ctx->req_ctx->req_type == YFW_REQ_READ_STATE)
        return YMAP_OK;

    const bool deleting = yfw_map_is_request_delete(node) != 0;
    if (deleting) rec.tag_deleted = 1;
    const family_path *list = has_intf && has_addr ? &list_both
                              : has_addr           ? &list_addr
                              : has_intf           ? &list_intf
                                                   : nullptr;
    if (list == nullptr) return YMAP_OK;

    char entry[OC_LR_NATIVE_PATH];
    char leaf[OC_LR_NATIVE_PATH];
    list->copy(rec.is_ipv4, entry);

    // The entry and its keys must be created (not deleted) even when the
    // tag is deleted, so the node carries a plain operation for them and the
    // delete only for the tag leaf.
    if (deleting) {
        node->operation = YFW_OP_NONE;
        node->flags |= YFW_NODE_OP_REWRITTEN;
    }
    yfw_map_datatree_add_path_flagged(ctx, tree, entry, OC_LR_NATIVE_NAMESPACE, nullptr, node,
                                      nullptr, 1, 0);
    if (has_addr) {
        ymap::copy_pieces(leaf, sizeof leaf, {entry, "/next-hop-address"});
        yfw_map_datatree_add_path_flagged(ctx, tree, leaf, OC_LR_NATIVE_NAMESPACE, addr, nullptr,
                                          nullptr, 0, 0);
    }
    if (has_intf) {
        ymap::copy_pieces(leaf, sizeof leaf, {entry, "/interface-name"});
        yfw_map_datatree_add_path_flagged(ctx, tree, leaf, OC_LR_NATIVE_NAMESPACE, intf, nullptr,
                                          nullptr, 0, 0);
    }
    if (deleting) {
        node->operation = YFW_OP_DELETE;
        node->flags |= YFW_NODE_OP_REWRITTEN;
    }
    ymap::copy_pieces(leaf, sizeof leaf, {entry, "/tag"});
    return yfw_map_datatree_add_path_flagged(ctx, tree, leaf, OC_LR_NATIVE_NAMESPACE, rec.tag_text,
                                             node, nullptr, 0, 0);
}

// ---------------------------------------------------------------- set_metadata_path

struct metadata_writer {
    yfw_map_ctx *ctx;
    yfw_map_datatree *parent;
    const char *entry_path;
    ymap_result rc = YMAP_OK;

    void leaf(const char *suffix, const char *value) {
        char path[OC_LR_NATIVE_PATH];
        ymap::copy_pieces(path, sizeof path, {entry_path, suffix});
        rc = yfw_map_datatree_add_path_flagged(ctx, parent, path, OC_LR_NATIVE_NAMESPACE, value,
                                               nullptr, nullptr, 0, 0);
    }
    void number(const char *suffix, uint32_t v) {
        char value[30];
        snprintf(value, sizeof value, "%u", v);
        leaf(suffix, value);
    }
};

}  // namespace

extern "C" {

// ---------------------------------------------------------------- binding

YMAP_EXPORT int32_t yfw_ipstatic_init(void) {
    if (sysdb_library_present == 0) {
        int rc = access("/pkg/lib/libsysdb.so", R_OK);
        if (rc != 0) return rc;
        sysdb_library_present = 1;
    }
    return static_cast<int32_t>(_sysdb_bind(&ip_static_sysdb_connid, OC_LR_SYSDB_ROOT, 4));
}

// ---------------------------------------------------------------- working record

YMAP_EXPORT void oc_lr_init_prefix_type(oc_lr_prefix_type *rec) {
    if (rec == nullptr) return;
    rec->intf_set = 0;
    rec->nexthop_set = 0;
    rec->is_drop = 0;
    rec->is_local_link = 0;
    rec->is_replace = 0;
    rec->nexthop_done = 0;
    rec->index_known = 0;
    rec->metric_deleted = 0;
    rec->entry_unchanged = 0;
    rec->entry_in_place = 0;
    rec->nexthop_deleted = 0;
    rec->intf_deleted = 0;
    rec->subintf_deleted = 0;
    rec->metric_written = 0;
    rec->metric = nullptr;
    memset(rec->auto_index, 0, sizeof rec->auto_index);
    rec->old_has_addr = 0;
    rec->old_has_intf = 0;
    rec->old_has_path = 0;
    memset(rec->old_addr, 0, sizeof rec->old_addr);
    memset(rec->old_intf, 0, sizeof rec->old_intf);
    memset(rec->old_path, 0, sizeof rec->old_path);
    rec->bfd_fast_detect = 0;
    rec->permanent = 0;
    rec->detect_multiplier = 0;
    rec->minimum_interval = 0;
    rec->metric_value = 0;
    rec->load_metric = 0;
    rec->tag_value = 0;
    // "No label", not 0: a next-hop entry starts out knowing of no stored
    // next-hop, and the stored form of "no label" is 0x100001. With 0 here,
    // carry-over on a record no lookup filled would write a label 0 that no
    // native next-hop ever carried.
    rec->vrf_label = OC_LR_NO_VRF_LABEL;
    rec->tunnel_id = 0;
    memset(rec->object_name, 0, sizeof rec->object_name);
    memset(rec->description, 0, sizeof rec->description);
}

// ---------------------------------------------------------------- native paths

YMAP_EXPORT uint32_t get_mapping_path_name(yfw_map_ctx *ctx, uint32_t is_ipv4, uint32_t nexthop_set,
                                           uint32_t intf_set, uint32_t is_drop, char *out) {
    YMAP_FRAME(fr, ctx, __func__);
    if (out == nullptr) {
        YMAP_ERR(fr, "Invalid arguments passed!");
        return YMAP_ERR_INVALID_ARGS;
    }
    uint32_t rc = YMAP_OK;
    const family_path *list = nullptr;
    if (nexthop_set != 0 && intf_set != 0) {
        list = &list_both;
    } else if (nexthop_set != 0) {
        // A drop next-hop is the native interface-only next-hop "Null0".
        list = is_drop != 0 ? &list_intf : &list_addr;
    } else if (intf_set != 0) {
        list = &list_intf;
    }
    if (list != nullptr) {
        list->copy(is_ipv4, out);
    } else {
        family_container.copy(is_ipv4, out);
        YMAP_ERR(fr, "Invalid request to get path");
        rc = YMAP_ERR_BAD_REQUEST;
    }
    YMAP_END(fr);
    return rc;
}

YMAP_EXPORT uint32_t get_mapping_path_name_prefix(uint32_t is_ipv4, char *out) {
    prefix_list.copy(is_ipv4, out);
    return 0;
}

YMAP_EXPORT uint32_t get_mapping_path_name_nexthop(uint32_t is_ipv4, char *out) {
    nexthop_table.copy(is_ipv4, out);
    return 0;
}

YMAP_EXPORT uint32_t set_metadata_path(const char *entry_path, yfw_map_ctx *ctx,
                                       yfw_map_datatree *parent) {
    YMAP_FRAME(fr, ctx, __func__);
    oc_lr_prefix_type *rec = working_record(ctx);
    ymap_result rc = YMAP_OK;
    if (rec == nullptr) {
        rc = YMAP_ERR_LIST_KEY;
    } else if (entry_path == nullptr ||
               strnlen(entry_path, OC_LR_NATIVE_PATH) + longest_leaf_suffix >= OC_LR_NATIVE_PATH) {
        // A leaf path cut at the buffer's end would name another node.
        YMAP_ERR(fr, "Native next-hop path too long");
        rc = YMAP_ERR_BAD_REQUEST;
    } else {
        // Texts (tag, metric, object name, description) are passed as they
        // are; only numbers are formatted, so a 32-character object name is
        // never cut to fit a value buffer.
        metadata_writer w{ctx, parent, entry_path};
        if (rec->is_replace == 1) {
            if (rec->tag_text[0] != '\0' && rec->tag_deleted == 0)
                w.leaf("/tag", rec->tag_text);
            else if (rec->tag_value != 0)
                w.number("/tag", rec->tag_value);
            if (rec->metric != nullptr) {
                w.leaf("/metric", rec->metric);
                rec->metric_written = 1;
            }
        } else {
            if (rec->bfd_fast_detect != 0) w.leaf("/bfd-fast-detect", "true");
            if (rec->detect_multiplier != 0) w.number("/detect-multiplier", rec->detect_multiplier);
            if (rec->minimum_interval != 0) w.number("/minimum-interval", rec->minimum_interval);
            if (rec->metric_value != 0) {
                w.number("/metric", rec->metric_value);
                // The lookup put the request's metric here: the metric leaf
                // must not write it again into the entry that was left.
                if (rec->metric != nullptr && decimal_value(rec->metric) == rec->metric_value)
                    rec->metric_written = 1;
            }
            if (rec->tag_value != 0) w.number("/tag", rec->tag_value);
            if (rec->permanent != 0) w.leaf("/permanent", "true");
            if (rec->vrf_label != OC_LR_NO_VRF_LABEL) w.number("/vrf-lable", rec->vrf_label);
            if (rec->tunnel_id != 0) w.number("/tunnel-id", rec->tunnel_id);
            if (rec->load_metric != 0) w.number("/load-metric", rec->load_metric);
            if (rec->object_name[0] != '\0') w.leaf("/object-name", rec->object_name);
            if (rec->description[0] != '\0') w.leaf("/description", rec->description);
        }
        rc = w.rc;
    }
    YMAP_END(fr);
    return rc;
}

YMAP_EXPORT const char *ymap_localrouting_check_ipv4_ipv6(const char *address) {
    const char *family = "NULL";
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    struct addrinfo *res = nullptr;
    if (address != nullptr && getaddrinfo_ornat(address, nullptr, &hints, &res) == 0) {
        if (res != nullptr && res->ai_family == YMAP_AF_INET)
            family = "ipv4";
        else if (res != nullptr && res->ai_family == YMAP_AF_INET6)
            family = "ipv6";
        freeaddrinfo_ornat(res);
    }
    return family;
}

// ---------------------------------------------------------------- interface names

YMAP_EXPORT bool oc_lr_validate_ifname(const char *name) {
    char copy[OC_LR_INTF_TEXT];
    bool known = false;
    // A name longer than the interface manager's names is refused, not cut:
    // cut, it could validate as another interface.
    if (name != nullptr && strncpy_s(copy, sizeof copy, name, sizeof copy) == 0) {
        const char *names[1] = {copy};
        uint64_t handle = 0;
        uint32_t status = 1;
        imc_find_result result{&handle, &status};
        known = imc_interface_find(yfw_ocifmgr_im_conn, 1, names, 0, &result) == 0 && status == 0;
    }
    if (!known) syslog(LOG_ERR, "\nIM_FIND failed for interface %s", name != nullptr ? name : "");
    return known;
}

YMAP_EXPORT void oc_lr_convert_to_internal_ifname(char *dest, const char *src) {
    if (dest == nullptr || src == nullptr) return;
    // Names are at most 64 bytes on the router, so the cut is the router's
    // own limit.
    strncpy_s(dest, OC_LR_INTF_TEXT + 1, src, OC_LR_INTF_TEXT);
    dest[OC_LR_INTF_TEXT] = '\0';
    for (char *p = dest; *p != '\0'; ++p)
        if (*p == '/') *p = '_';
}

YMAP_EXPORT void get_external_ifname(char *name) {
    if (name == nullptr) return;
    for (char *p = name; *p != '\0'; ++p)
        if (*p == '_') *p = '/';
}

// ---------------------------------------------------------------- database key texts

YMAP_EXPORT const char *get_ip_string(const char *hex) {
    ip_addr_t a{};
    hex_string2ip_addr(hex, &a);
    return ip_addr_string(&a);
}

YMAP_EXPORT uint32_t get_length(const char *path) {
    if (path == nullptr) return 0;
    for (size_t i = strlen(path); i-- > 1;)
        if (path[i - 1] == '/') return static_cast<uint32_t>(i);
    return 0;
}

// Lower-case digits: the database writer keys prefix lengths that way, and
// the search compares key components as exact text.
YMAP_EXPORT const char *dec_to_hex(int32_t length) {
    static thread_local char digits[9];
    if (length < 1) return nullptr;
    char reversed[8];
    size_t n = 0;
    for (auto v = static_cast<uint32_t>(length); v != 0; v >>= 4)
        reversed[n++] = "0123456789abcdef"[v & 0xf];
    for (size_t i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
    digits[n] = '\0';
    return digits;
}

// ---------------------------------------------------------------- request scans

YMAP_EXPORT uint32_t check_next_hop_interface_config(yfw_map_ctx *ctx, yfw_map_node *node) {
    YMAP_FRAME(fr, ctx, __func__);
    oc_lr_prefix_type *rec = working_record(ctx);
    uint32_t result = rec != nullptr ? scan_interface(*rec, node) : 0;
    YMAP_END(fr);
    return result;
}

YMAP_EXPORT uint32_t check_next_hop_ip_and_set_drop_config(yfw_map_ctx *ctx, yfw_map_node *node) {
    YMAP_FRAME(fr, ctx, __func__);
    oc_lr_prefix_type *rec = working_record(ctx);
    uint32_t result = rec != nullptr ? scan_next_hop(*rec, node) : 0;
    YMAP_END(fr);
    return result;
}

YMAP_EXPORT uint32_t check_nexthops_operation_delete_replace(yfw_map_ctx *ctx, yfw_map_node *node) {
    YMAP_FRAME(fr, ctx, __func__);
    uint32_t result = 0;
    if (children_of(node) == children::some) {
        for (uint32_t i = 0; i < node->child_count && result == 0; ++i) {
            const yfw_map_node &c = node->children[i];
            if (c.tag == nullptr) break;
            if (matches(c.tag, "next-hops") &&
                (c.operation == YFW_OP_REPLACE || c.operation == YFW_OP_DELETE ||
                 c.operation == YFW_OP_REMOVE))
                result = 1;
        }
    }
    YMAP_END(fr);
    return result;
}

// ---------------------------------------------------------------- lookups

YMAP_EXPORT ymap_result do_index_lookup_on_sysdb(yfw_map_ctx *ctx, yfw_map_node *node) {
    YMAP_FRAME(fr, ctx, __func__);
    oc_lr_prefix_type *rec = working_record(ctx);
    ymap_result rc = YMAP_ERR_LIST_KEY;
    if (rec != nullptr && rec->prefix != nullptr) rc = index_lookup(fr, *rec, node);
    YMAP_END(fr);
    return rc;
}

YMAP_EXPORT uint32_t is_auto_index_valid(yfw_map_ctx *ctx, const char *first, const char *second) {
    YMAP_FRAME(fr, ctx, __func__);
    const oc_lr_prefix_type *rec = working_record(ctx);
    uint32_t valid = 0;
    if (rec != nullptr && first != nullptr) {
        // The interface as the auto index spells it: name, and a dot and the
        // subinterface unless that is 0. A text that overflows is left empty
        // by the bounded append and so matches no part.
        char intf[100] = "";
        if (rec->intf_name != nullptr) {
            strcpy_s(intf, sizeof intf, rec->intf_name);
            if (has_text(rec->subintf) && strcmp(rec->subintf, "0") != 0) {
                strcat_s(intf, sizeof intf, ".");
                strcat_s(intf, sizeof intf, rec->subintf);
            }
        }
        const bool by_nexthop = rec->nexthop_set != 0;
        const bool by_intf = rec->intf_set != 0;
        if (by_nexthop && by_intf)
            valid = second != nullptr && matches(second, rec->nexthop) && strcmp(first, intf) == 0;
        else if (by_nexthop)
            valid = second == nullptr && matches(first, rec->nexthop);
        else if (by_intf)
            valid = second == nullptr && strcmp(first, intf) == 0;
    }
    YMAP_END(fr);
    return valid;
}

YMAP_EXPORT ymap_result do_prefix_lookup_on_sysdb_and_set_tag(yfw_map_ctx *ctx, yfw_map_node *node,
                                                              yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_lr_prefix_type *rec = working_record(ctx);
    ymap_result rc = YMAP_ERR_LIST_KEY;
    route_pattern rp;
    if (rec != nullptr && rec->prefix != nullptr) rc = build_route_pattern(*rec, rp);
    entry_list found;
    if (rc == YMAP_OK) {
        rc = found.search(rp.text);
        if (rc != SYSDB_OK)
            YMAP_TRC(fr, "sysdb_find_data failed for prefix %s :(%s)\n", rp.address,
                     cerr_strerror(rc));
    }
    // Every entry gets its tag; the result is that of the last entry. A
    // failed read ends the walk (the list cannot go on), and so does a
    // stored key that cannot be written back.
    for (uint32_t i = 0; rc == YMAP_OK && i < found.count; ++i) {
        stored_next_hop e;
        rc = read_next(found, e);
        if (rc != YMAP_OK) break;
        rc = set_tag_on_entry(fr, *rec, node, tree, e);
        if (rc == YMAP_ERR_BAD_REQUEST) break;
        if (i + 1 < found.count) rc = YMAP_OK;
    }
    YMAP_END(fr);
    return rc;
}

YMAP_EXPORT ymap_result do_sysdb_lookup_and_get_tag(yfw_map_ctx *ctx, yfw_map_node *) {
    YMAP_FRAME(fr, ctx, __func__);
    oc_lr_prefix_type *rec = working_record(ctx);
    ymap_result rc = YMAP_ERR_LIST_KEY;
    route_pattern rp;
    if (rec != nullptr && rec->prefix != nullptr) rc = build_route_pattern(*rec, rp);
    entry_list found;
    if (rc == YMAP_OK) {
        rc = found.search(rp.text);
        if (rc != SYSDB_OK)
            YMAP_TRC(fr, "sysdb_find_data failed for prefix %s :(%s)\n", rp.address,
                     cerr_strerror(rc));
    }
    // Next-hops with an explicit path are not the route's own: the tag is
    // taken from the first next-hop without one.
    for (uint32_t i = 0; rc == YMAP_OK && i < found.count; ++i) {
        stored_next_hop e;
        key_parts k;
        rc = read_next(found, e);
        if (rc == YMAP_OK && split_key(e.path, k) && !present(k.path)) {
            if (e.tag != 0) snprintf(rec->tag_text, sizeof rec->tag_text, "%u", e.tag);
            break;
        }
    }
    YMAP_END(fr);
    return rc;
}

}  // extern "C"
