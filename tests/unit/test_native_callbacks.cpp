// The native-to-OpenConfig mapping callbacks, called directly on native
// nodes built from XML: the adds each makes (paths, values, entries, bound
// request nodes) in both families, the configuration-output test and the
// state view, the auto-index forms, the interface split, the combined list's
// pending index and the refusal of texts too long for their buffers. One
// walk through the root walker checks that they fit together.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "oc_lr_types.h"
#include "test_support.h"
#include "ymap_ocstatic_velmo_ornat_ip_static_cfg_man.h"

#define XO(name) ymap_xo_ocstatic_velmoornatipstaticcfg_man_##name

namespace {

const std::string O = "/local-routes/static-routes/static";
const std::string N = O + "/next-hops/next-hop";
const std::string P4 =
    "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix";

std::string route(const char *af, const std::string &inside) {
    return std::string("<default-vrf><address-family><") + af +
           "><vrf-unicast><vrf-prefixes><vrf-prefix>" + inside +
           "</vrf-prefix></vrf-prefixes></vrf-unicast></" + af + "></address-family></default-vrf>";
}

// One native tree and one request of the given kind over it.
struct native_run {
    yfw_host::request_tree req;
    yfw_host::output_tree out;
    yfw_host::session s;

    native_run(const std::string &body, uint32_t kind, bool config_withheld = false)
        : req(oclr_test::parse("<router-static xmlns='" + std::string(yfw_host::native_namespace) +
                                   "'>" + body + "</router-static>",
                               false)),
          s(kind, out, &req, {false, false, false}) {
        if (config_withheld) {
            s.rctx()->op_flags = 0x4;
            s.rctx()->datastore = 2;
        }
    }

    // The nth node with this tag, in document order.
    yfw_map_node *node(const char *tag, int nth = 0) { return find(req.root(), tag, nth); }
    static yfw_map_node *find(yfw_map_node *n, const char *tag, int &nth) {
        if (n->tag && std::string(n->tag) == tag && nth-- == 0) return n;
        for (uint32_t i = 0; i < n->child_count; ++i)
            if (auto *hit = find(&n->children[i], tag, nth)) return hit;
        return nullptr;
    }
    ymap_result call(yfw_map_walker_fn fn, const char *tag, int nth = 0) {
        yfw_map_node *n = node(tag, nth);
        EXPECT_NE(n, nullptr) << tag;
        return fn(s.ctx(), n, s.tree());
    }
    std::vector<std::string> adds() const {
        std::vector<std::string> v;
        for (const auto &a : out.adds()) v.push_back(yfw_host::format_add(a));
        return v;
    }
};

using adds = std::vector<std::string>;

}  // namespace

TEST(native_callbacks, root_adds_static_routes_only_when_empty_and_checks_arguments) {
    native_run r("", YFW_REQ_READ_CONFIG);
    EXPECT_EQ(XO(cont_lvla_routerstatic)(r.s.ctx(), r.req.root(), 2, r.s.tree()), YMAP_OK);
    EXPECT_TRUE(r.adds().empty());
    EXPECT_EQ(XO(cont_lvla_routerstatic)(r.s.ctx(), r.req.root(), 0, r.s.tree()), YMAP_OK);
    EXPECT_EQ(r.adds(), adds{"add /local-routes/static-routes"});

    EXPECT_EQ(XO(cont_lvla_routerstatic)(r.s.ctx(), nullptr, 0, r.s.tree()), YMAP_ERR_INVALID_ARGS);
    EXPECT_EQ(XO(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress)(
                  r.s.ctx(), r.req.root(), nullptr),
              YMAP_ERR_INVALID_ARGS);
    EXPECT_EQ(
        XO(leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_tag)(r.s.ctx(), nullptr, r.s.tree()),
        YMAP_ERR_INVALID_ARGS);
    EXPECT_EQ(r.adds().size(), 1u);
}

TEST(native_callbacks, every_list_adds_an_entry_bound_to_the_native_node_only_for_deletes) {
    const struct {
        yfw_map_walker_fn fn;
        std::string path;
    } lists[] = {
        {XO(list_lvle_routerstatic_vrfprefixes_vrfprefix), O},
        {XO(list_lvlg_routerstatic_vrfprefixes_vrfprefix), O},
        {XO(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacename), N},
        {XO(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress), N},
        {XO(list_lvln_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress), N},
        {XO(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacename), N},
        {XO(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopinterfacenamenexthopaddress), N},
        {XO(list_lvlt_routerstatic_vrfnexthoptable_vrfnexthopnexthopaddress), N},
    };
    for (const auto &l : lists) {
        native_run r(route("vrfipv4", "<prefix>10.0.0.0</prefix>"), YFW_REQ_EDIT);
        yfw_map_node *entry = r.node("vrf-prefix");
        for (uint32_t op : {YFW_OP_NONE, YFW_OP_REPLACE, YFW_OP_DELETE, YFW_OP_REMOVE}) {
            entry->operation = op;
            EXPECT_EQ(l.fn(r.s.ctx(), entry, r.s.tree()), YMAP_OK);
        }
        EXPECT_EQ(r.adds(), (adds{"add " + l.path + " entry", "add " + l.path + " entry",
                                  "add " + l.path + " entry bound:delete",
                                  "add " + l.path + " entry bound:remove"}));
    }
}

