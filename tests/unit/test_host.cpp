// The host runtime: the framework calls the walkers rely on, and the output
// tree's grouping of adds into a document.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace oclr_test;

TEST(framework_calls, hierarchy_current_list_node_info_and_leafref) {
    auto t = parse(R"(<local-routes xmlns="http://openconfig.net/yang/local-routing"><static-routes>
      <static><prefix>10.0.0.0/8</prefix><config><prefix>10.1.0.0/16</prefix></config></static>
      <static><prefix>10.2.0.0/16</prefix><config><prefix>10.2.0.0/16</prefix></config></static>
    </static-routes></local-routes>)");
    yfw_host::output_tree out;
    yfw_host::session s(YFW_REQ_EDIT, out, &t, {});
    yfw_map_node *sr = &t.root()->children[0];
    yfw_map_node *first = &sr->children[0], *second = &sr->children[1];
    const char *path = "/local-routes/static-routes/static";

    EXPECT_EQ(yfw_map_check_oc_leafref(s.ctx(), path, "config", "prefix", first),
              YMAP_ERR_LIST_KEY);
    EXPECT_EQ(s.error_tag(), "prefix");
    EXPECT_EQ(yfw_map_check_oc_leafref(s.ctx(), path, "config", "prefix", second), 0u);

    yfw_map_add_to_node_hierarchy(s.ctx(), t.root(), 1);
    yfw_map_add_to_node_hierarchy(s.ctx(), second, 2);
    ASSERT_EQ(yfw_map_update_current_list_node(s.ctx(), path), 0u);
    const char *v = nullptr;
    ASSERT_EQ(yfw_map_get_node_info(s.ctx(), path, "prefix", &v), 0u);
    EXPECT_STREQ(v, "10.2.0.0/16");
    EXPECT_NE(yfw_map_get_node_info(s.ctx(), path, "no-such-leaf", &v), 0u);
    EXPECT_EQ(yfw_map_remove_from_node_hierarchy(s.ctx(), second), 0u);
    EXPECT_NE(yfw_map_get_node_info(s.ctx(), path, "prefix", &v), 0u) << "the entry left the path";
    EXPECT_EQ(s.hierarchy_depth(), 1u);

    // Output list: the count grows on add and shrinks on remove.
    uint8_t before = s.rctx()->output_list_count;
    yfw_add_to_output_list_ctx(s.ctx(), first, s.tree());
    EXPECT_EQ(s.rctx()->output_list_count, before + 1);
    EXPECT_EQ(yfw_remove_from_output_list_ctx(s.ctx(), first, s.tree()), 0u);
    EXPECT_NE(yfw_remove_from_output_list_ctx(s.ctx(), first, s.tree()), 0u);
    EXPECT_EQ(s.rctx()->output_list_count, before);
}

TEST(framework_calls, key_leaf_added_to_a_request_entry_and_itree_stack) {
    auto t = parse(R"(<local-routes xmlns="http://openconfig.net/yang/local-routing"><static-routes>
      <static><config><set-tag>5</set-tag></config></static></static-routes></local-routes>)",
                   false);
    yfw_host::output_tree out;
    yfw_host::session s(YFW_REQ_READ_CONFIG, out, &t, {});
    yfw_map_node *entry = &t.root()->children[0].children[0];
    yfw_map_node *config_before = &entry->children[0];
    yfw_map_node *leaf = nullptr;
    ASSERT_EQ(yfw_map_datatree_add_path_flagged(s.ctx(), entry, "prefix", yfw_host::oc_namespace,
                                                nullptr, nullptr, &leaf, 0, 0),
              0u);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(entry->child_count, 2u);
    EXPECT_STREQ(entry->children[1].tag, "prefix");
    EXPECT_EQ(leaf, &entry->children[1]);
    EXPECT_STREQ(config_before->tag, "config") << "nodes seen before the add stay readable";
    EXPECT_TRUE(out.adds().empty()) << "an add into a request node is not output";

    EXPECT_EQ(yfw_map_util_itree_stack_size(s.ctx()), 0);
    yfw_map_util_itree_stack_push(s.ctx(), entry->children, entry->child_count, nullptr);
    yfw_itree_set *set = nullptr;
    ASSERT_EQ(yfw_map_util_itree_stack_peak(s.ctx(), &set), 0u);
    EXPECT_EQ(set->instances, entry->children);
    EXPECT_EQ(set->count, 2u);
    EXPECT_EQ(yfw_map_util_itree_stack_size(s.ctx()), 1);
    yfw_map_util_itree_stack_pop(s.ctx());
    EXPECT_EQ(yfw_map_util_itree_stack_size(s.ctx()), 0);

    char *copy = yfw_strdup("prefix", "YFW MAP");
    EXPECT_STREQ(copy, "prefix");
    EXPECT_NE(copy, entry->children[1].tag);
}

