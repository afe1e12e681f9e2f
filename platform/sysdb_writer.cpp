// Fills the database from native next-hops, keyed and packed the way the
// plug-in's lookups read them back.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>

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

// Hexadecimal form of a printable address of the route's family into out,
// or false when it does not parse.
bool hex_address(bool ipv4, const std::string &text, char (&out)[64]) {
    ip_addr_t a{};
    a.family = ipv4 ? YMAP_AF_INET : YMAP_AF_INET6;
    if (inet_pton(ipv4 ? AF_INET : AF_INET6, text.c_str(), a.addr) != 1) return false;
    return ip_addr2hex_string(&a, out, sizeof out) == 0;
}

// A '/' inside a key component would split the entry path; the internal
// form puts an underscore in its place.
void append_key_component(std::string &out, const std::string &text) {
    if (text.empty()) {
        out += absent_component;
        return;
    }
    const size_t at = out.size();
    out += text;
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), '/', '_');
}

void append_length_component(std::string &out, uint32_t length) {
    char digits[8];
    size_t n = 0;
    do {
        digits[n++] = "0123456789abcdef"[length & 0xf];
        length >>= 4;
    } while (length != 0);
    out += "0x";
    while (n != 0) out += digits[--n];
}

// The key "interface,address,path" appended to out; false when the address
// does not parse.
bool append_key(std::string &out, const native_next_hop &nh) {
    char address[64];
    if (!nh.next_hop_address.empty() && !hex_address(nh.ipv4, nh.next_hop_address, address))
        return false;
    append_key_component(out, nh.interface_name);
    out += ',';
    out += nh.next_hop_address.empty() ? absent_component : address;
    out += ',';
    append_key_component(out, nh.explicit_path_name);
    return true;
}

// The path of a route's next-hops relative to the binding root appended to
// out; false when the prefix does not parse.
bool append_route_path(std::string &out, bool ipv4, const std::string &prefix,
                       uint32_t prefix_length) {
    char hex[64];
    if (!hex_address(ipv4, prefix, hex)) return false;
    out += ipv4 ? "ipv4" : "ipv6";
    out += "/unicast/ord_c/default/route/";
    out += hex;
    out += '/';
    append_length_component(out, prefix_length);
    out += '/';
    out += route_level_key;
    out += "/nexthop/";
    return true;
}

// The entry path relative to the binding root appended to out; false when an
// address does not parse.
bool append_entry_path(std::string &out, const native_next_hop &nh) {
    return append_route_path(out, nh.ipv4, nh.prefix, nh.prefix_length) && append_key(out, nh);
}

uint32_t value_or(const std::optional<uint32_t> &v, uint32_t absent) {
    return v.value_or(absent);
}

}  // namespace

std::string prefix_length_component(uint32_t length) {
    std::string text;
    append_length_component(text, length);
    return text;
}

std::string next_hop_key(const native_next_hop &nh) {
    std::string key;
    if (!append_key(key, nh)) return {};
    return key;
}

std::string route_next_hops_path(bool ipv4, const std::string &prefix, uint32_t prefix_length) {
    std::string path;
    if (!append_route_path(path, ipv4, prefix, prefix_length)) return {};
    return path;
}

std::string next_hop_entry_path(const native_next_hop &nh) {
    std::string path;
    if (!append_entry_path(path, nh)) return {};
    return path;
}

uint32_t sysdb_write_next_hop(const native_next_hop &nh) {
    std::string path;
    path.reserve(256);
    path = static_route_root;
    if (!append_entry_path(path, nh)) return SYSDB_ERR_BAD_ARGS;
    // Field order is the one the lookups unpack with "%d%d%d%d%d%d%d%d%s%s%d%s".
    tuple_writer w(9 * 5 + 3 * 4 + nh.object_name.size() + nh.description.size() + nh.index.size());
    w.number(nh.bfd_fast_detect ? 1u : 0u);
    w.number(value_or(nh.minimum_interval, absent_number));
    w.number(value_or(nh.detect_multiplier, absent_number));
    w.number(value_or(nh.metric, absent_number));
    w.number(value_or(nh.tag, 0));
    w.number(nh.permanent ? 1u : 0u);
    w.number(value_or(nh.vrf_label, no_vrf_label));
    w.number(value_or(nh.tunnel_id, 0));
    w.text(nh.object_name);
    w.text(nh.description);
    w.number(value_or(nh.load_metric, absent_number));
    w.text(nh.index);
    sysdb_write(std::move(path), w.finish());
    return SYSDB_OK;
}

}  // namespace platform