TEST(native_callbacks, prefix_carries_its_length_from_its_own_family_list) {
    struct family {
        const char *af;
        yfw_map_walker_fn prefix, length;
        const char *address, *len;
    };
    const family families[] = {
        {"vrfipv4", XO(leaf_lvle_routerstatic_vrfprefix_prefix),
         XO(leaf_lvle_routerstatic_vrfprefix_prefixlength), "10.0.0.0", "8"},
        {"vrfipv6", XO(leaf_lvlg_routerstatic_vrfprefix_prefix),
         XO(leaf_lvlg_routerstatic_vrfprefix_prefixlength), "2001:db8::", "32"},
    };
    for (const auto &f : families) {
        std::string body = route(f.af, std::string("<prefix>") + f.address +
                                           "</prefix><prefix-length>" + f.len + "</prefix-length>");
        std::string text = std::string(f.address) + "/" + f.len;
        std::string list = P4;
        list.replace(list.find("vrfipv4"), 7, f.af);
        const struct {
            uint32_t kind;
            bool withheld;
            adds expected;
        } views[] = {
            {YFW_REQ_READ_CONFIG,
             false,
             {"add " + O + "/prefix = " + text, "add " + O + "/config/prefix = " + text}},
            {YFW_REQ_READ_STATE,
             false,
             {"add " + O + "/prefix = " + text, "add " + O + "/config/prefix = " + text,
              "add " + O + "/state/prefix = " + text}},
            {YFW_REQ_READ_STATE, true, {"add " + O + "/state/prefix = " + text}},
        };
        for (const auto &v : views) {
            native_run r(body, v.kind, v.withheld);
            yfw_map_add_to_node_hierarchy(r.s.ctx(), r.node("vrf-prefix"), 2);
            yfw_map_update_current_list_node(r.s.ctx(), list.c_str());
            EXPECT_EQ(r.call(f.length, "prefix-length"), YMAP_OK);
            EXPECT_EQ(r.call(f.prefix, "prefix"), YMAP_OK);
            EXPECT_EQ(r.adds(), v.expected) << f.af;
        }
    }
}

TEST(native_callbacks, interface_list_gives_drop_or_local_link_with_split_subinterface) {
    for (auto fn : {XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename),
                    XO(leaf_lvlbf_routerstatic_vrfnexthopinterfacename_interfacename)}) {
        native_run r("<interface-name>Null0</interface-name>", YFW_REQ_READ_STATE);
        EXPECT_EQ(r.call(fn, "interface-name"), YMAP_OK);
        const std::string idx = " = **oc-loc-rt:DROP**";
        EXPECT_EQ(r.adds(), (adds{"add " + N + "/index" + idx, "add " + N + "/config/index" + idx,
                                  "add " + N + "/index" + idx, "add " + N + "/state/index" + idx,
                                  "add " + N + "/config/next-hop = oc-loc-rt:DROP",
                                  "add " + N + "/state/next-hop = oc-loc-rt:DROP"}));
    }
    // value -> interface, subinterface; the index keeps the whole value.
    const struct {
        const char *value, *intf, *sub;
    } splits[] = {{"eth1/0.100", "eth1/0", "100"}, {"lo1", "lo1", "0"}, {"eth1/0.", "eth1/0", "0"},
                  {"..lo.7", "..lo", "7"},         {".5", ".5", "0"},   {"a.b.c", "a", "b.c"},
                  {"Null0.5", "Null0", nullptr}};
    for (const auto &sp : splits) {
        native_run r(std::string("<interface-name>") + sp.value + "</interface-name>",
                     YFW_REQ_READ_CONFIG);
        EXPECT_EQ(r.call(XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename),
                         "interface-name"),
                  YMAP_OK);
        adds expected{"add " + N + "/index = **" + sp.value + "**",
                      "add " + N + "/config/index = **" + sp.value + "**"};
        if (sp.sub) {
            expected.push_back("add " + N + "/config/next-hop = oc-loc-rt:LOCAL_LINK");
            expected.push_back("add " + N + "/interface-ref/config/interface = " + sp.intf);
            expected.push_back("add " + N + "/interface-ref/config/subinterface = " + sp.sub);
        } else {
            expected.push_back("add " + N + "/config/next-hop = oc-loc-rt:DROP");
        }
        EXPECT_EQ(r.adds(), expected) << sp.value;
        EXPECT_STREQ(r.node("interface-name")->value, sp.intf);
    }
    native_run r("<interface-name/>", YFW_REQ_READ_STATE);
    EXPECT_EQ(
        r.call(XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename), "interface-name"),
        YMAP_OK);
    EXPECT_TRUE(r.adds().empty());
}

