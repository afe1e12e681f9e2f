// OpenConfig edits through the real plug-in, for the decisions the ocmap
// scenarios do not reach: the configuration database is filled from a native
// running configuration, an OpenConfig request is walked, and the test
// compares the native adds in the order the plug-in made them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "native_store.h"
#include "test_support.h"
#include "ymap_ocstatic_oclocalrouting.h"

extern "C" {
ymap_result ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_staticroutes_static(
    yfw_map_ctx *, yfw_map_node *, yfw_map_datatree *);
ymap_result ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_nexthops_nexthop(
    yfw_map_ctx *, yfw_map_node *, yfw_map_datatree *);
}

namespace {

const std::string oc_open =
    "<local-routes xmlns='http://openconfig.net/yang/local-routing' "
    "xmlns:oc-loc-rt='http://openconfig.net/yang/local-routing' "
    "xmlns:nc='urn:ietf:params:xml:ns:netconf:base:1.0'>";

// Paths are compared in a short form: P4/P6 the family's prefix list, NT4/NT6
// its next-hop table; INTF, ADDR and BOTH the three next-hop lists.
std::string shorten(std::string s) {
    const std::pair<std::string, std::string> forms[] = {
        {"/vrf-route/vrf-next-hop-table", "~NT"},
        {"/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix",
         "P4"},
        {"/router-static/default-vrf/address-family/vrfipv6/vrf-unicast/vrf-prefixes/vrf-prefix",
         "P6"},
        {"P4~NT", "NT4"},
        {"P6~NT", "NT6"},
        {"/vrf-next-hop-interface-name-next-hop-address", "/BOTH"},
        {"/vrf-next-hop-interface-name", "/INTF"},
        {"/vrf-next-hop-next-hop-address", "/ADDR"},
    };
    for (const auto &[from, to] : forms)
        for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at))
            s.replace(at, from.size(), to);
    return s;
}

struct walk {
    ymap_result rc = 0;
    std::vector<std::string> errors;  // error record texts, in order
    // Only the adds into next-hop lists, where the decisions show.
    std::vector<std::string> entry_adds;
};

// The native running configuration: IPv4 route 10.0.0.0/8 with the given
// next-hop table contents (none: no route at all).
void load_store(const std::string &table) {
    std::string doc =
        "<router-static xmlns='http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg'>";
    if (!table.empty())
        doc +=
            "<default-vrf><address-family><vrfipv4><vrf-unicast><vrf-prefixes><vrf-prefix>"
            "<prefix>10.0.0.0</prefix><prefix-length>8</prefix-length><vrf-route>"
            "<vrf-next-hop-table>" +
            table +
            "</vrf-next-hop-table></vrf-route></vrf-prefix></vrf-prefixes></vrf-unicast>"
            "</vrfipv4></address-family></default-vrf>";
    doc += "</router-static>";
    yfw_host::input_error err;
    if (!yfw_host::load_native_store(doc, "store.xml", err)) throw std::runtime_error(err.text());
}

walk run_edit(const std::string &table, const std::string &body) {
    load_store(table);
    auto req = oclr_test::parse(oc_open + body + "</local-routes>");
    yfw_host::output_tree out;
    walk w;
    oclr_test::line_recorder lines;
    {
        yfw_host::session s(YFW_REQ_EDIT, out, &req, {true, false, false});
        w.rc = s.run(ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, req.root());
    }
    for (const auto &a : out.adds()) {
        std::string text = shorten(yfw_host::format_add(a));
        if (text.starts_with("add NT4/") || text.starts_with("add NT6/"))
            w.entry_adds.push_back(text);
    }
    for (const auto &l : lines.lines)
        if (auto at = l.text.find("ERR: YFW: ctx="); at != std::string::npos)
            w.errors.push_back(l.text.substr(l.text.find(',', at) + 1));
    return w;
}

// Route 10.0.0.0/8 with the given route-level children.
std::string route(const std::string &inner) {
    return "<static-routes><static><prefix>10.0.0.0/8</prefix>" + inner +
           "</static></static-routes>";
}
// Next-hop 1 of that route.
std::string next_hop(const std::string &inner, const std::string &index = "1") {
    return route("<next-hops><next-hop><index>" + index + "</index>" + inner +
                 "</next-hop></next-hops>");
}
std::string intf_ref(const std::string &inner) {
    return "<interface-ref><config>" + inner + "</config></interface-ref>";
}

