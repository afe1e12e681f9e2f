// OpenConfig edits and reads through the real plug-in: the configuration
// database is filled from a native running configuration, an OpenConfig
// request is walked from its root, and the test compares the native adds in
// the order the plug-in made them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "native_store.h"
#include "oc_lr_types.h"
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
    std::vector<std::string> adds;
    std::vector<std::string> errors;  // error record texts, in order
    std::vector<std::string> traces;  // trace record texts
    // Only the adds into next-hop lists, where the decisions show.
    std::vector<std::string> entry_adds() const {
        std::vector<std::string> out;
        for (const auto &a : adds)
            if (a.rfind("add NT4/", 0) == 0 || a.rfind("add NT6/", 0) == 0) out.push_back(a);
        return out;
    }
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

std::string record_text(const std::string &line) {
    auto at = line.find("ctx=");
    return at == std::string::npos ? line : line.substr(line.find(',', at) + 1);
}

walk run(uint32_t kind, const std::string &table, const std::string &body) {
    load_store(table);
    auto req = oclr_test::parse(oc_open + body + "</local-routes>", kind == YFW_REQ_EDIT);
    yfw_host::output_tree out;
    walk w;
    oclr_test::line_recorder lines;
    {
        yfw_host::session s(kind, out, &req, {true, false, false});
        w.rc = s.run(ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, req.root());
    }
    for (const auto &a : out.adds()) w.adds.push_back(shorten(yfw_host::format_add(a)));
    for (const auto &l : lines.lines) {
        if (l.text.find("ERR: YFW: ctx=") != std::string::npos)
            w.errors.push_back(record_text(l.text));
        else if (l.text.find("TRC: YFW: ctx=") != std::string::npos)
            w.traces.push_back(record_text(l.text));
    }
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
const std::string stored_both =
    "<vrf-next-hop-interface-name-next-hop-address><interface-name>Gi0/1</interface-name>"
    "<next-hop-address>192.0.2.1</next-hop-address><index>1</index><metric>5</metric>"
    "</vrf-next-hop-interface-name-next-hop-address>";

const std::string create_route_request = R"(
  <static-routes><static nc:operation="create"><prefix>10.0.0.0/8</prefix>
    <config><prefix>10.0.0.0/8</prefix><set-tag>100</set-tag></config>
    <next-hops>
      <next-hop><index>1</index>
        <config><index>1</index><next-hop>192.0.2.1</next-hop><metric>10</metric></config>
      </next-hop>
      <next-hop><index>2</index>
        <config><index>2</index><next-hop>oc-loc-rt:DROP</next-hop></config>
      </next-hop>
    </next-hops>
  </static></static-routes>)";

const std::vector<std::string> drop_next_hop_2 = {
    "add NT4/INTF entry bound:merge",
    "add NT4/INTF/tag = 100 bound:merge",
    "add NT4/INTF/index = 2 bound:merge",
    "add NT4/INTF/index = 2 bound:merge",
    "add NT4/INTF/interface-name = Null0 bound:merge",
};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(oc_edit, next_hop_stored_as_interface_only_moves_to_the_combined_list) {
    auto w = run(YFW_REQ_EDIT,
                 "<vrf-next-hop-interface-name><interface-name>Gi0/0/0/1</interface-name>"
                 "<index>1</index><metric>5</metric><permanent>true</permanent>"
                 "<description>uplink</description></vrf-next-hop-interface-name>",
                 create_route_request);
    ASSERT_EQ(w.rc, YMAP_OK) << (w.errors.empty() ? "" : w.errors.back());
    auto from = std::find(w.adds.begin(), w.adds.end(), "add NT4 bound:merge");
    ASSERT_NE(from, w.adds.end());
    // The combined entry with the stored interface, its index and the
    // stored attributes (metric and tag as the request gives them), then the
    // old entry removed; no index, next-hop or metric leaf after that.
    const std::vector<std::string> moved = {
        "add NT4 bound:merge",
        "add NT4/BOTH entry bound:merge",
        "add NT4/BOTH/next-hop-address = 192.0.2.1",
        "add NT4/BOTH/interface-name = Gi0/0/0/1",
        "add NT4/BOTH/index = 1 bound:merge",
        "add NT4/BOTH/metric = 10",
        "add NT4/BOTH/tag = 100",
        "add NT4/BOTH/permanent = true",
        "add NT4/BOTH/description = uplink",
        "add NT4/INTF entry bound:remove",
        "add NT4/INTF/interface-name = Gi0/0/0/1 bound:remove",
    };
    EXPECT_EQ(std::vector<std::string>(from, w.adds.end()), concat({moved, drop_next_hop_2}));
}