TEST(native_callbacks, combined_list_completes_the_interface_index_in_family_order) {
    const std::string body =
        "<e><interface-name>eth1/0.100</interface-name><next-hop-address>192.0.2.1"
        "</next-hop-address></e><e><next-hop-address>192.0.2.9</next-hop-address></e>";
    const std::string part = " = **eth1/0.100", full = " = **eth1/0.100**192.0.2.1**";
    const struct {
        yfw_map_walker_fn intf, addr;
        bool next_hop_first;
    } families[] = {
        {XO(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename),
         XO(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress), false},
        {XO(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename),
         XO(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress), true},
    };
    for (const auto &f : families) {
        native_run r(body, YFW_REQ_READ_STATE);
        ASSERT_EQ(r.s.rctx()->common_data_ptr, nullptr);
        EXPECT_EQ(r.call(f.intf, "interface-name"), YMAP_OK);
        EXPECT_NE(r.s.rctx()->common_data_ptr, nullptr);
        EXPECT_EQ(r.call(f.addr, "next-hop-address"), YMAP_OK);
        adds expected{"add " + N + "/index" + part,
                      "add " + N + "/config/index" + part,
                      "add " + N + "/index" + part,
                      "add " + N + "/state/index" + part,
                      "add " + N + "/interface-ref/config/interface = eth1/0",
                      "add " + N + "/interface-ref/config/subinterface = 100",
                      "add " + N + "/interface-ref/state/interface = eth1/0",
                      "add " + N + "/interface-ref/state/subinterface = 100"};
        adds config{"add " + N + "/index" + full, "add " + N + "/config/index" + full};
        config.insert(f.next_hop_first ? config.begin() : config.end(),
                      "add " + N + "/config/next-hop = 192.0.2.1");
        expected.insert(expected.end(), config.begin(), config.end());
        expected.push_back("add " + N + "/index" + full);
        expected.push_back("add " + N + "/state/index" + full);
        expected.push_back("add " + N + "/state/next-hop = 192.0.2.1");
        EXPECT_EQ(r.adds(), expected);

        // The second entry shows no interface: its address must not inherit one.
        EXPECT_EQ(r.call(f.addr, "next-hop-address", 1), YMAP_ERR_BAD_REQUEST);
        EXPECT_EQ(r.adds().size(), expected.size());
        EXPECT_EQ(r.s.error_tag(), "next-hop-address");
    }
}

TEST(native_callbacks, address_list_and_tags_in_each_view) {
    const std::string body =
        "<next-hop-address>192.0.2.1</next-hop-address><tag>100</tag><tag>200</tag>";
    const struct {
        uint32_t kind;
        bool withheld;
        const char *views[2];
    } cases[] = {{YFW_REQ_READ_CONFIG, false, {"config", nullptr}},
                 {YFW_REQ_READ_STATE, false, {"config", "state"}},
                 {YFW_REQ_READ_STATE, true, {"state", nullptr}},
                 {YFW_REQ_READ_CONFIG, true, {nullptr, nullptr}}};
    for (const auto &c : cases) {
        for (auto addr : {XO(leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_nexthopaddress),
                          XO(leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_nexthopaddress)}) {
            native_run r(body, c.kind, c.withheld);
            EXPECT_EQ(r.call(addr, "next-hop-address"), YMAP_OK);
            EXPECT_EQ(r.call(XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_tag), "tag", 0),
                      YMAP_OK);
            EXPECT_EQ(r.call(XO(leaf_lvlbf_routerstatic_vrfnexthopnexthopaddress_tag), "tag", 1),
                      YMAP_OK);
            adds expected;
            for (const char *v : c.views) {
                if (v == nullptr) continue;
                expected.push_back("add " + N + "/index = **192.0.2.1**");
                expected.push_back("add " + N + "/" + v + "/index = **192.0.2.1**");
                expected.push_back("add " + N + "/" + v + "/next-hop = 192.0.2.1");
            }
            for (const char *tag : {"100", "200"})
                for (const char *v : c.views)
                    if (v) expected.push_back("add " + O + "/" + v + "/set-tag = " + tag);
            EXPECT_EQ(r.adds(), expected);
        }
    }
}