TEST(output_tree, entries_group_under_newest_instances_and_keep_bound_operations) {
    auto t = parse(
        R"(<local-routes xmlns="http://openconfig.net/yang/local-routing" xmlns:nc="urn:ietf:params:xml:ns:netconf:base:1.0"><static-routes nc:operation="delete"/></local-routes>)");
    yfw_map_node *bound = &t.root()->children[0];
    yfw_host::output_tree out;
    yfw_host::session s(YFW_REQ_EDIT, out, &t, {});
    const char *ns = yfw_host::native_namespace;
    const std::string P =
        "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix";
    auto add = [&](const std::string &path, const char *value, yfw_map_node *node, int entry) {
        return yfw_map_datatree_add_path_flagged(s.ctx(), s.tree(), path.c_str(), ns, value, node,
                                                 nullptr, entry, 0);
    };
    add("/router-static", nullptr, bound, 0);
    add(P, nullptr, nullptr, 1);
    add(P + "/prefix", "10.0.0.0", nullptr, 0);
    add(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address", nullptr, nullptr, 1);
    add(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address/next-hop-address",
        "192.0.2.1", nullptr, 0);
    add(P, nullptr, nullptr, 1);
    add(P + "/prefix", "10.9.0.0", nullptr, 0);
    add(P + "/prefix", "10.1.0.0", nullptr, 0);  // the last value wins
    bound->operation = YFW_OP_REMOVE;
    add(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address", nullptr, bound, 1);

    ASSERT_EQ(out.adds().size(), 9u);
    EXPECT_EQ(yfw_host::format_add(out.adds()[0]), "add /router-static bound:delete");
    EXPECT_EQ(yfw_host::format_add(out.adds()[1]), "add " + P + " entry");
    EXPECT_EQ(yfw_host::format_add(out.adds()[2]), "add " + P + "/prefix = 10.0.0.0");
    EXPECT_EQ(yfw_host::format_add(out.adds()[8]),
              "add " + P +
                  "/vrf-route/vrf-next-hop-table/vrf-next-hop-next-hop-address entry bound:remove");

    const yfw_host::out_node &doc = out.document();
    ASSERT_EQ(doc.children.size(), 1u);
    const yfw_host::out_node &rs = *doc.children[0];
    EXPECT_EQ(rs.op(), YFW_OP_DELETE);
    const yfw_host::out_node *prefixes =
        rs.children[0]->children[0]->children[0]->children[0]->children[0];
    EXPECT_EQ(prefixes->name(), "vrf-prefixes");
    ASSERT_EQ(prefixes->children.size(), 2u);
    EXPECT_EQ(prefixes->children[0]->children[0]->value(), "10.0.0.0");
    EXPECT_EQ(prefixes->children[1]->children[0]->value(), "10.1.0.0");
    EXPECT_EQ(prefixes->children[1]->children.size(), 2u) << "prefix and vrf-route";
    const auto &table = *prefixes->children[1]->children[1]->children[0];
    ASSERT_EQ(table.children.size(), 1u);
    EXPECT_EQ(table.children[0]->op(), YFW_OP_REMOVE);
    EXPECT_TRUE(
        prefixes->children[0]->children[1]->children[0]->children[0]->children[0]->value() ==
        std::optional<std::string>("192.0.2.1"));

    std::string xml = out.to_xml(true);
    EXPECT_NE(
        xml.find("<router-static xmlns=\"http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg\" "
                 "xmlns:nc=\"urn:ietf:params:xml:ns:netconf:base:1.0\" nc:operation=\"delete\">"),
        std::string::npos)
        << xml;
}
