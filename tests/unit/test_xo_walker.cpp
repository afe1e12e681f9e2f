// The native data walker on real native XML, linked with recording
// callbacks in place of the mapping's own; the generated leaf mapping and
// empty-container handlers are the real ones.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {

struct call {
    std::string fn;
    std::string tag;
    std::string value;
};
std::vector<call> calls;
std::map<std::string, ymap_result> answers;  // callback name or "name=value" -> result

ymap_result record(const char *fn, yfw_map_node *node) {
    std::string v = node->value ? node->value : "";
    calls.push_back({fn, node->tag ? node->tag : "", v});
    auto it = answers.find(std::string(fn) + "=" + v);
    if (it == answers.end()) it = answers.find(fn);
    return it == answers.end() ? YMAP_OK : it->second;
}

}  // namespace

#define XO_CB(name) ymap_xo_ocstatic_velmoornatipstaticcfg_man_##name
#define XO_NODE_CB(name, label)                                                               \
    extern "C" ymap_result XO_CB(name)(yfw_map_ctx *, yfw_map_node * n, yfw_map_datatree *) { \
        return record(label, n);                                                              \
    }
extern "C" ymap_result XO_CB(cont_lvla_routerstatic)(yfw_map_ctx *, yfw_map_node *n, uint32_t,
                                                     yfw_map_datatree *) {
    return record("root", n);
}
XO_NODE_CB(list_lvle_routerstatic_vrfprefixes_vrfprefix, "prefix4")
XO_NODE_CB(list_lvlg_routerstatic_vrfprefixes_vrfprefix, "prefix6")
XO_NODE_CB(leaf_lvle_routerstatic_vrfprefix_prefix, "prefix")
XO_NODE_CB(leaf_lvle_routerstatic_vrfprefix_prefixlength, "length")
XO_NODE_CB(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress, "nh-addr")
XO_NODE_CB(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacename, "nh-intf")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_nexthopaddress, "addr")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename, "intf")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_tag, "tag")
// The remaining callbacks record under a name of their own.
XO_NODE_CB(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress, "nh-both")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename, "both-intf")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress,
           "both-addr")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopinterfacename_tag, "intf-tag")
XO_NODE_CB(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag, "both-tag")
XO_NODE_CB(leaf_lvlg_routerstatic_vrfprefix_prefix, "prefix6-prefix")
XO_NODE_CB(leaf_lvlg_routerstatic_vrfprefix_prefixlength, "prefix6-length")
XO_NODE_CB(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacename, "v6-nh-intf")
XO_NODE_CB(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress,
           "v6-nh-both")
XO_NODE_CB(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress, "v6-nh-addr")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopinterfacename_interfacename, "v6-intf")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename,
           "v6-both-intf")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress,
           "v6-both-addr")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_nexthopaddress, "v6-addr")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopinterfacename_tag, "v6-intf-tag")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_tag, "v6-both-tag")
XO_NODE_CB(leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_tag, "v6-tag")

namespace {

const char *native_open =
    "<router-static xmlns='http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg'>";

std::string v4_prefix(const std::string &inside) {
    return "<default-vrf><address-family><vrfipv4><vrf-unicast><vrf-prefixes><vrf-prefix>"
           "<prefix>10.0.0.0</prefix><prefix-length>8</prefix-length>" +
           inside +
           "</vrf-prefix></vrf-prefixes></vrf-unicast></vrfipv4></address-family>"
           "</default-vrf>";
}

struct walk_run {
    ymap_result rc;
    std::vector<std::string> adds;
    std::vector<std::string> traces;
    size_t hierarchy_left, output_list_left;
};

walk_run run(uint32_t kind, const std::string &body, uint32_t datastore = 0) {
    calls.clear();
    auto req = oclr_test::parse(native_open + body + "</router-static>", false);
    yfw_host::output_tree out;
    oclr_test::line_recorder lines;
    yfw_host::session s(kind, out, &req, {false, true, false});
    s.rctx()->op_flags = datastore == 2 ? 0x4 : 0;
    s.rctx()->datastore = datastore;
    walk_run r{s.run(ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic, req.root()),
               {},
               {},
               s.hierarchy_depth(),
               s.output_list_size()};
    for (const auto &a : out.adds()) r.adds.push_back(yfw_host::format_add(a));
    for (const auto &l : lines.lines) r.traces.push_back(l.text);
    return r;
}

std::vector<std::string> names() {
    std::vector<std::string> n;
    for (const auto &c : calls) n.push_back(c.fn + ":" + c.value);
    return n;
}

const std::string N = "/local-routes/static-routes/static/next-hops/next-hop";

}  // namespace

