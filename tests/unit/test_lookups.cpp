// The existing-configuration lookups and the mapping utilities, run against
// the configuration database filled from native router-static data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "native_store.h"
#include "sysdb_writer.h"
#include "test_support.h"
#include "ymap_ocstatic_openconfig_local_routing_man_util.h"

using namespace oclr_test;
using platform::sink_kind;

namespace {

constexpr uint32_t not_found = 0x40818600u;
const std::string nt4 =
    "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix/"
    "vrf-route/vrf-next-hop-table";

// A native store with the given vrfipv4 and vrfipv6 prefix entries.
std::string store(const std::string &v4, const std::string &v6 = "") {
    auto family = [](const char *name, const std::string &body) {
        return body.empty() ? std::string()
                            : std::string("<") + name + "><vrf-unicast><vrf-prefixes>" + body +
                                  "</vrf-prefixes></vrf-unicast></" + name + ">";
    };
    return "<router-static xmlns='http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg'>"
           "<default-vrf><address-family>" +
           family("vrfipv4", v4) + family("vrfipv6", v6) +
           "</address-family></default-vrf></router-static>";
}

std::string route(const char *prefix, int length, const std::string &next_hops) {
    return std::string("<vrf-prefix><prefix>") + prefix + "</prefix><prefix-length>" +
           std::to_string(length) + "</prefix-length><vrf-route><vrf-next-hop-table>" + next_hops +
           "</vrf-next-hop-table></vrf-route></vrf-prefix>";
}

// One static route with one next-hop entry whose children are given.
std::string oc_next_hop(const char *prefix, const std::string &entry, const char *op = "") {
    return std::string(
               "<local-routes xmlns='http://openconfig.net/yang/local-routing' "
               "xmlns:oc-loc-rt='http://openconfig.net/yang/local-routing' "
               "xmlns:nc='urn:ietf:params:xml:ns:netconf:base:1.0'><static-routes><static>"
               "<prefix>") +
           prefix + "</prefix><next-hops" + op + "><next-hop>" + entry +
           "</next-hop></next-hops></static></static-routes></local-routes>";
}

yfw_map_node *child(yfw_map_node *n, const char *tag) {
    for (uint32_t i = 0; n != nullptr && i < n->child_count; ++i)
        if (std::strcmp(n->children[i].tag, tag) == 0) return &n->children[i];
    return nullptr;
}

yfw_map_node *at(yfw_map_node *n, std::initializer_list<const char *> tags) {
    for (const char *t : tags) n = child(n, t);
    return n;
}

// The next-hop entry of a request made by oc_next_hop.
yfw_map_node *next_hop_of(yfw_host::request_tree &req) {
    return at(req.root(), {"static-routes", "static", "next-hops", "next-hop"});
}

struct lookups : ::testing::Test {
    yfw_host::output_tree out;
    line_recorder lines;

    void SetUp() override { platform::sysdb_record_searches(true); }
    void TearDown() override {
        platform::sysdb_record_searches(false);
        platform::sysdb_clear();
    }

    static void load(const std::string &text) {
        yfw_host::input_error err;
        ASSERT_TRUE(yfw_host::load_native_store(text, "store.xml", err)) << err.text();
    }

    static oc_lr_prefix_type *attach(yfw_host::session &s, const char *prefix, bool ipv4 = true) {
        auto *rec = static_cast<oc_lr_prefix_type *>(std::calloc(1, sizeof(oc_lr_prefix_type)));
        rec->prefix = prefix;
        rec->is_ipv4 = ipv4 ? 1 : 0;
        std::free(s.rctx()->common_data_ptr);  // whoever replaces the record frees it
        s.rctx()->common_data_ptr = rec;
        return rec;
    }

    // What the next-hop list callback does before it decides: reset, both
    // scans, index lookup.
    static uint32_t lookup(yfw_host::session &s, oc_lr_prefix_type *rec, yfw_map_node *entry) {
        oc_lr_init_prefix_type(rec);
        rec->intf_set = check_next_hop_interface_config(s.ctx(), entry);
        rec->nexthop_set = check_next_hop_ip_and_set_drop_config(s.ctx(), entry);
        return do_index_lookup_on_sysdb(s.ctx(), entry);
    }

