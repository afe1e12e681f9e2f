// The native running configuration as the plug-in's lookups see it: every
// next-hop of the default VRF's unicast prefixes, loaded into the
// configuration database.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

struct store_load_stats {
    std::size_t routes = 0;
    std::size_t next_hops = 0;
};

// Writes every next-hop of the default VRF's unicast prefixes of a native
// configuration into the database (which is cleared first). Returns nullopt
// with err set when a route cannot be stored or read back as it is (see
// native_route_problem); the database is left empty then.
std::optional<store_load_stats> load_native_store(const data_node &config, const std::string &file,
                                                  input_error &err);

// The same from the store's text, checked against the schema first.
std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err);

// What keeps a mapped route (a vrf-prefix entry of the default VRF's
// unicast table) from loading into the database or from reading back as
// valid OpenConfig, as a sentence without the file; empty when nothing.
// Besides what the database can key, this includes next-hops that would
// read back under one OpenConfig index (an own index equal to another's,
// or to another's automatic index), which would make one entry of two.
std::string native_route_problem(const data_node &route);
// The same for a route of a request tree (to-oc input read straight into
// the walker's input), its schema node and document path given.
std::string native_route_problem(const yfw_map_node &route, const schema_node &schema,
                                 const std::function<std::string()> &path);
// Whether a route schema node is under the IPv4 table.
bool is_ipv4_route(const schema_node &route);
// The stored route an OpenConfig prefix ("10.0.0.0/8", "2001:db8::/32")
// names, or null.
const data_node *stored_route(const data_node &config, std::string_view oc_prefix);
// Writes a mapped route's next-hops into the configuration database.
void put_route(const data_node &route);
// Writes every mapped route of a configuration (checked when it was read).
void fill_database(const data_node &config);
// The same from a store read as the native walk's input.
void fill_database(const yfw_map_node &config);
// Removes one route's next-hops from the database, for a route an edit
// removed or is about to write again (put_route adds, it never removes).
void erase_route(bool ipv4, const std::string &prefix, uint32_t prefix_length);

// What load_native_store would refuse in these routes (vrf-prefix entries
// of config), as its error message without the file, or empty when they
// load. The rest of config is not looked at: an edit checks only the routes
// it reached, the others having loaded before it.
std::string check_native_routes(const data_node &config,
                                const std::unordered_set<const data_node *> &routes);

}  // namespace yfw_host
