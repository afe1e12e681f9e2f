#include "plugin_limits.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <unordered_set>

#include "address_text.h"
#include "data_tree.h"
#include "native_store.h"
#include "yang_schema.h"
#include "yfw_host.h"

namespace yfw_host {

namespace {

schema_node *at(schema_node &root, std::string_view path) {
    schema_node *n = &root;
    while (n != nullptr && !path.empty()) {
        size_t slash = path.find('/');
        std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        schema_node *next = nullptr;
        for (auto &c : n->children)
            if (c->name == name) next = c.get();
        n = next;
    }
    if (n == nullptr) {
        // The table below names nodes of the built-in modules; a name that
        // is not there is a build that no longer matches them.
        std::fprintf(stderr, "yfw_host: no schema node %s/%.*s\n", root.name.c_str(),
                     static_cast<int>(path.size()), path.data());
        std::abort();
    }
    return n;
}

// The next-hop tables the configuration database is filled from.
constexpr const char *mapped_routes[] = {
    "default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix",
    "default-vrf/address-family/vrfipv6/vrf-unicast/vrf-prefixes/vrf-prefix",
};

// Characters an interface name may hold: printable ASCII without space.
// Excluded besides: '.' joins the subinterface; ',' separates the
// components of a database key and '_' stands for '/' inside it, so a name
// holding either would be stored under a key that names another
// interface; '*' delimits automatic indices ("**eth0**").
constexpr std::array<bool, 256> interface_characters = [] {
    std::array<bool, 256> t{};
    for (int c = '!'; c < 0x7f; ++c) t[c] = c != '.' && c != ',' && c != '_' && c != '*';
    return t;
}();

bool interface_character(char c) {
    return interface_characters[static_cast<unsigned char>(c)];
}

std::string interface_problem(std::string_view name) {
    if (name.empty()) return "an interface name cannot be empty";
    for (char c : name)
        if (!interface_character(c))
            return "interface names here are printable ASCII without spaces, '.', ',', '_' and "
                   "'*'";
    return {};
}

std::string too_long(std::size_t size, std::size_t limit, const char *what) {
    return std::string(what) + " of " + std::to_string(size) +
           " bytes is longer than the native side holds (" + std::to_string(limit) + ")";
}

// An address part of an automatic index, in the text the store gives it;
// false when the part is no address at all.
bool canonical_address_part(std::string_view part, bool &is_address) {
    unsigned char bytes[16];
    bool v6 = part.find(':') != std::string_view::npos;
    is_address = parse_address(v6, part, bytes);
    if (!is_address) return true;
    char text[address_text_size];
    return std::string_view(text, format_address(v6, bytes, text)) == part;
}

// The mapping takes an index framed by "**" (with something other than
// asterisks inside) as the automatic index of a next-hop without an own
// index: such an index is never stored, and the next-hop reads back under
// the automatic index its parts make, "**ADDRESS**", "**INTERFACE**" or
// "**INTERFACE**ADDRESS**". Any other spelling of those parts ("***a**",
// "**a*b**", "**2001:DB8::1**") would come back as a different key.
std::string automatic_index_problem(std::string_view v) {
    if (v.size() < 4 || !v.starts_with("**") || !v.ends_with("**")) return {};
    std::string_view inner = v.substr(2, v.size() - 4);
    if (inner.find_first_not_of('*') == std::string_view::npos) return {};  // a plain index
    std::string_view first = inner, second;
    if (std::size_t mark = inner.find("**"); mark != std::string_view::npos) {
        first = inner.substr(0, mark);
        second = inner.substr(mark + 2);
    }
    bool shaped = !first.empty() && first.find('*') == std::string_view::npos &&
                  second.find('*') == std::string_view::npos &&
                  (second.size() > 0 || inner.find("**") == std::string_view::npos);
    bool first_address = false, second_address = false;
    bool canonical = shaped && canonical_address_part(first, first_address) &&
                     canonical_address_part(second, second_address);
    if (canonical) return {};
    return "an index framed by '**' is the automatic index of a next-hop without an index of its "
           "own, and reads back only as '**ADDRESS**', '**INTERFACE**' or "
           "'**INTERFACE**ADDRESS**' with the address in its canonical form";
}

uint64_t decimal(std::string_view s) {
    uint64_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

const yfw_map_node *child(const yfw_map_node *children, uint32_t count, const char *tag) {
    for (uint32_t i = 0; i < count; ++i)
        if (children[i].tag != nullptr && std::strcmp(children[i].tag, tag) == 0)
            return &children[i];
    return nullptr;
}

const char *value(const yfw_map_node *n) {
    return n != nullptr && n->value != nullptr ? n->value : nullptr;
}

}  // namespace

void assign_plugin_limits(schema_node &oc, schema_node &native) {
    const std::string hop = "static-routes/static/next-hops/next-hop/";
    at(oc, hop + "index")->limit = leaf_limit::oc_index;
    at(oc, hop + "config/index")->limit = leaf_limit::oc_index;
    at(oc, hop + "config/next-hop")->limit = leaf_limit::oc_next_hop;
    at(oc, hop + "interface-ref/config/interface")->limit = leaf_limit::oc_interface;
    at(oc, hop + "interface-ref/config/subinterface")->limit = leaf_limit::oc_subinterface;
    at(oc, hop + "interface-ref/config")->entry = entry_limit::oc_interface_ref;
    at(oc, "static-routes/static")->entry = entry_limit::oc_static;

    for (const char *route : mapped_routes) {
        schema_node *r = at(native, route);
        r->entry = entry_limit::native_route;
        for (auto &list : at(*r, "vrf-route/vrf-next-hop-table")->children) {
            for (auto &leaf : list->children) {
                if (leaf->name == "interface-name") leaf->limit = leaf_limit::native_interface;
                if (leaf->name == "index") leaf->limit = leaf_limit::native_index;
                if (leaf->name == "explicit-path-name") leaf->limit = leaf_limit::native_path_name;
            }
        }
    }
}

std::string leaf_limit_problem(leaf_limit limit, std::string_view v) {
    switch (limit) {
        case leaf_limit::none: return {};
        case leaf_limit::oc_interface: {
            if (std::string why = interface_problem(v); !why.empty()) return why;
            if (v.size() > interface_name_limit)
                return too_long(v.size(), interface_name_limit, "an interface name");
            return {};
        }
        case leaf_limit::oc_subinterface:
            if (decimal(v) > subinterface_limit)
                return "subinterfaces above " + std::to_string(subinterface_limit) +
                       " cannot be read back from the native side";
            return {};
        case leaf_limit::oc_next_hop:
            if (v.find('%') != std::string_view::npos)
                return "a next-hop address with a zone index cannot be stored natively";
            return {};
        case leaf_limit::oc_index:
            if (v.size() > 127) return too_long(v.size(), 127, "an index");
            return automatic_index_problem(v);
        case leaf_limit::native_interface: {
            // NAME or NAME.SUB: the native walk splits the subinterface off
            // at the dot and reads it back as a number of up to nine digits.
            size_t dot = v.find('.');
            std::string_view name = v.substr(0, dot);
            if (std::string why = interface_problem(name); !why.empty()) return why;
            if (dot != std::string_view::npos) {
                std::string_view sub = v.substr(dot + 1);
                bool digits = !sub.empty() && sub.size() <= 9 && sub[0] != '0' &&
                              sub.find_first_not_of("0123456789") == std::string_view::npos;
                if (!digits)
                    return "the subinterface after the '.' must be a number from 1 to " +
                           std::to_string(subinterface_limit);
            }
            if (v.size() > interface_name_limit)
                return too_long(v.size(), interface_name_limit, "an interface name");
            return {};
        }
        case leaf_limit::native_index:
            if (v.empty()) return "an empty index would give a next-hop no one can name";
            if (v.size() > 127) return too_long(v.size(), 127, "an index");
            return {};
        case leaf_limit::native_path_name:
            if (v.empty() || v.find(',') != std::string_view::npos)
                return "an explicit path name must be non-empty and hold no ','";
            if (v.size() > 49) return too_long(v.size(), 49, "an explicit path name");
            return {};
    }
    return {};
}

std::string interface_ref_problem(const yfw_map_node *children, uint32_t count) {
    const char *name = value(child(children, count, "interface"));
    const char *sub = value(child(children, count, "subinterface"));
    if (name == nullptr) return {};
    // The native interface name is the two joined by a dot, without a
    // subinterface 0.
    std::size_t size = std::strlen(name);
    if (sub != nullptr && std::strcmp(sub, "0") != 0) size += 1 + std::strlen(sub);
    if (size > interface_name_limit)
        return too_long(size, interface_name_limit, "the interface name with its subinterface");
    return {};
}

std::string static_route_problem(const yfw_map_node *children, uint32_t count) {
    const char *prefix = value(child(children, count, "prefix"));
    if (prefix == nullptr) return {};
    bool v6 = std::strchr(prefix, ':') != nullptr;
    const yfw_map_node *hops = child(children, count, "next-hops");
    if (hops == nullptr) return {};
    for (uint32_t i = 0; i < hops->child_count; ++i) {
        const yfw_map_node &hop = hops->children[i];
        const yfw_map_node *config = child(hop.children, hop.child_count, "config");
        const char *address =
            config ? value(child(config->children, config->child_count, "next-hop")) : nullptr;
        // Identities carry their module's prefix; addresses hold ':' only
        // when they are IPv6, and '.' when IPv4.
        bool identity = address != nullptr && std::strncmp(address, "oc-loc-rt:", 10) == 0;
        if (address == nullptr || identity) {
            // An interface-only next-hop out of Null0 is how the native side
            // keeps a DROP: it would read back as one. With an address it
            // is an ordinary next-hop and reads back as given.
            const yfw_map_node *ref = child(hop.children, hop.child_count, "interface-ref");
            const yfw_map_node *rc =
                ref ? child(ref->children, ref->child_count, "config") : nullptr;
            const char *name =
                rc ? value(child(rc->children, rc->child_count, "interface")) : nullptr;
            const char *sub =
                rc ? value(child(rc->children, rc->child_count, "subinterface")) : nullptr;
            if (name != nullptr && std::strcmp(name, "Null0") == 0 &&
                (sub == nullptr || std::strcmp(sub, "0") == 0)) {
                const char *index = value(child(hop.children, hop.child_count, "index"));
                return std::string("next-hop ") + (index ? quoted(index) + " " : "") +
                       "goes out of Null0 without an address: that is how the native side keeps "
                       "a DROP, and it would read back as one (write the next-hop as DROP)";
            }
            continue;
        }
        bool hop_v6 = std::strchr(address, ':') != nullptr;
        if (hop_v6 != v6) {
            const char *index = value(child(hop.children, hop.child_count, "index"));
            return std::string("next-hop ") + (index ? quoted(index) + " " : "") + "goes to " +
                   (hop_v6 ? "the IPv6 address " : "the IPv4 address ") + quoted(address) +
                   ", and the route is " + (v6 ? "IPv6" : "IPv4") +
                   ": a route's next-hops are of its own family";
        }
    }
    return {};
}

namespace {

bool removed(const yfw_map_node &n) {
    return n.operation == YFW_OP_DELETE || n.operation == YFW_OP_REMOVE;
}

// Whether the stored route for an OpenConfig prefix has a next-hop the
// native walk reads back (and so a tag).
bool has_mapped_next_hop(const data_node &config, std::string_view prefix) {
    const data_node *r = stored_route(config, prefix);
    const schema_node *table_s = r != nullptr ? r->schema->child("vrf-route") : nullptr;
    const data_node *table = table_s != nullptr ? r->child(table_s) : nullptr;
    table_s = table != nullptr ? table_s->child("vrf-next-hop-table") : nullptr;
    table = table_s != nullptr ? table->child(table_s) : nullptr;
    if (table == nullptr) return false;
    for (const data_node *e : table->children()) {
        const std::string &list = e->schema->name;
        if (list == "vrf-next-hop-interface-name" || list == "vrf-next-hop-next-hop-address" ||
            list == "vrf-next-hop-interface-name-next-hop-address")
            return true;
    }
    return false;
}

}  // namespace

std::string unstored_route_tags(const yfw_map_node &request, const data_node &config) {
    const yfw_map_node *routes = child(request.children, request.child_count, "static-routes");
    if (routes == nullptr || removed(request) || removed(*routes)) return {};
    for (uint32_t i = 0; i < routes->child_count; ++i) {
        const yfw_map_node &route = routes->children[i];
        const yfw_map_node *config_node = child(route.children, route.child_count, "config");
        const yfw_map_node *tag =
            config_node ? child(config_node->children, config_node->child_count, "set-tag")
                        : nullptr;
        const char *prefix = value(child(route.children, route.child_count, "prefix"));
        if (tag == nullptr || tag->value == nullptr || prefix == nullptr || removed(route) ||
            removed(*config_node) || removed(*tag))
            continue;
        if (!has_mapped_next_hop(config, prefix))
            return "the set-tag " + quoted(tag->value) + " of route " + quoted(prefix) +
                   " cannot be stored: the native side keeps a route's tag on its next-hops, and "
                   "the route has none";
    }
    return {};
}

namespace {

// The native entry an OpenConfig next-hop of a new route maps to: its list
// (interface, address, or both) and keys. Null0 stands for DROP.
struct native_entry {
    const char *interface = nullptr;
    const char *subinterface = nullptr;  // null for none or 0
    const char *address = nullptr;
    const char *index = nullptr;
    bool maps() const { return interface != nullptr || address != nullptr; }
    bool operator==(const native_entry &o) const {
        auto same = [](const char *a, const char *b) {
            return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
        };
        return same(interface, o.interface) && same(subinterface, o.subinterface) &&
               same(address, o.address);
    }
    std::string key() const {
        std::string k;
        for (const char *part : {interface, subinterface, address}) {
            if (part != nullptr) k += part;
            k += '\0';
        }
        return k;
    }
};

native_entry native_entry_of(const yfw_map_node &hop) {
    native_entry e;
    e.index = value(child(hop.children, hop.child_count, "index"));
    const yfw_map_node *config = child(hop.children, hop.child_count, "config");
    const yfw_map_node *ref = child(hop.children, hop.child_count, "interface-ref");
    const yfw_map_node *ref_config =
        ref != nullptr ? child(ref->children, ref->child_count, "config") : nullptr;
    const char *next_hop = config != nullptr
                               ? value(child(config->children, config->child_count, "next-hop"))
                               : nullptr;
    if (ref_config != nullptr) {
        e.interface = value(child(ref_config->children, ref_config->child_count, "interface"));
        e.subinterface =
            value(child(ref_config->children, ref_config->child_count, "subinterface"));
        if (e.interface == nullptr ||
            (e.subinterface != nullptr && std::strcmp(e.subinterface, "0") == 0))
            e.subinterface = nullptr;
    }
    bool identity = next_hop != nullptr && std::strncmp(next_hop, "oc-loc-rt:", 10) == 0;
    if (identity && std::strcmp(next_hop, "oc-loc-rt:DROP") == 0) {
        e.interface = "Null0";
        e.subinterface = nullptr;
    } else if (!identity) {
        e.address = next_hop;
    }
    return e;
}

}  // namespace

std::string unstored_next_hops(const yfw_map_node &request,
                               const std::vector<std::string> &stored_before) {
    const yfw_map_node *routes = child(request.children, request.child_count, "static-routes");
    if (routes == nullptr || removed(request) || removed(*routes)) return {};
    const std::unordered_set<std::string_view> stored(stored_before.begin(), stored_before.end());
    std::vector<native_entry> entries;
    std::unordered_set<std::string> keys;  // for routes with many next-hops
    constexpr std::size_t compared_in_place = 16;
    for (uint32_t i = 0; i < routes->child_count; ++i) {
        const yfw_map_node &route = routes->children[i];
        const char *prefix = value(child(route.children, route.child_count, "prefix"));
        const yfw_map_node *hops = child(route.children, route.child_count, "next-hops");
        // Routes stored before the edit are read back as a whole instead.
        if (prefix == nullptr || hops == nullptr || removed(route) || removed(*hops) ||
            (!stored.empty() && stored.count(prefix) != 0))
            continue;
        entries.clear();
        keys.clear();
        for (uint32_t j = 0; j < hops->child_count; ++j) {
            const yfw_map_node &hop = hops->children[j];
            if (removed(hop)) continue;
            native_entry e = native_entry_of(hop);
            auto shown = [](const char *index) { return quoted(index != nullptr ? index : ""); };
            if (!e.maps())
                return "the next-hop " + shown(e.index) + " of route " + quoted(prefix) +
                       " cannot be stored: a native next-hop is an address or an interface, "
                       "and it gives neither";
            // The native lists are keyed by interface and address: two
            // next-hops that give the same ones are one native entry, which
            // keeps only one of their indices.
            const native_entry *twin = nullptr;
            for (const native_entry &other : entries)
                if (other == e) twin = &other;
            bool repeated = twin != nullptr;
            if (entries.size() >= compared_in_place) repeated = !keys.insert(e.key()).second;
            if (repeated)
                return (twin != nullptr ? "the next-hops " + shown(twin->index) + " and "
                                        : std::string("the next-hop ")) +
                       shown(e.index) + " of route " + quoted(prefix) +
                       (twin != nullptr ? " go" : " goes") + " to the same address and interface" +
                       (twin != nullptr ? "" : " as an earlier one") +
                       ": the native side keeps them as one next-hop, and one of them would be "
                       "lost";
            if (entries.size() < compared_in_place) {
                entries.push_back(e);
                if (entries.size() == compared_in_place)
                    for (const native_entry &seen : entries) keys.insert(seen.key());
            }
        }
    }
    return {};
}

}  // namespace yfw_host
