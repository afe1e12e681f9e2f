#include "native_store.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <unordered_set>
#include <vector>

#include "document_reader.h"
#include "plugin_limits.h"
#include "sysdb_writer.h"

namespace yfw_host {

namespace {

const data_node *find(const data_node *n, const char *name) {
    if (n == nullptr) return nullptr;
    const schema_node *s = n->schema->child(name);
    return s ? n->child(s) : nullptr;
}

const std::string &text_of(const data_node &entry, const char *name) {
    static const std::string none;
    const data_node *leaf = find(&entry, name);
    return leaf ? leaf->value : none;
}

// Values were checked against their types when the store was read.
uint32_t number(const std::string &text) {
    uint32_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// The next-hop as the database keeps it, from one pass over the entry's
// leaves: looking each of fifteen names up in the schema would cost more
// than the rest of the load.
platform::native_next_hop next_hop(const data_node &entry, platform::native_next_hop nh) {
    for (const auto &c : entry.children) {
        const std::string &name = c->schema->name;
        const std::string &v = c->value;
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

// What is wrong with an address as the store keeps it, or empty. The store
// keys entries by their text and the database by the address, so
// "2001:DB8::1" beside "2001:db8::1" would be two entries for one next-hop:
// only the canonical text (lower case, compressed) is accepted.
std::string address_problem(const std::string &text, bool ipv4, unsigned char (&bytes)[16]) {
    int af = ipv4 ? AF_INET : AF_INET6;
    if (::inet_pton(af, text.c_str(), bytes) != 1)
        return std::string("is not a valid ") + (ipv4 ? "IPv4" : "IPv6") + " address";
    char canonical[INET6_ADDRSTRLEN];
    if (::inet_ntop(af, bytes, canonical, sizeof canonical) != nullptr && text != canonical)
        return std::string("is not in canonical form (write ") + canonical + ")";
    return {};
}

// A route's prefix: an address of its family, a length that fits it, no
// bits set beyond the length (10.1.0.1/16 and 10.1.0.0/16 are one route).
std::string prefix_problem(const std::string &prefix, const std::string &length, bool ipv4) {
    std::string shown = quoted(prefix + "/" + length);
    unsigned char bytes[16] = {};
    std::string why = address_problem(prefix, ipv4, bytes);
    if (!why.empty()) return shown + ": the address " + why;
    unsigned bits = ipv4 ? 32 : 128;
    unsigned len = length.empty() ? bits + 1 : number(length);
    if (len > bits || length != std::to_string(len))
        return shown + ": the length is not a number from 0 to " + std::to_string(bits);
    for (unsigned b = len; b < bits; ++b) {
        if (bytes[b / 8] & (0x80u >> (b % 8))) {
            for (unsigned z = len; z < bits; ++z) bytes[z / 8] &= ~(0x80u >> (z % 8));
            char network[INET6_ADDRSTRLEN];
            ::inet_ntop(ipv4 ? AF_INET : AF_INET6, bytes, network, sizeof network);
            return shown + ": bits are set beyond the prefix length (the network is " + network +
                   "/" + length + ")";
        }
    }
    return {};
}

// The next-hop address the database would be keyed by: a valid address of
// the route's family in canonical form, when there is one.
std::string next_hop_problem(const data_node &entry, const platform::native_next_hop &nh) {
    if (nh.next_hop_address.empty()) return {};
    unsigned char bytes[16];
    std::string why = address_problem(nh.next_hop_address, nh.ipv4, bytes);
    if (why.empty()) return {};
    // An address that does not parse cannot key the entry at all.
    if (why.starts_with("is not a valid"))
        return "next-hop " + entry.path() + " has an address that is not a valid " +
               (nh.ipv4 ? "IPv4" : "IPv6") + " address: " + quoted(nh.next_hop_address);
    return "next-hop " + entry.path() + " has the address " + quoted(nh.next_hop_address) +
           ", which " + why;
}

// The routes of one address family of the default VRF's unicast table.
const data_node *prefixes_of(const data_node &config, const char *family) {
    const data_node *af = find(find(&config, "default-vrf"), "address-family");
    return find(find(find(af, family), "vrf-unicast"), "vrf-prefixes");
}

constexpr const char *families[] = {"vrfipv4", "vrfipv6"};

// The OpenConfig index a native next-hop reads back under: its own index,
// else the automatic index its keys make. Empty for the lists the native
// walk does not turn into OpenConfig next-hops.
std::string read_back_index(const data_node &entry, const platform::native_next_hop &nh) {
    if (const data_node *own = find(&entry, "index")) return own->value;
    const std::string &list = entry.schema->name;
    if (list == "vrf-next-hop-interface-name")
        return nh.interface_name == "Null0" ? "**oc-loc-rt:DROP**"
                                            : "**" + nh.interface_name + "**";
    if (list == "vrf-next-hop-next-hop-address") return "**" + nh.next_hop_address + "**";
    if (list == "vrf-next-hop-interface-name-next-hop-address")
        return "**" + nh.interface_name + "**" + nh.next_hop_address + "**";
    return {};
}

// The limits of the next-hop's leaves, for routes an edit wrote rather
// than a document the reader checked leaf by leaf.
std::string leaf_limits_problem(const data_node &entry) {
    for (const auto &c : entry.children) {
        std::string why = leaf_limit_problem(c->schema->limit, c->value);
        if (!why.empty()) return "next-hop " + entry.path() + ": " + quoted(c->value) + ": " + why;
    }
    return {};
}

// A next-hop entry as its list and keys name it within its route.
std::string entry_name(const data_node &entry) {
    std::string name = entry.schema->name;
    for (const schema_node *k : entry.schema->keys)
        if (const data_node *leaf = entry.child(k))
            name += "[" + k->name + "=" + quoted(leaf->value) + "]";
    return name;
}

bool is_ipv4_route(const data_node &route) {
    for (const schema_node *s = route.schema; s != nullptr; s = s->parent)
        if (s->name == "vrfipv4") return true;
    return false;
}

// Checks a route and hands each of its next-hops, as the database keeps
// it, to put. Returns what is wrong, or empty.
template <typename Put>
std::string visit_route(const data_node &route, bool ipv4, const Put &put) {
    platform::native_next_hop base;
    base.ipv4 = ipv4;
    base.prefix = text_of(route, "prefix");
    const std::string &length = text_of(route, "prefix-length");
    base.prefix_length = number(length);
    if (std::string why = prefix_problem(base.prefix, length, ipv4); !why.empty())
        return "route " + route.path() + " has the prefix " + why;
    const data_node *table = find(find(&route, "vrf-route"), "vrf-next-hop-table");
    if (table == nullptr) return {};
    // Next-hops of a route are a handful: a sorted vector beats a set.
    std::vector<std::pair<std::string, const data_node *>> indices;
    for (const auto &e : table->children) {
        platform::native_next_hop nh = next_hop(*e, base);
        if (std::string why = next_hop_problem(*e, nh); !why.empty()) return why;
        if (std::string why = leaf_limits_problem(*e); !why.empty()) return why;
        if (std::string why = put(nh); !why.empty()) return why;
        if (std::string index = read_back_index(*e, nh); !index.empty())
            indices.emplace_back(std::move(index), e.get());
    }
    std::sort(indices.begin(), indices.end());
    for (std::size_t i = 1; i < indices.size(); ++i)
        if (indices[i].first == indices[i - 1].first)
            return "route " + route.path() + ": next-hops " + entry_name(*indices[i - 1].second) +
                   " and " + entry_name(*indices[i].second) +
                   " would both read back as the OpenConfig next-hop " + quoted(indices[i].first) +
                   " (give them different indices)";
    return {};
}

std::string entry_path_problem(const platform::native_next_hop &nh) {
    if (platform::next_hop_entry_path(nh).empty())
        return "prefix " + quoted(nh.prefix) + " is not a valid " + (nh.ipv4 ? "IPv4" : "IPv6") +
               " address";
    return {};
}

}  // namespace

std::optional<store_load_stats> load_native_store(const data_node &config, const std::string &file,
                                                  input_error &err) {
    store_load_stats stats;
    platform::sysdb_clear();
    // Written as they are read: a store of a million routes held as
    // next-hop records first would take more memory than its tree.
    auto put = [&stats](const platform::native_next_hop &nh) -> std::string {
        if (platform::sysdb_write_next_hop(nh) != 0)
            return "prefix " + quoted(nh.prefix) + " is not a valid " +
                   (nh.ipv4 ? "IPv4" : "IPv6") + " address";
        ++stats.next_hops;
        return {};
    };
    for (const char *family : families) {
        const data_node *prefixes = prefixes_of(config, family);
        if (prefixes == nullptr) continue;
        for (const auto &p : prefixes->children) {
            std::string why = visit_route(*p, family[6] == '4', put);
            if (!why.empty()) {
                // A database half filled from a store that does not load
                // would answer lookups nobody asked for.
                platform::sysdb_clear();
                err.file = file;
                err.message = std::move(why);
                return std::nullopt;
            }
            ++stats.routes;
        }
    }
    return stats;
}

std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err) {
    auto tree =
        read_data_document(text, file, yang_schema::get().native_root(), document_role::data, err);
    if (!tree) return std::nullopt;
    return load_native_store(*tree->root, file, err);
}

std::string native_route_problem(const data_node &route) {
    return visit_route(route, is_ipv4_route(route), entry_path_problem);
}

std::string check_native_routes(const data_node &config,
                                const std::unordered_set<const data_node *> &routes) {
    if (routes.empty()) return {};
    // In the store's order, so the first problem named is the one a load
    // of the whole store would name.
    for (const char *family : families) {
        const data_node *prefixes = prefixes_of(config, family);
        if (prefixes == nullptr) continue;
        for (const auto &p : prefixes->children) {
            if (!routes.contains(p.get())) continue;
            if (std::string why = visit_route(*p, family[6] == '4', entry_path_problem);
                !why.empty())
                return why;
        }
    }
    return {};
}

}  // namespace yfw_host