// Stored next-hops with index 1.
const std::string stored_addr =
    "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.1</next-hop-address>"
    "<index>1</index><metric>5</metric></vrf-next-hop-next-hop-address>";
const std::string stored_intf =
    "<vrf-next-hop-interface-name><interface-name>Gi0/1</interface-name><index>1</index>"
    "</vrf-next-hop-interface-name>";
// Beside stored_addr: one route's next-hops have distinct indices.
const std::string stored_intf_2 =
    "<vrf-next-hop-interface-name><interface-name>Gi0/1</interface-name><index>2</index>"
    "</vrf-next-hop-interface-name>";

}  // namespace

// The decisions the scenarios do not reach: each row is one request on a
// stored next-hop table, with the refusal or the next-hop list adds it gives.
TEST(oc_edit, next_hop_decisions_and_refusals) {
    struct row {
        const char *what;
        std::string stored;
        std::string request;
        ymap_result rc;
        const char *error;  // the first error text, or null for none
        std::vector<std::string> adds;
    } rows[] = {
        {"interface-only entry moved to the combined list keeps its attributes",
         "<vrf-next-hop-interface-name><interface-name>Gi0/0/0/1</interface-name>"
         "<index>1</index><metric>5</metric><bfd-fast-detect>true</bfd-fast-detect>"
         "<minimum-interval>300</minimum-interval><detect-multiplier>3</detect-multiplier>"
         "<permanent>true</permanent><vrf-lable>7</vrf-lable><tunnel-id>9</tunnel-id>"
         "<object-name>obj</object-name><description>uplink</description>"
         "<load-metric>11</load-metric></vrf-next-hop-interface-name>",
         "<static-routes><static nc:operation='create'><prefix>10.0.0.0/8</prefix><config>"
         "<prefix>10.0.0.0/8</prefix><set-tag>100</set-tag></config><next-hops><next-hop>"
         "<index>1</index><config><index>1</index><next-hop>192.0.2.1</next-hop><metric>10"
         "</metric></config></next-hop></next-hops></static></static-routes>",
         YMAP_OK,
         nullptr,
         // The new tag on the stored entry first; then the combined entry
         // with the stored attributes, metric and tag as the request gives
         // them, then the old entry removed; no index, next-hop or metric
         // leaf after that.
         {"add NT4/INTF entry bound:merge",
          "add NT4/INTF/interface-name = Gi0/0/0/1",
          "add NT4/INTF/tag = 100 bound:merge",
          "add NT4/BOTH entry bound:merge",
          "add NT4/BOTH/next-hop-address = 192.0.2.1",
          "add NT4/BOTH/interface-name = Gi0/0/0/1",
          "add NT4/BOTH/index = 1 bound:merge",
          "add NT4/BOTH/bfd-fast-detect = true",
          "add NT4/BOTH/detect-multiplier = 3",
          "add NT4/BOTH/minimum-interval = 300",
          "add NT4/BOTH/metric = 10",
          "add NT4/BOTH/tag = 100",
          "add NT4/BOTH/permanent = true",
          "add NT4/BOTH/vrf-lable = 7",
          "add NT4/BOTH/tunnel-id = 9",
          "add NT4/BOTH/load-metric = 11",
          "add NT4/BOTH/object-name = obj",
          "add NT4/BOTH/description = uplink",
          "add NT4/INTF entry bound:remove",
          "add NT4/INTF/interface-name = Gi0/0/0/1 bound:remove"}},
        {"interface with a dot",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>" +
                  intf_ref("<interface>eth0.5</interface>")),
         YMAP_ERR_BAD_REQUEST,
         "Invalid request",
         {}},
        {"auto index in the config container is not written either",
         "",
         next_hop(
             "<config><index>**eth0**</index></config>" + intf_ref("<interface>eth0</interface>"),
             "**eth0**"),
         YMAP_OK,
         nullptr,
         {"add NT4/INTF entry bound:merge", "add NT4/INTF/interface-name = eth0 bound:merge"}},
        {"auto index that disagrees with the next-hop",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>", "**10.1.1.2**"),
         YMAP_ERR_INVALID_ARGS,
         "Index lookup failed",
         {}},
        {"next-hop deleted from an interface-only entry given another interface",
         stored_intf,
         next_hop("<config><next-hop nc:operation='delete'/></config>" +
                  intf_ref("<interface>eth2</interface>")),
         YMAP_OK,
         nullptr,
         {"add NT4/INTF entry bound:merge", "add NT4/INTF/interface-name = eth2",
          "add NT4/INTF/index = 1 bound:merge", "add NT4/INTF entry bound:remove",
          "add NT4/INTF/interface-name = Gi0/1 bound:remove"}},
        {"interface deleted from an address-only entry",
         stored_addr,
         next_hop("<config><next-hop>192.0.2.1</next-hop></config>" +
                  intf_ref("<interface nc:operation='delete'/>")),
         YMAP_ERR_BAD_REQUEST,
         "Delete received for the entry that has no interface config",
         {}},
        {"whole entry deleted",
         stored_addr,
         route("<next-hops><next-hop nc:operation='delete'><index>1</index></next-hop>"
               "</next-hops>"),
         YMAP_OK,
         nullptr,
         {"add NT4/ADDR entry bound:delete", "add NT4/ADDR/next-hop-address = 192.0.2.1"}},
        {"set-tag beyond 32 bits is refused rather than cut",
         "",
         route("<config><set-tag>123456789012345678901</set-tag></config>"),
         YMAP_ERR_BAD_REQUEST,
         "Invalid request",
         {}},
        {"set-tag replaced on an existing route is merged into every stored next-hop",
         stored_addr + stored_intf_2,
         route("<config><set-tag nc:operation='replace'>0x10</set-tag></config>"),
         YMAP_OK,
         nullptr,
         {"add NT4/INTF entry bound:merge", "add NT4/INTF/interface-name = Gi0/1",
          "add NT4/INTF/tag = 16 bound:merge", "add NT4/ADDR entry bound:merge",
          "add NT4/ADDR/next-hop-address = 192.0.2.1", "add NT4/ADDR/tag = 16 bound:merge"}},
    };
    for (const auto &r : rows) {
        auto w = run_edit(r.stored, r.request);
        EXPECT_EQ(w.rc, r.rc) << r.what;
        if (r.error != nullptr) {
            ASSERT_FALSE(w.errors.empty()) << r.what;
            EXPECT_EQ(w.errors.front(), r.error) << r.what;
        } else {
            EXPECT_TRUE(w.errors.empty()) << r.what << ": " << w.errors.front();
        }
        EXPECT_EQ(w.entry_adds, r.adds) << r.what;
    }
}