TEST(oc_edit, next_hop_decisions_and_refusals) {
    struct row {
        const char *what;
        std::string stored;
        std::string request;
        ymap_result rc;
        const char *error;  // the first error text, or null for none
        std::vector<std::string> adds;
    } rows[] = {
        {"new address and interface with subinterface 100",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>" +
                  intf_ref("<interface>eth0</interface><subinterface>100</subinterface>")),
         YMAP_OK,
         nullptr,
         {"add NT4/BOTH entry bound:merge", "add NT4/BOTH/index = 1 bound:merge",
          "add NT4/BOTH/next-hop-address = 10.1.1.1 bound:merge",
          "add NT4/BOTH/interface-name = eth0.100 bound:merge"}},
        {"subinterface 0 is the interface itself",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>" +
                  intf_ref("<interface>eth0</interface><subinterface>0</subinterface>")),
         YMAP_OK,
         nullptr,
         {"add NT4/BOTH entry bound:merge", "add NT4/BOTH/index = 1 bound:merge",
          "add NT4/BOTH/next-hop-address = 10.1.1.1 bound:merge",
          "add NT4/BOTH/interface-name = eth0 bound:merge"}},
        {"local-link with an interface is interface-only",
         "",
         next_hop("<config><next-hop>oc-loc-rt:LOCAL_LINK</next-hop></config>" +
                  intf_ref("<interface>eth1</interface>")),
         YMAP_OK,
         nullptr,
         {"add NT4/INTF entry bound:merge", "add NT4/INTF/index = 1 bound:merge",
          "add NT4/INTF/interface-name = eth1 bound:merge"}},
        {"drop with an interface",
         "",
         next_hop("<config><next-hop>oc-loc-rt:DROP</next-hop></config>" +
                  intf_ref("<interface>eth1</interface>")),
         YMAP_ERR_BAD_REQUEST,
         "Interface configuration is not allowed when next-hop is drop",
         {}},
        {"local-link without an interface",
         "",
         next_hop("<config><next-hop>oc-loc-rt:LOCAL_LINK</next-hop></config>"),
         YMAP_ERR_BAD_REQUEST,
         "Interface configuration is must when next-hop is local-link",
         {}},
        {"interface with a dot",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>" +
                  intf_ref("<interface>eth0.5</interface>")),
         YMAP_ERR_BAD_REQUEST,
         "Invalid request",
         {}},
        {"leaf delete under an unknown index",
         stored_addr,
         next_hop("<config><metric nc:operation='delete'/></config>", "9"),
         YMAP_SYSDB_NOT_FOUND,
         "Delete operation received for unknown index",
         {}},
        {"interface added to an address-only entry",
         stored_addr,
         next_hop(intf_ref("<interface>eth0</interface>")),
         YMAP_OK,
         nullptr,
         {"add NT4/BOTH entry bound:merge", "add NT4/BOTH/next-hop-address = 192.0.2.1",
          "add NT4/BOTH/interface-name = eth0", "add NT4/BOTH/index = 1 bound:merge",
          "add NT4/BOTH/metric = 5", "add NT4/ADDR entry bound:remove",
          "add NT4/ADDR/next-hop-address = 192.0.2.1 bound:remove"}},
        {"new address for a combined entry keeps its interface",
         stored_both,
         next_hop("<config><next-hop>192.0.2.9</next-hop></config>"),
         YMAP_OK,
         nullptr,
         {"add NT4/BOTH entry bound:merge", "add NT4/BOTH/next-hop-address = 192.0.2.9",
          "add NT4/BOTH/interface-name = Gi0/1", "add NT4/BOTH/index = 1 bound:merge",
          "add NT4/BOTH/metric = 5", "add NT4/BOTH entry bound:remove",
          "add NT4/BOTH/next-hop-address = 192.0.2.1 bound:remove",
          "add NT4/BOTH/interface-name = Gi0/1 bound:remove"}},
        {"unchanged next-hop of a combined entry",
         stored_both,
         next_hop("<config><next-hop>192.0.2.1</next-hop></config>"),
         YMAP_OK,
         nullptr,
         {}},
        {"interface deleted from a combined entry",
         stored_both,
         next_hop(intf_ref("<interface nc:operation='delete'/>")),
         YMAP_OK,
         nullptr,
         {"add NT4/ADDR entry bound:merge", "add NT4/ADDR/next-hop-address = 192.0.2.1",
          "add NT4/ADDR/index = 1 bound:merge", "add NT4/ADDR/metric = 5",
          "add NT4/BOTH entry bound:delete", "add NT4/BOTH/interface-name = Gi0/1",
          "add NT4/BOTH/next-hop-address = 192.0.2.1"}},
        {"next-hop deleted from an interface-only entry",
         stored_intf,
         next_hop("<config><next-hop nc:operation='delete'/></config>"),
         YMAP_ERR_BAD_REQUEST,
         "Delete received for the entry that has no nexthop config",
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
        {"subinterface deleted from Gi0/1.100",
         "<vrf-next-hop-interface-name><interface-name>Gi0/1.100</interface-name>"
         "<index>1</index></vrf-next-hop-interface-name>",
         next_hop(intf_ref("<subinterface nc:operation='delete'/>")),
         YMAP_OK,
         nullptr,
         {"add NT4/INTF entry bound:merge", "add NT4/INTF/interface-name = Gi0/1",
          "add NT4/INTF/index = 1 bound:merge", "add NT4/INTF entry bound:remove",
          "add NT4/INTF/interface-name = Gi0/1.100 bound:remove"}},
        {"metric of a combined entry",
         stored_both,
         next_hop("<config><metric>7</metric></config>"),
         YMAP_OK,
         nullptr,
         {"add NT4/BOTH/next-hop-address = 192.0.2.1", "add NT4/BOTH/interface-name = Gi0/1",
          "add NT4/BOTH/metric = 7 bound:merge"}},
        {"metric deleted while the next-hop is re-created",
         stored_addr,
         next_hop("<config><next-hop>192.0.2.9</next-hop><metric nc:operation='delete'/>"
                  "</config>"),
         YMAP_OK,
         nullptr,
         {"add NT4/ADDR entry bound:merge", "add NT4/ADDR/next-hop-address = 192.0.2.9",
          "add NT4/ADDR/index = 1 bound:merge", "add NT4/ADDR entry bound:remove",
          "add NT4/ADDR/next-hop-address = 192.0.2.1 bound:remove"}},
        {"whole entry deleted",
         stored_addr,
         route("<next-hops><next-hop nc:operation='delete'><index>1</index></next-hop>"
               "</next-hops>"),
         YMAP_OK,
         nullptr,
         {"add NT4/ADDR entry bound:delete", "add NT4/ADDR/next-hop-address = 192.0.2.1"}},
        {"auto index names the next-hop, no index leaf",
         "",
         next_hop("<config><next-hop>10.1.1.1</next-hop></config>", "**10.1.1.1**"),
         YMAP_OK,
         nullptr,
         {"add NT4/ADDR entry bound:merge",
          "add NT4/ADDR/next-hop-address = 10.1.1.1 bound:merge"}},
    };
    for (const auto &r : rows) {
        auto w = run(YFW_REQ_EDIT, r.stored, r.request);
        EXPECT_EQ(w.rc, r.rc) << r.what;
        if (r.error != nullptr) {
            ASSERT_FALSE(w.errors.empty()) << r.what;
            EXPECT_EQ(w.errors.front(), r.error) << r.what;
        } else {
            EXPECT_TRUE(w.errors.empty()) << r.what << ": " << w.errors.front();
        }
        EXPECT_EQ(w.entry_adds(), r.adds) << r.what;
    }
}

