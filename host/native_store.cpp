// The mapped routes of native data: what keeps one from loading into the
// configuration database or reading back as valid OpenConfig, and their
// next-hops as the database keeps them. The same checks run over the
// store's data tree and over the walker's request tree of to-oc input.
#include "native_store.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "document_reader.h"
#include "plugin_limits.h"
#include "sysdb_writer.h"

namespace yfw_host {

namespace {

// How the checks see a node of either tree.
struct data_access {
    using node = data_node;
    static std::string_view name(const node &n) { return n.schema->name; }
    static std::string_view value(const node &n) { return n.value(); }
    template <class Fn>
    static void each_child(const node &n, const Fn &fn) {
        for (const data_node *c : n.children()) fn(*c);
    }
};

struct request_access {
    using node = yfw_map_node;
    static std::string_view name(const node &n) { return n.tag; }
    static std::string_view value(const node &n) { return n.value ? n.value : ""; }
    template <class Fn>
    static void each_child(const node &n, const Fn &fn) {
        for (uint32_t i = 0; i < n.child_count; ++i) fn(n.children[i]);
    }
};

template <class A>
const typename A::node *find(const typename A::node *n, std::string_view name) {
    const typename A::node *found = nullptr;
    if (n != nullptr)
        A::each_child(*n, [&](const typename A::node &c) {
            if (found == nullptr && A::name(c) == name) found = &c;
        });
    return found;
}

uint32_t number(std::string_view text) {
    uint32_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// What is wrong with an address as the store keeps it, or empty. The store
// keys entries by their text and the database by the address, so
// "2001:DB8::1" beside "2001:db8::1" would be two entries for one next-hop:
// only the canonical text (lower case, compressed) is accepted.
// Dotted quads are canonical exactly when they are valid (no leading
// zeros): read here without a round trip through the text services.
bool plain_ipv4(std::string_view text, unsigned char (&bytes)[16]) {
    unsigned part = 0;
    for (int octet = 0; octet < 4; ++octet) {
        std::size_t start = part;
        unsigned v = 0;
        while (part < text.size() && text[part] >= '0' && text[part] <= '9' && part - start < 3)
            v = v * 10 + static_cast<unsigned>(text[part++] - '0');
        std::size_t digits = part - start;
        if (digits == 0 || v > 255 || (digits > 1 && text[start] == '0')) return false;
        bytes[octet] = static_cast<unsigned char>(v);
        if (octet < 3) {
            if (part >= text.size() || text[part] != '.') return false;
            ++part;
        }
    }
    return part == text.size();
}

std::string address_problem(std::string_view text, bool ipv4, unsigned char (&bytes)[16]) {
    if (ipv4 && plain_ipv4(text, bytes)) return {};
    char buf[INET6_ADDRSTRLEN + 1];
    int af = ipv4 ? AF_INET : AF_INET6;
    bool parsed = text.size() < sizeof buf;
    if (parsed) {
        std::memcpy(buf, text.data(), text.size());
        buf[text.size()] = '\0';
        parsed = ::inet_pton(af, buf, bytes) == 1;
    }
    if (!parsed) return std::string("is not a valid ") + (ipv4 ? "IPv4" : "IPv6") + " address";
    char canonical[INET6_ADDRSTRLEN];
    if (::inet_ntop(af, bytes, canonical, sizeof canonical) != nullptr && text != canonical)
        return std::string("is not in canonical form (write ") + canonical + ")";
    return {};
}

// A route's prefix: an address of its family, a length that fits it, no
// bits set beyond the length (10.1.0.1/16 and 10.1.0.0/16 are one route).
std::string prefix_problem(std::string_view prefix, std::string_view length, bool ipv4) {
    auto shown = [&] { return quoted(std::string(prefix) + "/" + std::string(length)); };
    unsigned char bytes[16] = {};
    std::string why = address_problem(prefix, ipv4, bytes);
    if (!why.empty()) return shown() + ": the address " + why;
    unsigned bits = ipv4 ? 32 : 128;
    unsigned len = number(length);
    bool plain = !length.empty() && length.size() <= 3 &&
                 (length.size() == 1 || length[0] != '0') &&
                 length.find_first_not_of("0123456789") == std::string_view::npos;
    if (!plain || len > bits)
        return shown() + ": the length is not a number from 0 to " + std::to_string(bits);
    for (unsigned b = len; b < bits; ++b) {
        if (bytes[b / 8] & (0x80u >> (b % 8))) {
            for (unsigned z = len; z < bits; ++z) bytes[z / 8] &= ~(0x80u >> (z % 8));
            char network[INET6_ADDRSTRLEN];
            ::inet_ntop(ipv4 ? AF_INET : AF_INET6, bytes, network, sizeof network);
            return shown() + ": bits are set beyond the prefix length (the network is " + network +
                   "/" + std::string(length) + ")";
        }
    }
    return {};
}

// One next-hop of a route, from one pass over its leaves.
template <class A>
struct hop {
    const typename A::node *node = nullptr;
    std::string_view list, interface_name, address, path_name, index;
    bool has_index = false;
    // A leaf beyond the native side's limits, and why.
    std::string_view bad_value;
    std::string why;
};

template <class A>
hop<A> read_hop(const typename A::node &entry) {
    hop<A> h;
    h.node = &entry;
    h.list = A::name(entry);
    A::each_child(entry, [&](const typename A::node &c) {
        std::string_view name = A::name(c), v = A::value(c);
        if (name == "interface-name") {
            h.interface_name = v;
            if (h.why.empty()) h.why = leaf_limit_problem(leaf_limit::native_interface, v);
        } else if (name == "next-hop-address") {
            h.address = v;
        } else if (name == "explicit-path-name") {
            h.path_name = v;
            if (h.why.empty()) h.why = leaf_limit_problem(leaf_limit::native_path_name, v);
        } else if (name == "index") {
            h.index = v;
            h.has_index = true;
            if (h.why.empty()) h.why = leaf_limit_problem(leaf_limit::native_index, v);
        } else {
            return;
        }
        if (!h.why.empty() && h.bad_value.empty()) h.bad_value = v;
    });
    return h;
}

// A next-hop entry as its list and keys name it within its route.
template <class A>
std::string entry_name(const hop<A> &h) {
    std::string name(h.list);
    if (!h.interface_name.empty()) name += "[interface-name=" + quoted(h.interface_name) + "]";
    if (!h.address.empty()) name += "[next-hop-address=" + quoted(h.address) + "]";
    if (!h.path_name.empty()) name += "[explicit-path-name=" + quoted(h.path_name) + "]";
    return name;
}

// The OpenConfig index a native next-hop reads back under: its own index,
// else the automatic index its keys make. Empty for the lists the native
// walk does not turn into OpenConfig next-hops.
template <class A>
std::string read_back_index(const hop<A> &h) {
    if (h.has_index) return std::string(h.index);
    std::string intf(h.interface_name), address(h.address);
    if (h.list == "vrf-next-hop-interface-name")
        return intf == "Null0" ? "**oc-loc-rt:DROP**" : "**" + intf + "**";
    if (h.list == "vrf-next-hop-next-hop-address") return "**" + address + "**";
    if (h.list == "vrf-next-hop-interface-name-next-hop-address")
        return "**" + intf + "**" + address + "**";
    return {};
}

template <class A, class Path>
std::string route_problem(const typename A::node &route, bool ipv4, const Path &route_path) {
    const typename A::node *prefix = find<A>(&route, "prefix");
    const typename A::node *length = find<A>(&route, "prefix-length");
    std::string why = prefix_problem(prefix ? A::value(*prefix) : std::string_view(),
                                     length ? A::value(*length) : std::string_view(), ipv4);
    if (!why.empty()) return "route " + route_path() + " has the prefix " + why;
    const typename A::node *table = find<A>(find<A>(&route, "vrf-route"), "vrf-next-hop-table");
    if (table == nullptr) return {};
    // Next-hops of a route are a handful: a sorted vector beats a set, and
    // their names are made only for a message.
    std::vector<std::pair<std::string, hop<A>>> indices;
    A::each_child(*table, [&](const typename A::node &e) {
        if (!why.empty()) return;
        hop<A> h = read_hop<A>(e);
        const char *family = ipv4 ? "IPv4" : "IPv6";
        if (!h.why.empty()) {
            why = "route " + route_path() + ": next-hop " + entry_name(h) + ": " +
                  quoted(h.bad_value) + ": " + h.why;
        } else if (!h.address.empty()) {
            unsigned char bytes[16];
            std::string bad = address_problem(h.address, ipv4, bytes);
            // An address that does not parse cannot key the entry at all.
            if (bad.starts_with("is not a valid"))
                why = "route " + route_path() + ": next-hop " + entry_name(h) +
                      " has an address that is not a valid " + family +
                      " address: " + quoted(h.address);
            else if (!bad.empty())
                why = "route " + route_path() + ": next-hop " + entry_name(h) +
                      " has the address " + quoted(h.address) + ", which " + bad;
        }
        if (std::string index = read_back_index(h); why.empty() && !index.empty())
            indices.emplace_back(std::move(index), std::move(h));
    });
    if (!why.empty()) return why;
    if (indices.size() < 2) return {};
    std::sort(indices.begin(), indices.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < indices.size(); ++i)
        if (indices[i].first == indices[i - 1].first)
            return "route " + route_path() + ": next-hops " + entry_name(indices[i - 1].second) +
                   " and " + entry_name(indices[i].second) +
                   " would both read back as the OpenConfig next-hop " + quoted(indices[i].first) +
                   " (give them different indices)";
    return {};
}

// The next-hop as the database keeps it, from one pass over the entry's
// leaves: looking each of fifteen names up in the schema would cost more
// than the rest of the load.
platform::native_next_hop next_hop(const data_node &entry, platform::native_next_hop nh) {
    for (const data_node *c : entry.children()) {
        const std::string &name = c->schema->name;
        std::string_view v = c->value();
        if (name == "next-hop-address")
            nh.next_hop_address = v;
        else if (name == "interface-name")
            nh.interface_name = v;
        else if (name == "index")
            nh.index = v;
        else if (name == "metric")
            nh.metric = number(v);
        else if (name == "tag")
            nh.tag = number(v);
        else if (name == "explicit-path-name")
            nh.explicit_path_name = v;
        else if (name == "object-name")
            nh.object_name = v;
        else if (name == "description")
            nh.description = v;
        else if (name == "bfd-fast-detect")
            nh.bfd_fast_detect = v == "true";
        else if (name == "permanent")
            nh.permanent = v == "true";
        else if (name == "minimum-interval")
            nh.minimum_interval = number(v);
        else if (name == "detect-multiplier")
            nh.detect_multiplier = number(v);
        else if (name == "vrf-lable")
            nh.vrf_label = number(v);
        else if (name == "tunnel-id")
            nh.tunnel_id = number(v);
        else if (name == "load-metric")
            nh.load_metric = number(v);
    }
    return nh;
}

// The routes of one address family of the default VRF's unicast table.
const data_node *prefixes_of(const data_node &config, const char *family) {
    const data_node *af =
        find<data_access>(find<data_access>(&config, "default-vrf"), "address-family");
    return find<data_access>(find<data_access>(find<data_access>(af, family), "vrf-unicast"),
                             "vrf-prefixes");
}

constexpr const char *families[] = {"vrfipv4", "vrfipv6"};

}  // namespace

bool is_ipv4_route(const schema_node &route) {
    for (const schema_node *s = &route; s != nullptr; s = s->parent)
        if (s->name == "vrfipv4") return true;
    return false;
}

std::string native_route_problem(const data_node &route) {
    return route_problem<data_access>(route, is_ipv4_route(*route.schema),
                                      [&route] { return route.path(); });
}

std::string native_route_problem(const yfw_map_node &route, const schema_node &schema,
                                 const std::function<std::string()> &path) {
    return route_problem<request_access>(route, is_ipv4_route(schema), path);
}

void put_route(const data_node &route) {
    platform::native_next_hop base;
    base.ipv4 = is_ipv4_route(*route.schema);
    for (const data_node *c : route.children()) {
        if (c->schema->name == "prefix") base.prefix = c->value();
        if (c->schema->name == "prefix-length") base.prefix_length = number(c->value());
    }
    const data_node *table =
        find<data_access>(find<data_access>(&route, "vrf-route"), "vrf-next-hop-table");
    if (table == nullptr) return;
    for (const data_node *e : table->children())
        (void)platform::sysdb_write_next_hop(next_hop(*e, base));
}

void erase_route(bool ipv4, const std::string &prefix, uint32_t prefix_length) {
    std::string path = platform::route_next_hops_path(ipv4, prefix, prefix_length);
    if (!path.empty()) platform::sysdb_erase_under(platform::static_route_root + path);
}

void fill_database(const data_node &config) {
    for (const char *family : families)
        if (const data_node *prefixes = prefixes_of(config, family))
            for (const data_node *p : prefixes->children()) put_route(*p);
}

std::optional<store_load_stats> load_native_store(const data_node &config, const std::string &file,
                                                  input_error &err) {
    store_load_stats stats;
    platform::sysdb_clear();
    for (const char *family : families) {
        const data_node *prefixes = prefixes_of(config, family);
        if (prefixes == nullptr) continue;
        for (const data_node *p : prefixes->children()) {
            std::string why = native_route_problem(*p);
            if (!why.empty()) {
                // A database half filled from a store that does not load
                // would answer lookups nobody asked for.
                platform::sysdb_clear();
                err.file = file;
                err.tag = error_tag::invalid_value;
                err.message = std::move(why);
                return std::nullopt;
            }
            put_route(*p);
            ++stats.routes;
        }
    }
    stats.next_hops = platform::sysdb_size();
    return stats;
}

std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err) {
    auto tree =
        read_data_document(text, file, yang_schema::get().native_root(), document_role::data, err);
    if (!tree) return std::nullopt;
    return load_native_store(*tree->root, file, err);
}

std::string check_native_routes(const data_node &config,
                                const std::unordered_set<const data_node *> &routes) {
    if (routes.empty()) return {};
    // In the store's order, so the first problem named is the one a load
    // of the whole store would name.
    for (const char *family : families) {
        const data_node *prefixes = prefixes_of(config, family);
        if (prefixes == nullptr) continue;
        for (const data_node *p : prefixes->children()) {
            if (!routes.contains(p)) continue;
            if (std::string why = native_route_problem(*p); !why.empty()) return why;
        }
    }
    return {};
}

}  // namespace yfw_host
