// What the framework sees of the plug-in: its dynamic symbol table, read
// straight from the ELF file, and the generated schema tables behind the
// walker and handler names.
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ymap_ox_schema.h"
#include "ymap_xo_schema.h"

namespace {

struct dyn_symbol {
    std::string name;
    unsigned bind;
    uint64_t value;
};

// Defined function symbols of the library's .dynsym section.
std::vector<dyn_symbol> read_dynsym(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<dyn_symbol> out;
    if (image.size() < sizeof(Elf64_Ehdr)) return out;
    const auto *eh = reinterpret_cast<const Elf64_Ehdr *>(image.data());
    const auto *sh = reinterpret_cast<const Elf64_Shdr *>(image.data() + eh->e_shoff);
    for (unsigned i = 0; i < eh->e_shnum; ++i) {
        if (sh[i].sh_type != SHT_DYNSYM) continue;
        const char *strtab = image.data() + sh[sh[i].sh_link].sh_offset;
        const auto *syms = reinterpret_cast<const Elf64_Sym *>(image.data() + sh[i].sh_offset);
        for (size_t s = 0; s < sh[i].sh_size / sizeof(Elf64_Sym); ++s) {
            if (syms[s].st_shndx == SHN_UNDEF || ELF64_ST_TYPE(syms[s].st_info) != STT_FUNC)
                continue;
            out.push_back(
                {strtab + syms[s].st_name, ELF64_ST_BIND(syms[s].st_info), syms[s].st_value});
        }
    }
    return out;
}

bool starts(const std::string &s, const std::string &p) {
    return s.rfind(p, 0) == 0;
}
bool ends(const std::string &s, const std::string &p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

const std::string ox = "ymap_ox_ocstatic_openconfiglocalrouting_";
const std::string xo = "ymap_xo_ocstatic_velmoornatipstaticcfg_";

// The schema path of a table row, rebuilt from its parents.
std::string path_of(const ymap::schema_node *nodes, uint16_t i) {
    std::string p;
    for (; i != ymap::no_node; i = nodes[i].parent) p = "/" + std::string(nodes[i].tag) + p;
    return p;
}

// Path of the row whose walker has the given name, "" when there is none.
std::string walker_path(const ymap::schema_tree &t, const std::string &walker) {
    for (uint16_t i = 0; i < t.node_count; ++i)
        if (walker == t.nodes[i].walker) return path_of(t.nodes, i);
    return "";
}

}  // namespace

TEST(plugin_symbols, counts_aliases_stubs_and_overrides) {
    const auto syms = read_dynsym(OCLR_PLUGIN_PATH);
    ASSERT_FALSE(syms.empty()) << "no dynamic symbols in " << OCLR_PLUGIN_PATH;

    std::map<uint64_t, std::string> strong_by_addr;
    std::map<std::string, const dyn_symbol *> by_name;
    size_t strong = 0, strong_augments = 0;
    for (const auto &s : syms) {
        by_name[s.name] = &s;
        if (!starts(s.name, "__ymap_")) continue;
        EXPECT_EQ(s.bind, STB_GLOBAL) << s.name;
        ++strong;
        strong_augments += ends(s.name, "_parse_augments");
        strong_by_addr[s.value] = s.name;
    }
    EXPECT_EQ(strong, 2292u);
    EXPECT_EQ(strong_augments, 637u);

    const std::string stub_names[] = {"duck_map_leaf", "duck_map_list", "duck_map_container"};
    std::map<uint64_t, std::string> stub_by_addr;
    for (const auto &side : {ox, xo})
        for (const auto &st : stub_names) {
            auto it = by_name.find(side + st);
            ASSERT_NE(it, by_name.end()) << side + st;
            stub_by_addr[it->second->value] = side + st;
        }

    size_t aliases = 0;
    std::map<std::string, size_t> stub_aliases;  // "<stub>/<kind>" -> count
    for (const auto &s : syms) {
        if (s.bind != STB_WEAK || !starts(s.name, "ymap_")) continue;
        if (auto it = strong_by_addr.find(s.value); it != strong_by_addr.end()) {
            // A weak alias shares its strong twin's code and carries its name.
            EXPECT_EQ(it->second, "__" + s.name);
            ++aliases;
        } else if (auto st = stub_by_addr.find(s.value); st != stub_by_addr.end()) {
            const std::string side = starts(s.name, ox) ? ox : xo;
            const std::string kind = s.name.substr(side.size(), 4);
            ++stub_aliases[st->second + "/" + kind];
        }
    }
    EXPECT_EQ(aliases, 2288u);
    EXPECT_EQ(stub_aliases[xo + "duck_map_leaf/leaf"], 3523u);
    EXPECT_EQ(stub_aliases[xo + "duck_map_list/list"], 193u);
    EXPECT_EQ(stub_aliases[xo + "duck_map_container/cont"], 177u);
    EXPECT_EQ(stub_aliases[ox + "duck_map_leaf/leaf"], 7u);
    EXPECT_EQ(stub_aliases[ox + "duck_map_list/list"], 1u);
    EXPECT_EQ(stub_aliases[ox + "duck_map_container/cont"], 13u);
    // Every stub alias is of its own kind's stub.
    EXPECT_EQ(stub_aliases.size(), 6u);

    // Hand-written replacements: the plain name is a strong definition of
    // its own, while the generated default stays exported beside it.
    for (const char *name :
         {"cont_lvla_localroutes_static_nexthops", "leaf_lvla_localroutes_config_index",
          "leaf_lvla_localroutes_nexthop_index", "leaf_lvla_localroutes_config_metric"}) {
        auto plain = by_name.find(ox + name), dflt = by_name.find("__" + ox + name);
        ASSERT_NE(plain, by_name.end()) << name;
        ASSERT_NE(dflt, by_name.end()) << name;
        EXPECT_EQ(plain->second->bind, STB_GLOBAL) << name;
        EXPECT_NE(plain->second->value, dflt->second->value) << name;
    }

    for (const char *name :
         {"__ymap_xo_ocstatic_velmoornatipstaticcfg_leaf_lvlan_routerstatic_"
          "vrfnexthopinterfacename_metric",
          "ymap_xo_ocstatic_velmoornatipstaticcfg_list_lvle_routerstatic_vrfprefixes_vrfprefix",
          "ymap_xo_ocstatic_velmoornatipstaticcfg_cont_lvln_routerstatic_vrfroute_"
          "vrfnexthoptable",
          "__ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes_staticroutes_static_parse_"
          "augments"})
        EXPECT_TRUE(by_name.count(name)) << name;

    // Walkers stay private; only the two roots may be exported.
    std::set<std::string> roots = {ox + "lvla_localroutes", xo + "lvla_routerstatic"};
    for (const auto &s : syms) {
        for (const auto &side : {ox, xo}) {
            if (starts(s.name, side + "lvl") && !ends(s.name, "_parse_augments")) {
                EXPECT_TRUE(roots.count(s.name)) << "exported walker " << s.name;
            }
        }
    }
}

TEST(schema_tables, shapes_and_the_variants_the_mapping_depends_on) {
    namespace xs = ymap::xo_schema;
    namespace os = ymap::ox_schema;
    auto count = [](const ymap::schema_tree &t, ymap::schema_kind k) {
        size_t n = 0;
        for (uint16_t i = 0; i < t.node_count; ++i) n += t.nodes[i].kind == k;
        return n;
    };
    EXPECT_EQ(count(xs::tree, ymap::schema_kind::container), 202u);
    EXPECT_EQ(count(xs::tree, ymap::schema_kind::list), 417u);
    EXPECT_EQ(count(xs::tree, ymap::schema_kind::leaf), 4907u);
    EXPECT_EQ(count(os::tree, ymap::schema_kind::container), 15u);
    EXPECT_EQ(count(os::tree, ymap::schema_kind::list), 3u);
    EXPECT_EQ(count(os::tree, ymap::schema_kind::leaf), 25u);
    uint8_t deepest = 0;
    for (uint16_t i = 0; i < xs::tree.node_count; ++i)
        deepest = std::max(deepest, xs::tree.nodes[i].depth);
    EXPECT_EQ(deepest, 15);

    const std::string p4 =
        "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/"
        "vrf-prefixes/vrf-prefix";
    const std::string p6 =
        "/router-static/default-vrf/address-family/vrfipv6/vrf-unicast/"
        "vrf-prefixes/vrf-prefix";
    const std::string nt = "/vrf-route/vrf-next-hop-table";
    struct expectation {
        std::string walker, path;
    } native[] = {
        {"lvle_routerstatic_vrfprefixes_vrfprefix", p4},
        {"lvlg_routerstatic_vrfprefixes_vrfprefix", p6},
        {"lvln_routerstatic_vrfroute_vrfnexthoptable", p4 + nt},
        {"lvlt_routerstatic_vrfroute_vrfnexthoptable", p6 + nt},
        {"lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress",
         p4 + nt + "/vrf-next-hop-next-hop-address"},
        {"lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress",
         p6 + nt + "/vrf-next-hop-interface-name-next-hop-address"},
        {"lvlan_routerstatic_vrfnexthopinterfacename_metric",
         p4 + nt + "/vrf-next-hop-interface-name/metric"},
        {"lvlbf_routerstatic_vrfnexthopnexthopaddress_index",
         p6 + nt + "/vrf-next-hop-next-hop-address/index"},
        // The same letter names different places for different pairs.
        {"lvle_routerstatic_vrfnexthoptable_vrfnexthopinterfacename",
         "/router-static/vrfs/vrf/address-family/vrfipv4/vrf-multicast/vrf-prefixes/vrf-prefix" +
             nt + "/vrf-next-hop-interface-name"},
        // 72 next-hop entry leaves per pair: the last is lvlbt.
        {"lvlbt_routerstatic_vrfnexthopinterfacename_tag",
         "/router-static/default-vrf/address-family/vrfipv6/vrf-multicast/default-topology/"
         "vrf-prefix-topologies/vrf-prefix-topology/vrf-seg-route/segment-route-next-hop-table/"
         "vrf-next-hop-interface-name/tag"},
        {"lvlbu_routerstatic_vrfnexthopinterfacename_tag", ""},
    };
    for (const auto &e : native)
        EXPECT_EQ(walker_path(xs::tree, xo + e.walker), e.path) << e.walker;

    EXPECT_EQ(walker_path(os::tree, ox + "lvla_localroutes_config_prefix"),
              "/local-routes/static-routes/static/config/prefix");
    EXPECT_EQ(walker_path(os::tree, ox + "lvlb_localroutes_config_prefix"),
              "/local-routes/local-aggregates/aggregate/config/prefix");

    // Lists carry their key and path; only state subtrees are state-only.
    std::map<std::string, std::string> keys;
    for (uint16_t i = 0; i < os::tree.node_count; ++i) {
        const auto &n = os::tree.nodes[i];
        const std::string p = path_of(os::tree.nodes, i);
        EXPECT_EQ(bool(n.state_only), p.find("/state") != std::string::npos) << p;
        if (n.kind == ymap::schema_kind::list) {
            EXPECT_EQ(p, n.list_path);
            EXPECT_EQ(n.key_count, 1u) << p;
            keys[n.tag] = os::tree.nodes[n.key].tag;
        }
    }
    EXPECT_EQ(keys, (std::map<std::string, std::string>{
                        {"static", "prefix"}, {"next-hop", "index"}, {"aggregate", "prefix"}}));
}