    bool traced(const std::string &text) const {
        for (const auto &l : lines.lines)
            if (l.sink == sink_kind::trace_buffer && l.text.find(text) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::string> adds() const {
        std::vector<std::string> v;
        for (const auto &a : out.adds()) v.push_back(yfw_host::format_add(a));
        return v;
    }
};

// Next-hops of 10.0.0.0/8 in database order: two interface-only ones with
// tags 100 and 200 sort first; the address one has no tag and no metric.
const std::string stored_next_hops = store(
    route("10.0.0.0", 8,
          "<vrf-next-hop-interface-name><interface-name>Gi0/0/0/1</interface-name><tag>100</tag>"
          "<index>a</index><metric>4</metric></vrf-next-hop-interface-name>"
          "<vrf-next-hop-interface-name><interface-name>Gi0/0/0/2</interface-name><tag>200</tag>"
          "</vrf-next-hop-interface-name>"
          "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.2</next-hop-address>"
          "<index>b</index></vrf-next-hop-next-hop-address>"));

}  // namespace

TEST_F(lookups, route_pattern_keys_the_length_in_lower_case_hex_and_refuses_unkeyable_prefixes) {
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {});
    struct row {
        const char *prefix;
        bool ipv4;
        const char *pattern;
    } rows[] = {
        {"10.0.0.0/16", true, "ipv4/unicast/ord_c/default/route/0x0a000000/0x10/.*,.*/nexthop/"},
        {"10.0.0.64/26", true, "ipv4/unicast/ord_c/default/route/0x0a000040/0x1a/.*,.*/nexthop/"},
        {"0.0.0.0/0", true, "ipv4/unicast/ord_c/default/route/0x00000000/0x0/.*,.*/nexthop/"},
        {"2001:db8::/128", false,
         "ipv6/unicast/ord_c/default/route/0x20010db8000000000000000000000000/0x80/.*,.*/"
         "nexthop/"},
    };
    for (const auto &r : rows) {
        attach(s, r.prefix, r.ipv4);
        platform::sysdb_record_searches(true);
        EXPECT_EQ(do_sysdb_lookup_and_get_tag(s.ctx(), nullptr), not_found) << r.prefix;
        EXPECT_EQ(platform::sysdb_recorded_searches(), std::vector<std::string>{r.pattern});
    }
    // No length, a length the family cannot have, an address of the wrong
    // family (also right after the same text keyed in its own family): no
    // key form, and nothing is searched.
    platform::sysdb_record_searches(true);
    for (const char *bad :
         {"2001:db8::/128", "10.0.0.0", "10.0.0.0/33", "10.0.0.0/1x", "2001:db8::/64"}) {
        attach(s, bad, true);
        EXPECT_EQ(do_sysdb_lookup_and_get_tag(s.ctx(), nullptr), 0xffffffffu) << bad;
    }
    EXPECT_TRUE(platform::sysdb_recorded_searches().empty());
    std::free(s.rctx()->common_data_ptr);
    s.rctx()->common_data_ptr = nullptr;
    EXPECT_EQ(do_sysdb_lookup_and_get_tag(s.ctx(), nullptr), 0xaaf2e800u);
    EXPECT_STREQ(dec_to_hex(0), nullptr);
}

TEST_F(lookups, plain_index_finds_its_stored_next_hop_and_takes_the_route_tag_on_the_way) {
    load(stored_next_hops);
    auto req = parse(oc_next_hop(
        "10.0.0.0/8",
        "<index>b</index><config><index>b</index><next-hop>192.0.2.2</next-hop></config>"));
    yfw_map_node *nh = next_hop_of(req);
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {});

    // "b" is the third stored next-hop: the first one's tag reaches the
    // record on the way, and a stored absent metric keeps the record's.
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");
    oc_lr_init_prefix_type(rec);
    rec->intf_set = check_next_hop_interface_config(s.ctx(), nh);
    rec->nexthop_set = check_next_hop_ip_and_set_drop_config(s.ctx(), nh);
    rec->metric_value = 77;
    EXPECT_EQ(do_index_lookup_on_sysdb(s.ctx(), nh), 0u);
    EXPECT_STREQ(rec->tag_text, "100");
    EXPECT_EQ(rec->tag_value, 100u);
    EXPECT_EQ(rec->metric_value, 77u);
    EXPECT_EQ(rec->old_has_addr, 1u);
    EXPECT_EQ(rec->old_has_intf, 0u);
    EXPECT_STREQ(rec->old_addr, "192.0.2.2");
    EXPECT_EQ(rec->index_known, 0u);

