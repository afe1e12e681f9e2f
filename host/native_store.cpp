#include "native_store.h"

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
