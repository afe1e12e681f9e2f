#include "native_store.h"

#include <arpa/inet.h>

#include <charconv>
#include <vector>

#include "sysdb_writer.h"

namespace yfw_host {

namespace {

const data_node *find(const data_node *n, const char *name) {
    if (n == nullptr) return nullptr;
    const schema_node *s = n->schema->child(name);
    return s ? n->child(s) : nullptr;
}

std::string text_of(const data_node &entry, const char *name) {
    const data_node *leaf = find(&entry, name);
    return leaf ? leaf->value : std::string();
}

// Values were checked against their types when the store was read.
std::optional<uint32_t> number_of(const data_node &entry, const char *name) {
    const data_node *leaf = find(&entry, name);
    if (leaf == nullptr) return std::nullopt;
    uint32_t v = 0;
    std::from_chars(leaf->value.data(), leaf->value.data() + leaf->value.size(), v);
    return v;
}

platform::native_next_hop next_hop(const data_node &entry, platform::native_next_hop nh) {
    nh.interface_name = text_of(entry, "interface-name");
    nh.next_hop_address = text_of(entry, "next-hop-address");
    nh.explicit_path_name = text_of(entry, "explicit-path-name");
    nh.object_name = text_of(entry, "object-name");
    nh.description = text_of(entry, "description");
    nh.index = text_of(entry, "index");
    nh.bfd_fast_detect = text_of(entry, "bfd-fast-detect") == "true";
    nh.permanent = text_of(entry, "permanent") == "true";
    nh.minimum_interval = number_of(entry, "minimum-interval");
    nh.detect_multiplier = number_of(entry, "detect-multiplier");
    nh.metric = number_of(entry, "metric");
    nh.tag = number_of(entry, "tag");
    nh.vrf_label = number_of(entry, "vrf-lable");
    nh.tunnel_id = number_of(entry, "tunnel-id");
    nh.load_metric = number_of(entry, "load-metric");
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
std::string prefix_problem(const data_node &route, bool ipv4) {
    std::string prefix = text_of(route, "prefix");
    std::string length = text_of(route, "prefix-length");
    std::string shown = "'" + prefix + "/" + length + "'";
    unsigned char bytes[16] = {};
    std::string why = address_problem(prefix, ipv4, bytes);
    if (!why.empty()) return shown + ": the address " + why;
    unsigned bits = ipv4 ? 32 : 128;
    unsigned len = number_of(route, "prefix-length").value_or(bits + 1);
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

}  // namespace

std::optional<store_load_stats> load_native_store(const data_node &config, const std::string &file,
                                                  input_error &err) {
    std::vector<platform::native_next_hop> hops;
    store_load_stats stats;
    const data_node *af = find(find(&config, "default-vrf"), "address-family");
    for (const char *family : {"vrfipv4", "vrfipv6"}) {
        const data_node *prefixes = find(find(find(af, family), "vrf-unicast"), "vrf-prefixes");
        if (prefixes == nullptr) continue;
        for (const auto &p : prefixes->children) {
            platform::native_next_hop base;
            base.ipv4 = family[6] == '4';
            base.prefix = text_of(*p, "prefix");
            base.prefix_length = number_of(*p, "prefix-length").value_or(0);
            if (std::string why = prefix_problem(*p, base.ipv4); !why.empty()) {
                err.file = file;
                err.message = "route " + p->path() + " has the prefix " + why;
                return std::nullopt;
            }
            ++stats.routes;
            const data_node *table = find(find(p.get(), "vrf-route"), "vrf-next-hop-table");
            if (table == nullptr) continue;
            for (const auto &e : table->children) {
                platform::native_next_hop nh = next_hop(*e, base);
                if (platform::next_hop_key(nh).empty()) {
                    err.file = file;
                    err.message = "next-hop " + e->path() + " has an address that is not a valid " +
                                  (nh.ipv4 ? "IPv4" : "IPv6") + " address: '" +
                                  nh.next_hop_address + "'";
                    return std::nullopt;
                }
                unsigned char bytes[16];
                std::string why = nh.next_hop_address.empty()
                                      ? std::string()
                                      : address_problem(nh.next_hop_address, nh.ipv4, bytes);
                if (!why.empty()) {
                    err.file = file;
                    err.message = "next-hop " + e->path() + " has the address '" +
                                  nh.next_hop_address + "', which " + why;
                    return std::nullopt;
                }
                hops.push_back(std::move(nh));
            }
        }
    }
    platform::sysdb_clear();
    for (const auto &nh : hops) {
        if (platform::sysdb_write_next_hop(nh) != 0) {
            err.file = file;
            err.message = "prefix '" + nh.prefix + "' is not a valid " +
                          (nh.ipv4 ? "IPv4" : "IPv6") + " address";
            platform::sysdb_clear();
            return std::nullopt;
        }
    }
    stats.next_hops = hops.size();
    return stats;
}

std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err) {
    auto tree = data_tree_from_xml(text, file, yang_schema::get().native_root(), err);
    if (!tree) return std::nullopt;
    return load_native_store(*tree->root, file, err);
}

}  // namespace yfw_host
