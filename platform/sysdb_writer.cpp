// Fills the database from native next-hops, keyed and packed the way the
// plug-in's lookups read them back.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>

#include "sysdb_writer.h"

namespace platform {
namespace {

// Values the lookups take for a leaf the native next-hop does not carry.
constexpr uint32_t absent_number = 0xffffffffu;
constexpr uint32_t no_vrf_label = 0x100001u;

// The native model keeps no route-level attributes, so every route gets
// this one route-level key; the lookups match that component with a
// wildcard anyway.
constexpr const char *route_level_key = "0x0,0x0";

// Hexadecimal form of a printable address of the route's family, or an
// empty text when it does not parse.
std::string hex_address(bool ipv4, const std::string &text) {
    ip_addr_t a{};
    a.family = ipv4 ? YMAP_AF_INET : YMAP_AF_INET6;
    if (inet_pton(ipv4 ? AF_INET : AF_INET6, text.c_str(), a.addr) != 1) return {};
    char hex[64];
    if (ip_addr2hex_string(&a, hex, sizeof hex) != 0) return {};
    return hex;
}

// A '/' inside a key component would split the entry path; the internal
// form puts an underscore in its place.
std::string key_component(std::string text) {
    if (text.empty()) return absent_component;
    std::replace(text.begin(), text.end(), '/', '_');
    return text;
}

tuple_field number(uint32_t v) {
    return {tuple_field::kind::number, v, {}};
}
tuple_field number(const std::optional<uint32_t> &v, uint32_t absent) {
    return number(v.value_or(absent));
}
tuple_field text(const std::string &t) {
    return {tuple_field::kind::text, 0, t};
}

}  // namespace

std::string prefix_length_component(uint32_t length) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", length);
    return text;
}

std::string next_hop_key(const native_next_hop &nh) {
    std::string address = absent_component;
    if (!nh.next_hop_address.empty()) {
        address = hex_address(nh.ipv4, nh.next_hop_address);
        if (address.empty()) return {};
    }
    return key_component(nh.interface_name) + "," + address + "," +
           key_component(nh.explicit_path_name);
}

std::string route_next_hops_path(bool ipv4, const std::string &prefix, uint32_t prefix_length) {
    std::string hex = hex_address(ipv4, prefix);
    if (hex.empty()) return {};
    std::string path = ipv4 ? "ipv4" : "ipv6";
    path += "/unicast/ord_c/default/route/";
    path += hex;
    path += '/';
    path += prefix_length_component(prefix_length);
    path += '/';
    path += route_level_key;
    path += "/nexthop/";
    return path;
}

std::string next_hop_entry_path(const native_next_hop &nh) {
    std::string path = route_next_hops_path(nh.ipv4, nh.prefix, nh.prefix_length);
    std::string key = next_hop_key(nh);
    if (path.empty() || key.empty()) return {};
    return path + key;
}

uint32_t sysdb_write_next_hop(const native_next_hop &nh) {
    std::string path = next_hop_entry_path(nh);
    if (path.empty()) return SYSDB_ERR_BAD_ARGS;
    // Field order is the one the lookups unpack with "%d%d%d%d%d%d%d%d%s%s%d%s".
    std::vector<tuple_field> fields{
        number(nh.bfd_fast_detect ? 1u : 0u),
        number(nh.minimum_interval, absent_number),
        number(nh.detect_multiplier, absent_number),
        number(nh.metric, absent_number),
        number(nh.tag, 0),
        number(nh.permanent ? 1u : 0u),
        number(nh.vrf_label, no_vrf_label),
        number(nh.tunnel_id, 0),
        text(nh.object_name),
        text(nh.description),
        number(nh.load_metric, absent_number),
        text(nh.index),
    };
    sysdb_write(static_route_root + path, tuple_pack(fields));
    return SYSDB_OK;
}

}  // namespace platform
