// The OpenConfig request walker on real XML requests, linked with recording
// callbacks in place of the mapping's own: each test asserts which handlers
// ran, with which node, operation and walk modes, and what the walk
// answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oc_lr_types.h"
#include "test_support.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {

struct call {
    std::string fn;  // callback name without the common prefix
    std::string tag;
    uint32_t op;
    uint32_t walk_all;
    uint32_t list_delete_mode;
    uint32_t replace_bits;
    uint32_t count;  // containers: the child count passed
};

std::vector<call> calls;
std::string fail_on;  // a callback name that answers an error

ymap_result record(const char *fn, yfw_map_ctx *ctx, yfw_map_node *node, uint32_t count = 0) {
    calls.push_back({fn, node->tag ? node->tag : "", node->operation, ctx->req_ctx->walk_all,
                     ctx->req_ctx->list_delete_mode, ctx->req_ctx->replace_bits, count});
    return fail_on == fn ? YMAP_ERR_BAD_REQUEST : YMAP_OK;
}

}  // namespace

#define OC_CB(name) ymap_ox_ocstatic_openconfiglocalrouting_man_##name
extern "C" {
ymap_result OC_CB(cont_lvla_localroutes_staticroutes)(yfw_map_ctx *c, yfw_map_node *n, uint32_t k,
                                                      yfw_map_datatree *) {
    return record("static-routes", c, n, k);
}
ymap_result OC_CB(list_lvla_localroutes_staticroutes_static)(yfw_map_ctx *c, yfw_map_node *n,
                                                             yfw_map_datatree *) {
    return record("static", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_static_prefix)(yfw_map_ctx *c, yfw_map_node *n,
                                                       yfw_map_datatree *) {
    return record("static/prefix", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_config_prefix)(yfw_map_ctx *c, yfw_map_node *n,
                                                       yfw_map_datatree *) {
    return record("config/prefix", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_config_settag)(yfw_map_ctx *c, yfw_map_node *n,
                                                       yfw_map_datatree *) {
    return record("config/set-tag", c, n);
}
ymap_result OC_CB(list_lvla_localroutes_nexthops_nexthop)(yfw_map_ctx *c, yfw_map_node *n,
                                                          yfw_map_datatree *) {
    return record("next-hop", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_config_nexthop)(yfw_map_ctx *c, yfw_map_node *n,
                                                        yfw_map_datatree *) {
    return record("config/next-hop", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_config_interface)(yfw_map_ctx *c, yfw_map_node *n,
                                                          yfw_map_datatree *) {
    return record("config/interface", c, n);
}
ymap_result OC_CB(leaf_lvla_localroutes_config_subinterface)(yfw_map_ctx *c, yfw_map_node *n,
                                                             yfw_map_datatree *) {
    return record("config/subinterface", c, n);
}
// Condition callbacks select nothing; the calls show which leaf reached them.
ymap_result oc_nexthops_cond_manual_callback(yfw_map_ctx *c, uint32_t, ymap_cond_entry *) {
    calls.push_back({"cond:next-hops", "", 0, c->req_ctx->walk_all, 0, 0, 0});
    return YMAP_OK;
}
ymap_result oc_index_cond_manual_callback(yfw_map_ctx *c, uint32_t, ymap_cond_entry *) {
    calls.push_back({"cond:index", "", 0, c->req_ctx->walk_all, 0, 0, 0});
    return YMAP_OK;
}
ymap_result oc_metric_cond_manual_callback(yfw_map_ctx *c, uint32_t, ymap_cond_entry *) {
    calls.push_back({"cond:metric", "", 0, c->req_ctx->walk_all, 0, 0, 0});
    return YMAP_OK;
}
}

namespace {

const std::string oc_open =
    "<local-routes xmlns='http://openconfig.net/yang/local-routing' "
    "xmlns:nc='urn:ietf:params:xml:ns:netconf:base:1.0'>";

struct outcome {
    ymap_result rc;
    std::string tag;
    std::vector<std::string> errors;  // texts of the error records
};

struct walk_run {
    yfw_host::request_tree req;
    yfw_host::output_tree out;
    outcome result;
};

walk_run run(uint32_t kind, const std::string &body) {
    calls.clear();
    walk_run r{oclr_test::parse(oc_open + body + "</local-routes>", kind == YFW_REQ_EDIT), {}, {}};
    oclr_test::line_recorder lines;
    yfw_host::session s(kind, r.out, &r.req, {true, false, false});
    r.result.rc = s.run(ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, r.req.root());
    r.result.tag = s.error_tag();
    for (const auto &l : lines.lines) {
        auto at = l.text.find("ERR: YFW: ctx=");
        if (at != std::string::npos)
            r.result.errors.push_back(l.text.substr(l.text.find(',', at) + 1));
    }
    return r;
}

std::vector<std::string> names() {
    std::vector<std::string> n;
    for (const auto &c : calls) n.push_back(c.fn);
    return n;
}

const call *find(const std::string &fn) {
    for (const auto &c : calls)
        if (c.fn == fn) return &c;
    return nullptr;
}

}  // namespace

TEST(oc_walker, refusals_carry_their_code_text_and_error_tag) {
    struct row {
        const char *what;
        std::string body;
        ymap_result rc;
        const char *text;
        const char *tag;
    } rows[] = {
        {"static without its key",
         "<static-routes><static><config><set-tag>5</set-tag></config></static></static-routes>",
         YMAP_ERR_LIST_KEY, "List key node error.", "prefix"},
        {"two keys",
         "<static-routes><static><prefix>10.0.0.0/8</prefix><prefix>10.0.0.0/8</prefix>"
         "</static></static-routes>",
         YMAP_ERR_LIST_KEY, "List key node error.", "prefix"},
        {"state in an edit",
         "<static-routes><static><prefix>10.0.0.0/8</prefix><state/></static></static-routes>",
         YMAP_ERR_UNSUPPORTED_TAG, "Unsupported tag is specified in the request.", "state"},
        {"unknown tag of our own module", "<static-routes><bogus/></static-routes>",
         YMAP_ERR_UNSUPPORTED_TAG, "Unsupported tag is specified in the request.", "bogus"},
        {"foreign child added",
         "<static-routes><static><prefix>10.0.0.0/8</prefix><config>"
         "<x:extra xmlns:x='urn:example:other'>1</x:extra></config></static></static-routes>",
         YMAP_ERR_FOREIGN_ADD, nullptr, "extra"},
        {"aggregate entry without children", "<local-aggregates><aggregate/></local-aggregates>",
         YMAP_ERR_BAD_REQUEST, "No keys specified with a list node.", ""},
        {"key with a delete operation",
         "<static-routes><static><prefix nc:operation='delete'>10.0.0.0/8</prefix>"
         "<config/></static></static-routes>",
         YMAP_ERR_KEY_DELETE, "The key node should not have delete operation.", ""},
        {"aggregate named by its key",
         "<local-aggregates><aggregate><prefix>10.0.0.0/8</prefix>"
         "</aggregate></local-aggregates>",
         YMAP_NO_LEAF_MAPPING, nullptr, ""},
    };
    for (const auto &r : rows) {
        auto w = run(YFW_REQ_EDIT, r.body);
        EXPECT_EQ(w.result.rc, r.rc) << r.what;
        EXPECT_EQ(w.result.tag, r.tag) << r.what;
        if (r.text != nullptr) {
            ASSERT_FALSE(w.result.errors.empty()) << r.what;
            EXPECT_EQ(w.result.errors.back(), r.text) << r.what;
        }
    }
    // An edit of an entry without children reports the text twice.
    auto w = run(YFW_REQ_EDIT, "<local-aggregates><aggregate/></local-aggregates>");
    EXPECT_EQ(w.result.errors.size(), 2u);

    // The same foreign child is ignored in a read.
    w = run(YFW_REQ_READ_CONFIG,
            "<static-routes><static><prefix>10.0.0.0/8</prefix><config>"
            "<x:extra xmlns:x='urn:example:other'>1</x:extra></config></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
}

TEST(oc_walker, unmapped_leaf_ends_the_walk_before_its_siblings) {
    auto w = run(YFW_REQ_EDIT,
                 "<static-routes><static><prefix>10.0.0.0/8</prefix><next-hops><next-hop>"
                 "<index>1</index><config><recurse>true</recurse><metric>5</metric></config>"
                 "</next-hop></next-hops></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_NO_LEAF_MAPPING);
    EXPECT_EQ(find("cond:metric"), nullptr) << "metric after recurse must not be walked";
    EXPECT_NE(find("next-hop"), nullptr);
}

TEST(oc_walker, empty_read_expands_every_subtree_once_with_the_root_node) {
    auto w = run(YFW_REQ_READ_CONFIG, "");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    // config, static-routes (an entry's prefix, config, next-hops; a
    // next-hop's index, config, interface-ref), then local-aggregates; no
    // state in a configuration read.
    EXPECT_EQ(names(),
              (std::vector<std::string>{"static-routes", "static", "static/prefix", "config/prefix",
                                        "config/set-tag", "cond:next-hops", "next-hop",
                                        "cond:index", "cond:index", "config/next-hop",
                                        "cond:metric", "config/interface", "config/subinterface"}));
    for (const auto &c : calls) {
        if (c.fn.rfind("cond:", 0) == 0) continue;
        EXPECT_EQ(c.tag, "local-routes") << c.fn;
        EXPECT_EQ(c.walk_all, 1u) << c.fn;
    }

    auto st = run(YFW_REQ_READ_STATE, "");
    EXPECT_EQ(st.result.rc, YMAP_OK);
    // With state, each entry's state leaves map through the same callbacks.
    size_t prefix_calls = 0;
    for (const auto &c : calls) prefix_calls += c.fn == "config/prefix";
    EXPECT_EQ(prefix_calls, 2u);
}

TEST(oc_walker, entry_named_by_key_expands_and_content_matches_select_the_container) {
    auto w = run(YFW_REQ_READ_STATE,
                 "<static-routes><static><prefix>10.0.0.0/8</prefix></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    // The key leaf first, then config, state and next-hops with the entry;
    // a next-hop without children: index, config, interface-ref (config,
    // state), then its state.
    EXPECT_EQ(names(), (std::vector<std::string>{"static-routes",
                                                 "static",
                                                 "static/prefix",
                                                 "config/prefix",
                                                 "config/set-tag",
                                                 "config/prefix",
                                                 "config/set-tag",
                                                 "cond:next-hops",
                                                 "next-hop",
                                                 "cond:index",
                                                 "cond:index",
                                                 "config/next-hop",
                                                 "cond:metric",
                                                 "config/interface",
                                                 "config/subinterface",
                                                 "config/interface",
                                                 "config/subinterface",
                                                 "cond:index",
                                                 "config/next-hop",
                                                 "cond:metric"}));
    EXPECT_EQ(calls[3].tag, "static");
    EXPECT_EQ(calls[3].walk_all, 1u);

    // Only a content match under config: the whole config is selected.
    w = run(YFW_REQ_READ_CONFIG,
            "<static-routes><static><prefix>10.0.0.0/8</prefix><config><set-tag>7</set-tag>"
            "</config></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    EXPECT_EQ(names(),
              (std::vector<std::string>{"static-routes", "static", "static/prefix",
                                        "config/set-tag", "config/prefix", "config/set-tag"}));
    EXPECT_EQ(calls[4].tag, "config");
}

TEST(oc_walker, read_by_other_leaves_gets_the_key_added_to_the_request) {
    auto w = run(YFW_REQ_READ_CONFIG,
                 "<static-routes><static><config><set-tag/></config></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    const yfw_map_node *entry = &w.req.root()->children[0].children[0];
    bool key_added = false;
    for (uint32_t i = 0; i < entry->child_count; ++i)
        key_added |=
            std::string(entry->children[i].tag) == "prefix" && entry->children[i].key_marker == 1;
    EXPECT_TRUE(key_added);
}

TEST(oc_walker, deletes_use_the_list_delete_modes) {
    auto w = run(YFW_REQ_EDIT,
                 "<static-routes><static nc:operation='delete'><prefix>10.0.0.0/8</prefix>"
                 "</static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    const call *entry = find("static");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->list_delete_mode, 2u);
    size_t entry_calls = 0;
    for (const auto &c : calls) entry_calls += c.fn == "static";
    EXPECT_EQ(entry_calls, 1u);
    // The expansion that follows sees the entry with operation remove.
    const call *cfg = find("config/prefix");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->op, YFW_OP_REMOVE);
    EXPECT_EQ(cfg->walk_all, 1u);
    EXPECT_EQ(cfg->list_delete_mode, 1u);

    w = run(YFW_REQ_EDIT, "<static-routes nc:operation='delete'/>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    entry = find("static");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->list_delete_mode, 1u);
    EXPECT_EQ(entry->walk_all, 1u);
    EXPECT_EQ(entry->tag, "static-routes");
}

TEST(oc_walker, replace_removes_everything_then_adds_the_given_children) {
    auto w = run(YFW_REQ_EDIT,
                 "<static-routes nc:operation='replace'><static><prefix>10.0.0.0/8</prefix>"
                 "<config><prefix>10.0.0.0/8</prefix></config></static></static-routes>");
    EXPECT_EQ(w.result.rc, YMAP_OK);
    ASSERT_GE(calls.size(), 2u);
    // First pass: children detached, operation remove, delete-pass bit.
    EXPECT_EQ(calls[0].fn, "static-routes");
    EXPECT_EQ(calls[0].op, YFW_OP_REMOVE);
    EXPECT_EQ(calls[0].count, 0u);
    EXPECT_EQ(calls[0].replace_bits, 0x40u);
    // Second pass: plain operation, re-add bit, the given child.
    const call *second = nullptr;
    for (size_t i = 1; i < calls.size(); ++i)
        if (calls[i].fn == "static-routes") second = &calls[i];
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->op, YFW_OP_NONE);
    EXPECT_EQ(second->count, 1u);
    EXPECT_EQ(second->replace_bits, 0x80u);
    EXPECT_EQ(calls.back().fn, "config/prefix");
    EXPECT_EQ(calls.back().tag, "prefix");
    const yfw_map_node *sr = &w.req.root()->children[0];
    EXPECT_EQ(sr->operation, YFW_OP_NONE);
    EXPECT_TRUE(sr->flags & YFW_NODE_CHILDREN_VALID);
}