TEST(xo_walker, default_vrf_route_reaches_its_callbacks_and_leaf_mappings) {
    answers.clear();
    auto r = run(YFW_REQ_READ_CONFIG,
                 v4_prefix("<vrf-route><vrf-next-hop-table><vrf-next-hop-next-hop-address>"
                           "<next-hop-address>192.0.2.1</next-hop-address><metric>5</metric>"
                           "<tag>9</tag><index>7</index><description>x</description>"
                           "</vrf-next-hop-next-hop-address></vrf-next-hop-table></vrf-route>"));
    EXPECT_EQ(r.rc, YMAP_OK);
    EXPECT_EQ(names(), (std::vector<std::string>{"root:", "prefix4:", "prefix:10.0.0.0", "length:8",
                                                 "nh-addr:", "addr:192.0.2.1", "tag:9"}));
    // The generated metric and index handlers write the OpenConfig leaves;
    // the index also the list key, whatever the configuration test says.
    EXPECT_EQ(r.adds, (std::vector<std::string>{"add " + N + "/config/metric = 5",
                                                "add " + N + "/index = 7",
                                                "add " + N + "/config/index = 7"}));
    EXPECT_EQ(r.hierarchy_left, 0u);
    EXPECT_EQ(r.output_list_left, 0u);

    r = run(YFW_REQ_READ_STATE,
            v4_prefix("<vrf-route><vrf-next-hop-table><vrf-next-hop-next-hop-address>"
                      "<next-hop-address>192.0.2.1</next-hop-address><metric>5</metric>"
                      "</vrf-next-hop-next-hop-address></vrf-next-hop-table></vrf-route>"),
            2);
    // Configuration withheld, state produced.
    EXPECT_EQ(r.adds, (std::vector<std::string>{"add " + N + "/state/metric = 5"}));
}

TEST(xo_walker, unknown_tags_foreign_children_and_unmapped_places) {
    answers.clear();
    auto r = run(YFW_REQ_READ_CONFIG,
                 v4_prefix("<future-leaf>1</future-leaf><x:extra xmlns:x='urn:example:other'/>"
                           "<vrf-route><vrf-next-hop-table/></vrf-route>") +
                     "<vrfs><vrf><vrf-name>red</vrf-name><address-family><vrfipv4><vrf-unicast>"
                     "<vrf-prefixes><vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>8"
                     "</prefix-length></vrf-prefix></vrf-prefixes></vrf-unicast></vrfipv4>"
                     "</address-family></vrf></vrfs>");
    EXPECT_EQ(r.rc, YMAP_OK);
    // The VRF's route reaches no callback; the empty next-hop table adds the
    // OpenConfig container.
    EXPECT_EQ(names(),
              (std::vector<std::string>{"root:", "prefix4:", "prefix:10.0.0.0", "length:8"}));
    EXPECT_EQ(r.adds,
              (std::vector<std::string>{"add /local-routes/static-routes/static/next-hops"}));
    bool ignored = false;
    for (const auto &t : r.traces)
        ignored |= t.find("_lvle_routerstatic_vrfprefixes_vrfprefix:") != std::string::npos &&
                   t.find("Unsupported tag. Ignoring.") != std::string::npos;
    EXPECT_TRUE(ignored);
}

TEST(xo_walker, results_skip_entries_or_stop_the_walk) {
    const std::string two_next_hops = v4_prefix(
        "<vrf-route><vrf-next-hop-table>"
        "<vrf-next-hop-interface-name><interface-name>Gi0/0/0/1</interface-name>"
        "</vrf-next-hop-interface-name>"
        "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.1</next-hop-address>"
        "<metric>5</metric></vrf-next-hop-next-hop-address>"
        "</vrf-next-hop-table></vrf-route>");

    // A skipped entry ends only itself.
    answers = {{"nh-intf", YMAP_SKIP_ENTRY}};
    auto r = run(YFW_REQ_READ_CONFIG, two_next_hops);
    EXPECT_EQ(r.rc, YMAP_OK);
    EXPECT_EQ(names(), (std::vector<std::string>{"root:", "prefix4:", "prefix:10.0.0.0", "length:8",
                                                 "nh-intf:", "nh-addr:", "addr:192.0.2.1"}));
    EXPECT_EQ(r.output_list_left, 0u);

    // Any other failure travels up unchanged and nothing after it is walked.
    answers = {{"nh-intf", YMAP_ERR_INVALID_ARGS}};
    r = run(YFW_REQ_READ_CONFIG, two_next_hops);
    EXPECT_EQ(r.rc, YMAP_ERR_INVALID_ARGS);
    EXPECT_EQ(names().back(), "nh-intf:");
    EXPECT_EQ(r.hierarchy_left, 0u);
    EXPECT_EQ(r.output_list_left, 0u);

    // A failing leaf stops its siblings too.
    answers = {{"prefix", YMAP_ERR_BAD_REQUEST}};
    r = run(YFW_REQ_READ_CONFIG, two_next_hops);
    EXPECT_EQ(r.rc, YMAP_ERR_BAD_REQUEST);
    EXPECT_EQ(names().back(), "prefix:10.0.0.0");
    answers.clear();
}