    // "****" is a plain index: matched against stored indices only, one search.
    auto stars = parse(oc_next_hop("10.0.0.0/8",
                                   "<index>****</index><config><next-hop>"
                                   "192.0.2.2</next-hop></config>"));
    platform::sysdb_record_searches(true);
    rec = attach(s, "10.0.0.0/8");
    EXPECT_EQ(lookup(s, rec, next_hop_of(stars)), not_found);
    EXPECT_EQ(rec->index_known, 0u);
    EXPECT_EQ(platform::sysdb_recorded_searches().size(), 1u);
}

TEST_F(lookups, auto_index_is_checked_against_the_request_and_finds_native_next_hops) {
    load(stored_next_hops);
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {false, true, false});
    struct row {
        const char *prefix;
        std::string entry;
        uint32_t rc;
        uint32_t index_known;
        const char *trace;
    } rows[] = {
        {"10.9.0.0/16",
         "<index>**oc-loc-rt:DROP**</index><config><next-hop>oc-loc-rt:DROP</next-hop></config>",
         not_found, 1, "accepted, as it contains ** at start & end & valid nexthop data"},
        {"10.0.0.0/8",
         "<index>**Gi0/0/0/1**192.0.2.9**</index><config><next-hop>192.0.2.5</next-hop>"
         "</config><interface-ref><config><interface>Gi0/0/0/1</interface></config>"
         "</interface-ref>",
         0xaaf2a000u, 0, "& end& invalid nexthop data"},
        {"10.0.0.0/8",
         "<index>**192.0.2.8**192.0.2.8**</index><config><next-hop>192.0.2.8</next-hop>"
         "</config>",
         0xaaf2a000u, 0, "& end& invalid nexthop data"},
        // Local-link with an interface is interface-only: "**", interface, "**".
        {"10.0.0.0/8",
         "<index>**Gi0/0/0/3.5**</index><config><next-hop>oc-loc-rt:LOCAL_LINK</next-hop>"
         "</config><interface-ref><config><interface>Gi0/0/0/3</interface><subinterface>5"
         "</subinterface></config></interface-ref>",
         not_found, 1, "& end& valid nexthop data"},
    };
    for (const auto &r : rows) {
        auto req = parse(oc_next_hop(r.prefix, r.entry));
        oc_lr_prefix_type *rec = attach(s, r.prefix);
        lines.lines.clear();
        EXPECT_EQ(lookup(s, rec, next_hop_of(req)), r.rc) << r.entry;
        EXPECT_EQ(rec->index_known, r.index_known) << r.entry;
        EXPECT_TRUE(traced(r.trace)) << r.entry;
    }

    // A second part that is no address is refused before any key search.
    auto bad = parse(oc_next_hop("10.0.0.0/8", "<index>**Gi0/0/0/1**zz**</index>"));
    platform::sysdb_record_searches(true);
    EXPECT_EQ(lookup(s, attach(s, "10.0.0.0/8"), next_hop_of(bad)), 0xaaf2a000u);
    EXPECT_EQ(platform::sysdb_recorded_searches().size(), 1u);

    // Naming the natively configured interface next-hop: its key and
    // attributes come into the record.
    auto named = parse(oc_next_hop("10.0.0.0/8",
                                   "<index>**Gi0/0/0/1**</index><interface-ref><config><interface>"
                                   "Gi0/0/0/1</interface></config></interface-ref>"));
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");
    EXPECT_EQ(lookup(s, rec, next_hop_of(named)), 0u);
    EXPECT_TRUE(traced("Modification/Delete received for CLI entry"));
    EXPECT_EQ(rec->index_known, 1u);
    EXPECT_EQ(rec->old_has_intf, 1u);
    EXPECT_EQ(rec->old_has_addr, 0u);
    EXPECT_STREQ(rec->old_intf, "Gi0/0/0/1");
    EXPECT_EQ(rec->tag_value, 100u);
    EXPECT_EQ(rec->metric_value, 4u);
    EXPECT_EQ(rec->vrf_label, OC_LR_NO_VRF_LABEL);
}

