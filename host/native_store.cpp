#include "native_store.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "sysdb_writer.h"

namespace yfw_host {

namespace {

struct loader {
    const std::string &file;
    std::string_view text;
    input_error &err;

    bool fail(const pugi::xml_node &at, std::string msg) {
        err.file = file;
        err.line = 1;
        err.column = 1;
        ptrdiff_t off = at.offset_debug();
        for (ptrdiff_t i = 0; i < off && i < static_cast<ptrdiff_t>(text.size()); ++i) {
            if (text[i] == '\n') {
                ++err.line;
                err.column = 1;
            } else {
                ++err.column;
            }
        }
        err.message = std::move(msg);
        return false;
    }

    static const char *local(const pugi::xml_node &n) {
        const char *c = std::strchr(n.name(), ':');
        return c ? c + 1 : n.name();
    }

    static pugi::xml_node child(const pugi::xml_node &n, const char *name) {
        for (auto c : n.children())
            if (c.type() == pugi::node_element && std::strcmp(local(c), name) == 0) return c;
        return {};
    }

    bool number(const pugi::xml_node &leaf, uint32_t max, uint32_t &out) {
        std::string_view v = leaf.child_value();
        auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
        if (v.empty() || ec != std::errc() || p != v.data() + v.size() || out > max)
            return fail(leaf, std::string("<") + local(leaf) + "> value '" + std::string(v) +
                                  "' is not a number from 0 to " + std::to_string(max));
        return true;
    }

    bool optional_number(const pugi::xml_node &entry, const char *name,
                         std::optional<uint32_t> &out) {
        pugi::xml_node leaf = child(entry, name);
        if (!leaf) return true;
        uint32_t v = 0;
        if (!number(leaf, 0xffffffffu, v)) return false;
        out = v;
        return true;
    }

    bool boolean(const pugi::xml_node &entry, const char *name, bool &out) {
        pugi::xml_node leaf = child(entry, name);
        if (!leaf) return true;
        std::string_view v = leaf.child_value();
        if (v != "true" && v != "false")
            return fail(leaf, std::string("<") + name + "> value '" + std::string(v) +
                                  "' is not true or false");
        out = v == "true";
        return true;
    }

    bool next_hop(const pugi::xml_node &entry, platform::native_next_hop nh,
                  std::vector<platform::native_next_hop> &out) {
        nh.interface_name = child(entry, "interface-name").child_value();
        nh.next_hop_address = child(entry, "next-hop-address").child_value();
        nh.explicit_path_name = child(entry, "explicit-path-name").child_value();
        nh.object_name = child(entry, "object-name").child_value();
        nh.description = child(entry, "description").child_value();
        nh.index = child(entry, "index").child_value();
        if (!boolean(entry, "bfd-fast-detect", nh.bfd_fast_detect) ||
            !boolean(entry, "permanent", nh.permanent) ||
            !optional_number(entry, "minimum-interval", nh.minimum_interval) ||
            !optional_number(entry, "detect-multiplier", nh.detect_multiplier) ||
            !optional_number(entry, "metric", nh.metric) ||
            !optional_number(entry, "tag", nh.tag) ||
            !optional_number(entry, "vrf-lable", nh.vrf_label) ||
            !optional_number(entry, "tunnel-id", nh.tunnel_id) ||
            !optional_number(entry, "load-metric", nh.load_metric))
            return false;
        if (platform::next_hop_key(nh).empty())
            return fail(entry, "next-hop of " + nh.prefix + "/" + std::to_string(nh.prefix_length) +
                                   " has an address that is not a valid " +
                                   (nh.ipv4 ? "IPv4" : "IPv6") + " address: '" +
                                   nh.next_hop_address + "'");
        out.push_back(std::move(nh));
        return true;
    }
};

}  // namespace

std::optional<store_load_stats> load_native_store(std::string_view text, const std::string &file,
                                                  input_error &err) {
    auto parsed = request_tree::from_xml(text, file, "router-static", native_namespace, false, err);
    if (!parsed) return std::nullopt;

    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    loader l{file, text, err};
    pugi::xml_node rs = doc.document_element();
    if (std::strcmp(loader::local(rs), "router-static") != 0) {
        for (auto c : rs.children())
            if (c.type() == pugi::node_element &&
                std::strcmp(loader::local(c), "router-static") == 0)
                rs = c;
    }

    static const char *lists[] = {
        "vrf-next-hop-interface-name", "vrf-next-hop-interface-name-next-hop-address",
        "vrf-next-hop-next-hop-address", "vrf-next-hop-next-hop-address-explicit-path-name",
        "vrf-next-hop-explicit-path-name"};
    std::vector<platform::native_next_hop> hops;
    store_load_stats stats;
    pugi::xml_node af = loader::child(loader::child(rs, "default-vrf"), "address-family");
    for (const char *family : {"vrfipv4", "vrfipv6"}) {
        pugi::xml_node prefixes =
            loader::child(loader::child(loader::child(af, family), "vrf-unicast"), "vrf-prefixes");
        for (auto p : prefixes.children()) {
            if (p.type() != pugi::node_element || std::strcmp(loader::local(p), "vrf-prefix") != 0)
                continue;
            platform::native_next_hop base;
            base.ipv4 = std::strcmp(family, "vrfipv4") == 0;
            pugi::xml_node prefix = loader::child(p, "prefix");
            pugi::xml_node length = loader::child(p, "prefix-length");
            if (!prefix || !length) {
                l.fail(p, "vrf-prefix without its keys prefix and prefix-length");
                return std::nullopt;
            }
            base.prefix = prefix.child_value();
            if (!l.number(length, base.ipv4 ? 32 : 128, base.prefix_length)) return std::nullopt;
            ++stats.routes;
            pugi::xml_node table =
                loader::child(loader::child(p, "vrf-route"), "vrf-next-hop-table");
            for (const char *list : lists) {
                for (auto e : table.children()) {
                    if (e.type() != pugi::node_element || std::strcmp(loader::local(e), list) != 0)
                        continue;
                    if (!l.next_hop(e, base, hops)) return std::nullopt;
                }
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

}  // namespace yfw_host