TEST(oc_edit, inside_a_replaced_route_entries_are_created_without_lookup) {
    // The stored next-hop 1 is interface-only; a replaced route writes the
    // request's next-hop afresh instead of moving the stored one.
    load_store(stored_intf);
    auto req = oclr_test::parse(
        oc_open +
        route("<next-hops><next-hop><index>1</index><config><next-hop>10.1.1.1</next-hop>"
              "</config></next-hop></next-hops>") +
        "</local-routes>");
    yfw_map_node *entry = &req.root()->children[0].children[0];
    entry->operation = YFW_OP_REPLACE;
    yfw_map_node *hop = &entry->children[1].children[0];
    yfw_host::output_tree out;
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {});
    ASSERT_EQ(
        s.run(ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_staticroutes_static,
              entry),
        YMAP_OK);
    ASSERT_EQ(
        s.run(ymap_ox_ocstatic_openconfiglocalrouting_man_list_lvla_localroutes_nexthops_nexthop,
              hop),
        YMAP_OK);
    std::vector<std::string> adds;
    for (const auto &a : out.adds()) adds.push_back(shorten(yfw_host::format_add(a)));
    EXPECT_EQ(adds, (std::vector<std::string>{"add P4 entry bound:replace",
                                              "add NT4/ADDR entry bound:merge"}));
}
