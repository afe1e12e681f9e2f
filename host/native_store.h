// The native running configuration: an XML document rooted at
// router-static, loaded into the configuration database the plug-in's
// lookups read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "yfw_host.h"

namespace yfw_host {

struct store_load_stats {
    std::size_t routes = 0;
    std::size_t next_hops = 0;
};

// Parses the store text and writes every next-hop of the default VRF's
// unicast prefixes into the database (which is cleared first). Returns
// nullopt with err set when the document is unusable; nothing is written
// then.
std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err);

}  // namespace yfw_host
