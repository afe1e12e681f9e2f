// What the plug-in and the configuration database can carry, where that is
// narrower than the YANG types: the texts the plug-in copies into fixed
// buffers, the characters the database keys use as separators, the
// subinterface text of the native walk, and what a native route must hold
// for every read of it to give valid OpenConfig. A value the types admit
// but these limits do not is refused at the boundary, so nothing accepted
// can later make the store unreadable or a next-hop uneditable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "yfw_map.h"

namespace yfw_host {

struct schema_node;

// Limits of single leaves, by the leaf they concern.
enum class leaf_limit : uint8_t {
    none,
    oc_interface,      // an OpenConfig next-hop's interface
    oc_subinterface,   // its subinterface
    oc_next_hop,       // its next-hop value
    oc_index,          // its index (the list key and config/index)
    native_interface,  // interface-name of a mapped native next-hop
    native_index,      // index of a mapped native next-hop
    native_path_name,  // explicit-path-name of a mapped native next-hop
};

// Limits that span several leaves, checked when the node is complete.
enum class entry_limit : uint8_t {
    none,
    oc_interface_ref,  // interface and subinterface together
    oc_static,         // the route's prefix against its next-hops
    native_route,      // a mapped native route (vrf-prefix), see native_store.h
};

// Sets the limits on the schema nodes of both modules they concern.
void assign_plugin_limits(schema_node &oc_root, schema_node &native_root);

// Empty when a (canonical) value is within its leaf's limit, else why not.
std::string leaf_limit_problem(leaf_limit limit, std::string_view value);

// The entry limits of OpenConfig edits, over a node's children as the
// request tree holds them. Empty when fine, else why not.
std::string interface_ref_problem(const yfw_map_node *children, uint32_t count);
std::string static_route_problem(const yfw_map_node *children, uint32_t count);

// The native model keeps a route's tag on each of its next-hops: a tag an
// edit sets on a route left without next-hops would be lost. Names the
// first such route of an OpenConfig edit, given the configuration after
// the edit; empty when none.
struct data_node;
std::string unstored_route_tags(const yfw_map_node &request, const data_node &config);

// Next-hops of new routes that would not be stored as asked: one that gives
// neither an address nor an interface maps to nothing native (the mapping
// adds the route alone), and two that give the same address and interface
// map to one native entry. Names the first such next-hop of an OpenConfig
// edit, given the routes the configuration held before it; empty when none.
std::string unstored_next_hops(const yfw_map_node &request,
                               const std::vector<std::string> &stored_before);

// The longest interface name (with its subinterface) the plug-in's
// working record holds.
inline constexpr std::size_t interface_name_limit = 63;
// The longest subinterface the native walk can read back.
inline constexpr uint32_t subinterface_limit = 999999999;

}  // namespace yfw_host