TEST_F(lookups, request_scans_read_deletes_and_refuse_entries_without_index) {
    auto req = parse(oc_next_hop(
        "10.0.0.0/8",
        "<config><metric nc:operation='delete'/><next-hop>oc-loc-rt:LOCAL_LINK</next-hop></config>"
        "<interface-ref><config><interface>Gi0/1</interface><subinterface nc:operation='delete'/>"
        "</config></interface-ref>",
        " nc:operation='remove'"));
    yfw_map_node *st = at(req.root(), {"static-routes", "static"});
    yfw_map_node *nh = at(st, {"next-hops", "next-hop"});
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {true, false, false});
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");

    EXPECT_EQ(check_next_hop_interface_config(s.ctx(), nh), 1u);
    EXPECT_STREQ(rec->intf_name, "Gi0/1");
    EXPECT_EQ(rec->subintf_deleted, 1u);
    EXPECT_EQ(check_next_hop_ip_and_set_drop_config(s.ctx(), nh), 0u);
    EXPECT_EQ(rec->is_local_link, 1u);
    EXPECT_EQ(rec->metric_deleted, 1u);
    EXPECT_EQ(check_nexthops_operation_delete_replace(s.ctx(), st), 1u);
    at(st, {"next-hops"})->operation = YFW_OP_NONE;
    EXPECT_EQ(check_nexthops_operation_delete_replace(s.ctx(), st), 0u);

    lines.lines.clear();
    EXPECT_EQ(do_index_lookup_on_sysdb(s.ctx(), nh), 0xaaf29e00u);
    ASSERT_EQ(lines.lines.size(), 3u);
    EXPECT_NE(lines.lines[1].text.find(",Failed to get subtrees!"), std::string::npos);
    EXPECT_NE(lines.lines[2].text.find(",End"), std::string::npos);
    rec->prefix = nullptr;
    EXPECT_EQ(do_index_lookup_on_sysdb(s.ctx(), nh), 0xaaf2e800u);
}

TEST_F(lookups, set_tag_rewrites_every_stored_next_hop_and_only_in_edits) {
    load(store(route("10.0.0.0", 8,
                     "<vrf-next-hop-interface-name-next-hop-address><interface-name>Gi0/0/0/1"
                     "</interface-name><next-hop-address>192.0.2.1</next-hop-address>"
                     "</vrf-next-hop-interface-name-next-hop-address>"
                     "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.2"
                     "</next-hop-address></vrf-next-hop-next-hop-address>")));
    auto req = parse(
        "<local-routes xmlns='http://openconfig.net/yang/local-routing' "
        "xmlns:nc='urn:ietf:params:xml:ns:netconf:base:1.0'><static-routes><static><prefix>"
        "10.0.0.0/8</prefix><config><set-tag nc:operation='delete'/></config></static>"
        "</static-routes></local-routes>");
    yfw_map_node *tag = at(req.root(), {"static-routes", "static", "config", "set-tag"});
    {
        yfw_host::session read(YFW_REQ_READ_CONFIG, out, &req, {});
        attach(read, "10.0.0.0/8");
        EXPECT_EQ(do_prefix_lookup_on_sysdb_and_set_tag(read.ctx(), tag, read.tree()), 0u);
        EXPECT_TRUE(out.adds().empty());
    }
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {});
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");
    EXPECT_EQ(do_prefix_lookup_on_sysdb_and_set_tag(s.ctx(), tag, s.tree()), 0u);
    const std::string both = nt4 + "/vrf-next-hop-interface-name-next-hop-address";
    const std::string addr = nt4 + "/vrf-next-hop-next-hop-address";
    EXPECT_EQ(adds(), (std::vector<std::string>{
                          "add " + both + " entry bound:merge",
                          "add " + both + "/next-hop-address = 192.0.2.1",
                          "add " + both + "/interface-name = Gi0/0/0/1",
                          "add " + both + "/tag =  bound:delete",
                          "add " + addr + " entry bound:merge",
                          "add " + addr + "/next-hop-address = 192.0.2.2",
                          "add " + addr + "/tag =  bound:delete",
                      }));
    EXPECT_EQ(tag->operation, YFW_OP_DELETE);
    EXPECT_TRUE(tag->flags & YFW_NODE_OP_REWRITTEN);
    EXPECT_EQ(rec->tag_deleted, 1u);
}

TEST_F(lookups, route_tag_comes_from_the_first_next_hop_without_explicit_path) {
    load(store(route("10.0.0.0", 8,
                     "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.2"
                     "</next-hop-address><tag>9</tag></vrf-next-hop-next-hop-address>"
                     "<vrf-next-hop-next-hop-address-explicit-path-name><next-hop-address>"
                     "192.0.2.1</next-hop-address><explicit-path-name>p1</explicit-path-name>"
                     "<tag>5</tag></vrf-next-hop-next-hop-address-explicit-path-name>") +
               route("10.1.0.0", 16,
                     "<vrf-next-hop-explicit-path-name><explicit-path-name>p2"
                     "</explicit-path-name><tag>6</tag></vrf-next-hop-explicit-path-name>")));
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {});
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");
    EXPECT_EQ(do_sysdb_lookup_and_get_tag(s.ctx(), nullptr), 0u);
    EXPECT_STREQ(rec->tag_text, "9");
    rec = attach(s, "10.1.0.0/16");
    EXPECT_EQ(do_sysdb_lookup_and_get_tag(s.ctx(), nullptr), 0u);
    EXPECT_STREQ(rec->tag_text, "");
}

