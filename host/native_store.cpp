// The mapped routes of native data: what keeps one from loading into the
// configuration database or reading back as valid OpenConfig, and their
// next-hops as the database keeps them. The same checks run over the
// store's data tree and over the walker's request tree of to-oc input.
#include "native_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <forward_list>
#include <unordered_set>
#include <vector>

#include "address_text.h"
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
    static bool is(const node &n, const char *name) { return n.schema->name == name; }
    template <class Fn>
    static void each_child(const node &n, const Fn &fn) {
        for (const data_node *c : n.children()) fn(*c);
    }
};

struct request_access {
    using node = yfw_map_node;
    static std::string_view name(const node &n) { return n.tag; }
    static std::string_view value(const node &n) { return n.value ? n.value : ""; }
    static bool is(const node &n, const char *name) { return std::strcmp(n.tag, name) == 0; }
    template <class Fn>
    static void each_child(const node &n, const Fn &fn) {
        for (uint32_t i = 0; i < n.child_count; ++i) fn(n.children[i]);
    }
};

template <class A>
const typename A::node *find(const typename A::node *n, const char *name) {
    const typename A::node *found = nullptr;
    if (n != nullptr)
        A::each_child(*n, [&](const typename A::node &c) {
            if (found == nullptr && A::is(c, name)) found = &c;
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
std::string address_problem(std::string_view text, bool ipv4, unsigned char (&bytes)[16]) {
    if (!parse_address(!ipv4, text, bytes))
        return std::string("is not a valid ") + (ipv4 ? "IPv4" : "IPv6") + " address";
    char canonical[address_text_size];
    std::string_view written(canonical, format_address(!ipv4, bytes, canonical));
    if (text != written) return "is not in canonical form (write " + std::string(written) + ")";
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
            char network[address_text_size];
            std::string_view written(network, format_address(!ipv4, bytes, network));
            return shown() + ": bits are set beyond the prefix length (the network is " +
                   std::string(written) + "/" + std::string(length) + ")";
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
    bool has_address = false;
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
        if (name.size() < 5) return;  // none of the four below
        if (name == "interface-name") {
            h.interface_name = v;
            if (h.why.empty()) h.why = leaf_limit_problem(leaf_limit::native_interface, v);
        } else if (name == "next-hop-address") {
            h.address = v;
            h.has_address = true;
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

// The OpenConfig indices the next-hops of one route read back under, to
// find two that would read back as one. Routes have a handful of
// next-hops: the first few are kept in place and compared pairwise.
template <class A>
class read_back_indices {
public:
    // The index of a next-hop already found sound; nothing for a list the
    // native walk does not read back.
    void add(const hop<A> &h) {
        std::string_view index = h.index;
        if (!h.has_index) {
            std::string made = read_back_index(h);
            if (made.empty()) return;
            index = made_.emplace_front(std::move(made));
        }
        if (count_ < inline_count)
            inline_[count_] = {index, h.node};
        else
            more_.push_back({index, h.node});
        ++count_;
    }
    // Two next-hops with one index, or {null, null}.
    std::pair<const typename A::node *, const typename A::node *> repeated(
        std::string_view &index) {
        auto at = [this](std::size_t i) -> const item & {
            return i < inline_count ? inline_[i] : more_[i - inline_count];
        };
        if (count_ <= inline_count) {
            for (std::size_t i = 1; i < count_; ++i)
                for (std::size_t k = 0; k < i; ++k)
                    if (at(i).index == at(k).index) {
                        index = at(i).index;
                        return {at(k).node, at(i).node};
                    }
            return {};
        }
        std::vector<item> all;
        for (std::size_t i = 0; i < count_; ++i) all.push_back(at(i));
        std::stable_sort(all.begin(), all.end(),
                         [](const item &a, const item &b) { return a.index < b.index; });
        for (std::size_t i = 1; i < all.size(); ++i)
            if (all[i].index == all[i - 1].index) {
                index = all[i].index;
                return {all[i - 1].node, all[i].node};
            }
        return {};
    }

private:
    struct item {
        std::string_view index;
        const typename A::node *node = nullptr;
    };
    static constexpr std::size_t inline_count = 8;
    std::array<item, inline_count> inline_{};
    std::vector<item> more_;
    std::size_t count_ = 0;
    // Automatic indices, in nodes that stay in place (and cost nothing for
    // a route whose next-hops all have an index).
    std::forward_list<std::string> made_;
};

// What is wrong with one next-hop of a route, or empty.
template <class A, class Path>
std::string hop_problem(const hop<A> &h, bool ipv4, const Path &route_path) {
    if (!h.why.empty())
        return "route " + route_path() + ": next-hop " + entry_name(h) + ": " +
               quoted(h.bad_value) + ": " + h.why;
    if (h.address.empty()) {
        // The key is there but holds nothing: no address to store or to
        // read back (one reader keeps it as empty text, the other as no
        // value, so it is refused rather than told apart).
        if (h.has_address)
            return "route " + route_path() + ": next-hop " + entry_name(h) +
                   " has an empty address";
        return {};
    }
    unsigned char bytes[16];
    std::string bad = address_problem(h.address, ipv4, bytes);
    // An address that does not parse cannot key the entry at all.
    if (bad.starts_with("is not a valid"))
        return "route " + route_path() + ": next-hop " + entry_name(h) +
               " has an address that is not a valid " + (ipv4 ? "IPv4" : "IPv6") +
               " address: " + quoted(h.address);
    if (!bad.empty())
        return "route " + route_path() + ": next-hop " + entry_name(h) + " has the address " +
               quoted(h.address) + ", which " + bad;
    return {};
}

template <class A, class Path>
std::string route_problem(const typename A::node &route, bool ipv4, const Path &route_path) {
    const typename A::node *prefix = nullptr, *length = nullptr, *next_hops = nullptr;
    A::each_child(route, [&](const typename A::node &c) {
        if (A::is(c, "prefix"))
            prefix = &c;
        else if (A::is(c, "prefix-length"))
            length = &c;
        else if (A::is(c, "vrf-route"))
            next_hops = find<A>(&c, "vrf-next-hop-table");
    });
    std::string why = prefix_problem(prefix ? A::value(*prefix) : std::string_view(),
                                     length ? A::value(*length) : std::string_view(), ipv4);
    if (!why.empty()) return "route " + route_path() + " has the prefix " + why;
    if (next_hops == nullptr) return {};
    read_back_indices<A> indices;
    A::each_child(*next_hops, [&](const typename A::node &e) {
        if (!why.empty()) return;
        hop<A> h = read_hop<A>(e);
        why = hop_problem(h, ipv4, route_path);
        if (why.empty()) indices.add(h);
    });
    if (!why.empty()) return why;
    std::string_view index;
    auto [first, second] = indices.repeated(index);
    if (first == nullptr) return {};
    return "route " + route_path() + ": next-hops " + entry_name(read_hop<A>(*first)) + " and " +
           entry_name(read_hop<A>(*second)) + " would both read back as the OpenConfig next-hop " +
           quoted(index) + " (give them different indices)";
}

// The next-hop as the database keeps it, from one pass over the entry's
// leaves: looking each of fifteen names up in the schema would cost more
// than the rest of the load.
template <class A>
platform::native_next_hop next_hop(const typename A::node &entry, platform::native_next_hop nh) {
    A::each_child(entry, [&nh](const typename A::node &c) {
        std::string_view name = A::name(c), v = A::value(c);
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
    });
    return nh;
}

template <class A>
void put_route_of(const typename A::node &route, bool ipv4) {
    platform::native_next_hop base;
    base.ipv4 = ipv4;
    const typename A::node *table = nullptr;
    A::each_child(route, [&](const typename A::node &c) {
        if (A::is(c, "prefix"))
            base.prefix = A::value(c);
        else if (A::is(c, "prefix-length"))
            base.prefix_length = number(A::value(c));
        else if (A::is(c, "vrf-route"))
            table = find<A>(&c, "vrf-next-hop-table");
    });
    if (table == nullptr) return;
    A::each_child(*table, [&base](const typename A::node &e) {
        (void)platform::sysdb_write_next_hop(next_hop<A>(e, base));
    });
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

const data_node *stored_route(const data_node &config, std::string_view oc_prefix) {
    size_t slash = oc_prefix.find('/');
    if (slash == std::string_view::npos) return nullptr;
    bool v6 = oc_prefix.find(':') != std::string_view::npos;
    const data_node *prefixes = prefixes_of(config, v6 ? "vrfipv6" : "vrfipv4");
    if (prefixes == nullptr) return nullptr;
    const schema_node *route = prefixes->schema->child("vrf-prefix");
    return prefixes->entry(route, {oc_prefix.substr(0, slash), oc_prefix.substr(slash + 1)});
}

void put_route(const data_node &route) {
    put_route_of<data_access>(route, is_ipv4_route(*route.schema));
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

void fill_database(const yfw_map_node &config) {
    using A = request_access;
    const yfw_map_node *af = find<A>(find<A>(&config, "default-vrf"), "address-family");
    for (const char *family : families) {
        const yfw_map_node *prefixes =
            find<A>(find<A>(find<A>(af, family), "vrf-unicast"), "vrf-prefixes");
        if (prefixes == nullptr) continue;
        const bool ipv4 = std::strcmp(family, "vrfipv4") == 0;
        for (uint32_t i = 0; i < prefixes->child_count; ++i)
            put_route_of<A>(prefixes->children[i], ipv4);
    }
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
