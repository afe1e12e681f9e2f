// The platform side of the configuration database that the plug-in does not
// see: filling it from native router-static data, packing tuples, resetting
// it, and recording the searches made so tests can assert on them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ymap_platform.h"

namespace platform {

// Binding root of the static-route configuration.
inline constexpr const char *static_route_root = "/cfg/gl/static/router/ord_d/default/address/";
// Placeholder of an absent next-hop key component.
inline constexpr const char *absent_component = "________";

// One next-hop of a default-VRF unicast prefix as native data carries it.
// Empty texts and unset optionals mean "absent".
struct native_next_hop {
    bool ipv4 = true;
    std::string prefix;  // printable address, as in the native `prefix` leaf
    uint32_t prefix_length = 0;
    std::string interface_name;  // external form (slashes)
    std::string next_hop_address;
    std::string explicit_path_name;
    bool bfd_fast_detect = false;
    std::optional<uint32_t> minimum_interval;
    std::optional<uint32_t> detect_multiplier;
    std::optional<uint32_t> metric;
    std::optional<uint32_t> tag;
    bool permanent = false;
    std::optional<uint32_t> vrf_label;
    std::optional<uint32_t> tunnel_id;
    std::string object_name;
    std::string description;
    std::optional<uint32_t> load_metric;
    std::string index;
};

// A packed tuple field: a number, a text, or nothing (the field is absent).
struct tuple_field {
    enum class kind { number, text, absent } k = kind::absent;
    uint32_t number = 0;
    std::string text;
};
std::vector<uint8_t> tuple_pack(const std::vector<tuple_field> &fields);

// Packs fields one by one, as tuple_pack does for a list of them; for
// writers that know their fields and need not build the list first.
class tuple_writer {
public:
    // room: bytes to reserve beyond the header, a hint only.
    explicit tuple_writer(size_t room = 0);
    void number(uint32_t v);
    void text(std::string_view t);
    void absent();
    std::vector<uint8_t> finish();  // the packed tuple; the writer is spent

private:
    std::vector<uint8_t> out_;
};

// Path of a next-hop entry relative to the binding root, and its key
// ("interface,address,path" with absent components as eight underscores).
// Returns an empty string when an address does not parse.
std::string next_hop_key(const native_next_hop &nh);
std::string next_hop_entry_path(const native_next_hop &nh);
// Path, relative to the binding root, that every next-hop entry of one route
// starts with; empty when the prefix does not parse.
std::string route_next_hops_path(bool ipv4, const std::string &prefix, uint32_t prefix_length);

// Writes (or overwrites) one entry; path is absolute.
void sysdb_write(std::string absolute_path, std::vector<uint8_t> data);
// Writes a next-hop with its twelve tuple fields. Returns 0, or a nonzero
// code when an address does not parse.
uint32_t sysdb_write_next_hop(const native_next_hop &nh);
// Removes every entry (and a fill not yet run).
void sysdb_clear();
// Removes the entries whose absolute path starts with prefix (one route's
// next-hops, when a server updates the database edit by edit).
void sysdb_erase_under(const std::string &prefix);
// Runs fill (which writes entries) before the next search, once: a run
// whose mapping never searches never pays for filling the database.
void sysdb_fill_on_first_search(std::function<void()> fill);
std::size_t sysdb_size();

// Search recording: every sysdb_find_data pattern, in call order.
void sysdb_record_searches(bool on);
std::vector<std::string> sysdb_recorded_searches();

// Lower-case hexadecimal length component: "0x18" for 24, "0x0" for 0.
std::string prefix_length_component(uint32_t length);

}  // namespace platform
