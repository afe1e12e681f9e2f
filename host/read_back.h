// Whether an OpenConfig edit's result reads back as the edit asked.
//
// For a next-hop of a route that is already stored, the mapping reconciles
// the request with what is stored: it moves the entry between the native
// lists and carries its attributes over. There it can keep a stored value
// where the request gave another (a LOCAL_LINK next-hop given to an entry
// that has an address keeps the address, for one). An edit whose result
// would read back otherwise than asked is refused instead of stored. New
// routes are written leaf by leaf as asked and are not read back.
#pragma once

#include <string>
#include <vector>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

// The prefixes ("10.0.0.0/8") of the routes an OpenConfig edit names that
// the configuration already holds.
std::vector<std::string> stored_routes_named(const yfw_map_node &request, const data_node &config);

// Reads those routes back from the edited configuration through the
// native walker and compares them with the configuration leaves the
// request gives them. Empty when every one reads back as asked, else what
// differs, naming the route, the next-hop and both values. A route that
// cannot be read back at all is named with the walker's result code.
std::string read_back_problem(const yfw_map_node &request, const std::vector<std::string> &routes,
                              const data_node &edited, yfw_map_walker_fn native_walker);

// Every check that the configuration after an edit keeps what the edit
// asked: tags of routes left without next-hops, next-hops of new routes
// that map to nothing, and the read-back of the routes stored before it
// (stored_before, from stored_routes_named on the configuration before the
// edit). Empty when all of it is kept, else the first problem.
std::string edit_not_kept(const yfw_map_node &request,
                          const std::vector<std::string> &stored_before, const data_node &edited,
                          yfw_map_walker_fn native_walker);

}  // namespace yfw_host