TEST(oc_edit, auto_index_is_traced_instead_of_written) {
    auto w = run(YFW_REQ_EDIT, "",
                 next_hop("<config><index>**eth0**</index></config>" +
                              intf_ref("<interface>eth0</interface>"),
                          "**eth0**"));
    ASSERT_EQ(w.rc, YMAP_OK);
    EXPECT_EQ(
        std::count(w.traces.begin(), w.traces.end(), "Need not map index, as it is auto index"), 2);
    // An auto index that disagrees with the request's next-hop is refused.
    w = run(YFW_REQ_EDIT, "",
            next_hop("<config><next-hop>10.1.1.1</next-hop></config>", "**10.1.1.2**"));
    EXPECT_EQ(w.rc, YMAP_ERR_INVALID_ARGS);
    ASSERT_FALSE(w.errors.empty());
    EXPECT_EQ(w.errors.front(), "Index lookup failed");
}

TEST(oc_edit, set_tag_is_written_in_decimal) {
    for (const char *tag : {"0x1F", "1f", "1F", "31"}) {
        auto w = run(YFW_REQ_EDIT, "",
                     route(std::string("<config><set-tag>") + tag +
                           "</set-tag></config><next-hops><next-hop><index>1</index><config>"
                           "<next-hop>10.1.1.1</next-hop></config></next-hop></next-hops>"));
        ASSERT_EQ(w.rc, YMAP_OK) << tag;
        EXPECT_EQ(w.entry_adds().at(1), "add NT4/ADDR/tag = 31 bound:merge") << tag;
    }
    // A text that cannot be a 32-bit tag is refused rather than cut.
    auto w =
        run(YFW_REQ_EDIT, "", route("<config><set-tag>123456789012345678901</set-tag></config>"));
    EXPECT_EQ(w.rc, YMAP_ERR_BAD_REQUEST);

    // On an existing route the tag is rewritten on every stored next-hop,
    // and a replace of the leaf is a merge.
    w = run(YFW_REQ_EDIT, stored_addr + stored_intf,
            route("<config><set-tag nc:operation='replace'>0x10</set-tag></config>"));
    ASSERT_EQ(w.rc, YMAP_OK);
    auto tags = w.entry_adds();
    tags.erase(
        std::remove_if(tags.begin(), tags.end(),
                       [](const std::string &a) { return a.find("/tag = ") == std::string::npos; }),
        tags.end());
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(tags, (std::vector<std::string>{"add NT4/ADDR/tag = 16 bound:merge",
                                              "add NT4/INTF/tag = 16 bound:merge"}));
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

TEST(oc_edit, reads_add_the_native_paths_to_read) {
    auto w = run(YFW_REQ_READ_CONFIG, stored_both, next_hop("<config><metric/></config>"));
    ASSERT_EQ(w.rc, YMAP_OK) << (w.errors.empty() ? "" : w.errors.back());
    // The stored entry under its keys, then its metric, all unbound but the
    // list entry.
    EXPECT_EQ(w.entry_adds(), (std::vector<std::string>{
                                  "add NT4/BOTH entry bound:merge",
                                  "add NT4/BOTH/next-hop-address = 192.0.2.1",
                                  "add NT4/BOTH/interface-name = Gi0/1",
                                  "add NT4/BOTH/index = 1",
                                  "add NT4/BOTH/metric",
                              }));
}