TEST(native_callbacks, texts_beyond_their_buffers_are_refused_whole) {
    const std::string x120(120, 'x');
    const struct {
        yfw_map_walker_fn fn;
        const char *tag;
        std::string value;          // longest accepted; one more character is refused
        std::string before, after;  // around the value in the accepted index
    } limits[] = {
        {XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename), "interface-name",
         x120 + "abc", "**", "**"},
        {XO(leaf_lvlbf_routerstatic_vrfnexthopinterfacenamenexthopaddress_interfacename),
         "interface-name", x120 + "abcde", "**", ""},
        {XO(leaf_lvlan_routerstatic_vrfnexthopnexthopaddress_nexthopaddress), "next-hop-address",
         x120 + "abc", "**", "**"},
        {XO(leaf_lvlan_routerstatic_vrfnexthopinterfacenamenexthopaddress_nexthopaddress),
         "next-hop-address", x120.substr(0, 111), "**0123456789**", "**"},
        // The subinterface text holds nine characters.
        {XO(leaf_lvlan_routerstatic_vrfnexthopinterfacename_interfacename), "interface-name",
         "eth0.123456789", "**", "**"},
    };
    for (const auto &l : limits) {
        for (bool over : {false, true}) {
            std::string v = l.value + (over ? "9" : "");
            native_run r("<" + std::string(l.tag) + ">" + v + "</" + l.tag + ">",
                         YFW_REQ_READ_CONFIG);
            if (l.before.size() > 2) {  // the combined address: its interface came first
                auto *rec = static_cast<oc_lr_prefix_type *>(calloc(1, sizeof(oc_lr_prefix_type)));
                snprintf(rec->auto_index, sizeof rec->auto_index, "%s",
                         l.before.substr(0, l.before.size() - 2).c_str());
                r.s.rctx()->common_data_ptr = rec;
            }
            ymap_result rc = r.call(l.fn, l.tag);
            if (!over) {
                EXPECT_EQ(rc, YMAP_OK) << v;
                ASSERT_FALSE(r.adds().empty());
                // The key is whole, not cut at the buffer's end.
                EXPECT_EQ(r.adds()[0], "add " + N + "/index = " + l.before + v + l.after);
            } else {
                EXPECT_EQ(rc, YMAP_ERR_BAD_REQUEST) << v;
                EXPECT_TRUE(r.adds().empty()) << v;
                EXPECT_EQ(r.s.error_tag(), l.tag);
                EXPECT_EQ(r.node(l.tag)->value, v);  // not split either
            }
        }
    }
    std::string prefix(97, '1');  // with "/8": 99 characters fit, 100 do not
    for (bool over : {false, true}) {
        native_run r(route("vrfipv4", "<prefix>" + prefix + (over ? "1" : "") +
                                          "</prefix><prefix-length>8</prefix-length>"),
                     YFW_REQ_READ_CONFIG);
        yfw_map_add_to_node_hierarchy(r.s.ctx(), r.node("vrf-prefix"), 2);
        yfw_map_update_current_list_node(r.s.ctx(), P4.c_str());
        EXPECT_EQ(r.call(XO(leaf_lvle_routerstatic_vrfprefix_prefix), "prefix"),
                  over ? YMAP_ERR_BAD_REQUEST : YMAP_OK);
        EXPECT_EQ(r.adds().size(), over ? 0u : 2u);
    }
}

TEST(native_callbacks, road_back_through_the_root_walker) {
    native_run r(route("vrfipv4",
                       "<prefix>10.0.0.0</prefix><prefix-length>8</prefix-length><vrf-route>"
                       "<vrf-next-hop-table><vrf-next-hop-next-hop-address>"
                       "<next-hop-address>192.0.2.1</next-hop-address><metric>5</metric>"
                       "<index>7</index></vrf-next-hop-next-hop-address></vrf-next-hop-table>"
                       "</vrf-route>"),
                 YFW_REQ_READ_CONFIG);
    EXPECT_EQ(r.s.run(ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic, r.req.root()),
              YMAP_OK);
    EXPECT_EQ(
        r.adds(),
        (adds{"add " + O + " entry", "add " + O + "/prefix = 10.0.0.0/8",
              "add " + O + "/config/prefix = 10.0.0.0/8", "add " + N + " entry",
              "add " + N + "/index = **192.0.2.1**", "add " + N + "/config/index = **192.0.2.1**",
              "add " + N + "/config/next-hop = 192.0.2.1", "add " + N + "/config/metric = 5",
              "add " + N + "/index = 7", "add " + N + "/config/index = 7"}));
}