TEST_F(lookups, metadata_carries_over_stored_attributes_or_writes_the_request_in_replace) {
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {});
    oc_lr_prefix_type *rec = attach(s, "10.0.0.0/8");
    const std::string e = nt4 + "/vrf-next-hop-next-hop-address";

    // A freshly reset record carries nothing over, not even a label.
    oc_lr_init_prefix_type(rec);
    EXPECT_EQ(set_metadata_path(e.c_str(), s.ctx(), s.tree()), 0u);
    rec->permanent = 1;
    EXPECT_EQ(set_metadata_path(e.c_str(), s.ctx(), s.tree()), 0u);
    EXPECT_EQ(adds(), std::vector<std::string>{"add " + e + "/permanent = true"});

    out = yfw_host::output_tree();
    rec->metric = "12";
    rec->metric_value = 12;
    rec->tag_value = 7;
    rec->vrf_label = 0;
    std::strcpy(rec->object_name, "a-32-character-object-name-here!");
    EXPECT_EQ(set_metadata_path(e.c_str(), s.ctx(), s.tree()), 0u);
    EXPECT_EQ(adds(), (std::vector<std::string>{
                          "add " + e + "/metric = 12", "add " + e + "/tag = 7",
                          "add " + e + "/permanent = true", "add " + e + "/vrf-lable = 0",
                          "add " + e + "/object-name = a-32-character-object-name-here!"}));
    EXPECT_EQ(rec->metric_written, 1u);

    out = yfw_host::output_tree();
    rec->is_replace = 1;
    rec->metric_written = 0;
    std::strcpy(rec->tag_text, "300");
    EXPECT_EQ(set_metadata_path(e.c_str(), s.ctx(), s.tree()), 0u);
    rec->tag_deleted = 1;
    rec->metric = nullptr;
    EXPECT_EQ(set_metadata_path(e.c_str(), s.ctx(), s.tree()), 0u);
    EXPECT_EQ(adds(),
              (std::vector<std::string>{"add " + e + "/tag = 300", "add " + e + "/metric = 12",
                                        "add " + e + "/tag = 7"}));
    EXPECT_EQ(rec->metric_written, 1u);
}

// The path forms and key texts every scenario's adds show are left to them;
// these are the ones no ocmap run reaches.
TEST_F(lookups, native_paths_and_interface_forms) {
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {true, false, false});
    char path[OC_LR_NATIVE_PATH];
    EXPECT_EQ(get_mapping_path_name(s.ctx(), 0, 1, 1, 0, path), 0u);
    EXPECT_STREQ(path,
                 "/router-static/default-vrf/address-family/vrfipv6/vrf-unicast/vrf-prefixes/"
                 "vrf-prefix/vrf-route/vrf-next-hop-table/"
                 "vrf-next-hop-interface-name-next-hop-address");
    lines.lines.clear();
    EXPECT_EQ(get_mapping_path_name(s.ctx(), 1, 0, 0, 1, path), 0xaaf29e00u);
    EXPECT_STREQ(path, "/router-static/default-vrf/address-family/vrfipv4");
    EXPECT_NE(lines.lines.at(1).text.find(",Invalid request to get path"), std::string::npos);

    char name[OC_LR_INTF_TEXT + 1];
    oc_lr_convert_to_internal_ifname(name, "Gi0/0/0/1");
    EXPECT_STREQ(name, "Gi0_0_0_1");
    get_external_ifname(name);
    EXPECT_STREQ(name, "Gi0/0/0/1");

    platform::imc_set_known_interfaces({"Gi0/0/0/1"});
    EXPECT_TRUE(oc_lr_validate_ifname("Gi0/0/0/1"));
    EXPECT_FALSE(oc_lr_validate_ifname("Gi0/0/0/2"));
    EXPECT_FALSE(oc_lr_validate_ifname((std::string(64, 'G') + "i0/0/0/1").c_str()));
    platform::imc_set_known_interfaces({});

    EXPECT_EQ(get_length("a/b/"), 2u);
    EXPECT_EQ(get_length("abc"), 0u);
}
