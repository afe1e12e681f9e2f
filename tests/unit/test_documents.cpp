// Requests from JSON, and the XML and JSON documents ocmap prints.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <functional>
#include <random>

#include "address_text.h"
#include "data_tree.h"
#include "document_reader.h"
#include "subtree_filter.h"
#include "test_support.h"

namespace {

using yfw_host::request_tree;

std::string dump(const yfw_map_node &n, int depth = 0) {
    std::string s(static_cast<size_t>(depth) * 2, ' ');
    s += std::string(n.tag) + " op=" + std::to_string(n.operation);
    if (n.flags & YFW_NODE_HAS_VALUE) s += " value=" + std::string(n.value);
    if (n.host_bits & YFW_HOST_EDIT_REQUEST) s += " edit";
    s += "\n";
    for (uint32_t i = 0; i < n.child_count; ++i) s += dump(n.children[i], depth + 1);
    return s;
}

std::string parsed(const std::string &text, bool edit = true) {
    yfw_host::input_error err;
    auto t = yfw_host::read_request_document(
        text, "r", yfw_host::yang_schema::get().oc_root(),
        edit ? yfw_host::document_role::edit : yfw_host::document_role::filter, err);
    if (!t) return "error: " + err.text();
    return dump(*t->root());
}

// Each row is one request written in XML and in JSON: both must give the
// walker the same tree, with canonical values and identities in the
// module's own prefix, whatever form the document used.
TEST(request_documents, xml_and_json_give_the_same_canonical_tree) {
    struct pair {
        const char *name;
        std::string xml, json;
        std::string expect;  // a line of the tree both must hold
    };
    const std::string oc = "xmlns=\"http://openconfig.net/yang/local-routing\"";
    const std::string nc = "xmlns:nc=\"urn:ietf:params:xml:ns:netconf:base:1.0\"";
    const std::string J = R"({"openconfig-local-routing:local-routes": )";
    auto xml_hop = [&](const std::string &config) {
        return "<local-routes " + oc +
               "><static-routes><static><prefix>2001:db8::/32</prefix>"
               "<next-hops><next-hop><index>1</index><config>" +
               config + "</config></next-hop></next-hops></static></static-routes></local-routes>";
    };
    auto json_hop = [&](const std::string &config) {
        return J +
               R"({"static-routes": {"static": [{"prefix": "2001:db8::/32", "next-hops": )"
               R"({"next-hop": [{"index": "1", "config": {)" +
               config + "}}]}}]}}}";
    };
    std::vector<pair> pairs = {
        {"operations on containers, entries and leaves; identities in any prefix",
         "<config " + nc + "><local-routes " + oc +
             " xmlns:lr=\"http://openconfig.net/yang/local-routing\"><static-routes "
             "nc:operation=\"replace\"><static><prefix>10.0.0.0/8</prefix><next-hops><next-hop "
             "nc:operation=\"create\"><index>1</index><config><next-hop>lr:DROP</next-hop>"
             "<metric nc:operation=\"delete\">5</metric><recurse>true</recurse></config>"
             "</next-hop><next-hop nc:operation=\"remove\"><index>2</index></next-hop>"
             "</next-hops></static></static-routes></local-routes></config>",
         R"({"ietf-netconf:config": {"openconfig-local-routing:local-routes": {
              "static-routes": {"@": {"ietf-netconf:operation": "replace"},
               "static": [{"prefix": "10.0.0.0/8", "next-hops": {"next-hop": [
                 {"@": {"ietf-netconf:operation": "create"}, "index": "1",
                  "config": {"next-hop": "openconfig-local-routing:DROP",
                             "@metric": {"ietf-netconf:operation": "delete"}, "metric": 5,
                             "recurse": true}},
                 {"index": "2", "@": {"ietf-netconf:operation": "remove"}}]}}]}}}})",
         "next-hop op=0 value=oc-loc-rt:DROP"},
        {"an identity in its simple forms", xml_hop("<next-hop>LOCAL_LINK</next-hop>"),
         json_hop(R"("next-hop": "LOCAL_LINK")"), "next-hop op=0 value=oc-loc-rt:LOCAL_LINK"},
        {"addresses beginning with '::' are addresses", xml_hop("<next-hop>::1</next-hop>"),
         json_hop(R"("next-hop": "::1")"), "next-hop op=0 value=::1"},
        {"IPv6 in canonical form", xml_hop("<next-hop> 2001:0DB8:0:0::0001 </next-hop>"),
         json_hop(R"("next-hop": "2001:db8::1")"), "next-hop op=0 value=2001:db8::1"},
        {"numbers in canonical form", xml_hop("<metric>+007</metric>"), json_hop(R"("metric": 7)"),
         "metric op=0 value=7"},
        {"text joined across comments and CDATA",
         xml_hop("<metric>1<!-- x --><![CDATA[0]]></metric>"), json_hop(R"("metric": 10)"),
         "metric op=0 value=10"},
        {"a string that looks like an identity stays a string",
         "<local-routes " + oc +
             "><static-routes><static><prefix>10.0.0.0/8</prefix><next-hops>"
             "<next-hop><index>a:b</index></next-hop></next-hops></static></static-routes>"
             "</local-routes>",
         J + R"({"static-routes": {"static": [{"prefix": "10.0.0.0/8", "next-hops": )"
             R"({"next-hop": [{"index": "a:b"}]}}]}}})",
         "index op=0 value=a:b"},
        {"a byte order mark", "\xef\xbb\xbf<local-routes " + oc + "/>", "\xef\xbb\xbf" + J + "{}}",
         "local-routes op=0"},
    };
    for (const auto &p : pairs) {
        SCOPED_TRACE(p.name);
        std::string from_xml = parsed(p.xml), from_json = parsed(p.json);
        EXPECT_EQ(from_json, from_xml);
        EXPECT_NE(from_xml.find(p.expect), std::string::npos) << from_xml;
    }
    EXPECT_EQ(parsed(pairs[1].json, false).find("edit"), std::string::npos);
}

// ------------------------------------------------------------------ output

const std::string S = "/local-routes/static-routes/static";
const char *OC = yfw_host::oc_namespace;

void add(yfw_host::output_tree &out, const std::string &path, const char *value = nullptr,
         int entry = 0, const yfw_map_node *bound = nullptr) {
    out.add(path.c_str(), OC, value, bound, entry, 0);
}

void route(yfw_host::output_tree &out, const char *prefix, const char *tag) {
    add(out, S, nullptr, 1);
    add(out, S + "/prefix", prefix);
    add(out, S + "/config/set-tag", tag);
}

void next_hop(yfw_host::output_tree &out, const char *index, const char *value) {
    add(out, S + "/next-hops/next-hop", nullptr, 1);
    add(out, S + "/next-hops/next-hop/config/next-hop", value);
    add(out, S + "/next-hops/next-hop/index", index);
}

std::string print(yfw_host::output_tree &out, yfw_host::doc_format f, bool ops = false) {
    std::string err;
    const yfw_host::out_node *doc = out.document_of(yfw_host::yang_schema::get().oc_root(), err);
    if (doc == nullptr) return "error: " + err;
    return yfw_host::write_document(*doc, f, ops);
}

// Address texts are written without inet_ntop but must be exactly its
// texts: the store keys entries by them. Groups are drawn mostly from
// zeros and ffff so that zero runs, ties between runs and the embedded
// IPv4 forms all come up.
TEST(request_documents, address_texts_are_what_inet_ntop_writes) {
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        unsigned char bytes[16];
        for (int g = 0; g < 8; ++g) {
            unsigned pick = rng() % 5;
            unsigned w = pick < 2    ? 0
                         : pick == 2 ? 0xffff
                         : pick == 3 ? rng() % 16
                                     : rng() & 0xffff;
            bytes[2 * g] = static_cast<unsigned char>(w >> 8);
            bytes[2 * g + 1] = static_cast<unsigned char>(w);
        }
        for (bool v6 : {false, true}) {
            char want[INET6_ADDRSTRLEN];
            ASSERT_NE(inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, want, sizeof want), nullptr);
            char got[yfw_host::address_text_size];
            ASSERT_EQ(std::string(got, yfw_host::format_address(v6, bytes, got)), want);
            unsigned char back[16] = {};
            ASSERT_TRUE(yfw_host::parse_address(v6, want, back)) << want;
            ASSERT_EQ(std::memcmp(back, bytes, v6 ? 16 : 4), 0) << want;
        }
    }
}

TEST(output_documents, equal_keys_make_one_entry_and_the_last_value_wins) {
    // The same data reached in two add orders prints the same documents.
    yfw_host::output_tree a, b;
    route(a, "10.0.0.0/8", "7");
    next_hop(a, "1", "192.0.2.1");
    route(a, "10.0.0.0/8", "100");  // the same route again: one entry, tag 100
    next_hop(a, "2", "oc-loc-rt:DROP");
    route(a, "10.1.0.0/16", "tag-a");

    route(b, "10.0.0.0/8", "100");
    next_hop(b, "1", "192.0.2.9");
    add(b, S + "/next-hops/next-hop/config/next-hop", "192.0.2.1");  // last value wins
    next_hop(b, "2", "oc-loc-rt:DROP");
    route(b, "10.1.0.0/16", "tag-a");

    const std::string xml =
        "<local-routes xmlns=\"http://openconfig.net/yang/local-routing\" "
        "xmlns:oc-loc-rt=\"http://openconfig.net/yang/local-routing\">\n"
        "  <static-routes>\n"
        "    <static>\n"
        "      <prefix>10.0.0.0/8</prefix>\n"
        "      <config>\n"
        "        <set-tag>100</set-tag>\n"
        "      </config>\n"
        "      <next-hops>\n"
        "        <next-hop>\n"
        "          <index>1</index>\n"
        "          <config>\n"
        "            <next-hop>192.0.2.1</next-hop>\n"
        "          </config>\n"
        "        </next-hop>\n"
        "        <next-hop>\n"
        "          <index>2</index>\n"
        "          <config>\n"
        "            <next-hop>oc-loc-rt:DROP</next-hop>\n"
        "          </config>\n"
        "        </next-hop>\n"
        "      </next-hops>\n"
        "    </static>\n"
        "    <static>\n"
        "      <prefix>10.1.0.0/16</prefix>\n"
        "      <config>\n"
        "        <set-tag>tag-a</set-tag>\n"
        "      </config>\n"
        "    </static>\n"
        "  </static-routes>\n"
        "</local-routes>\n";
    EXPECT_EQ(print(a, yfw_host::doc_format::xml), xml);
    EXPECT_EQ(print(b, yfw_host::doc_format::xml), xml);

    const std::string json = R"({
  "openconfig-local-routing:local-routes": {
    "static-routes": {
      "static": [
        {
          "prefix": "10.0.0.0/8",
          "config": {
            "set-tag": 100
          },
          "next-hops": {
            "next-hop": [
              {
                "index": "1",
                "config": {
                  "next-hop": "192.0.2.1"
                }
              },
              {
                "index": "2",
                "config": {
                  "next-hop": "openconfig-local-routing:DROP"
                }
              }
            ]
          }
        },
        {
          "prefix": "10.1.0.0/16",
          "config": {
            "set-tag": "tag-a"
          }
        }
      ]
    }
  }
}
)";
    EXPECT_EQ(print(a, yfw_host::doc_format::json), json);
    EXPECT_EQ(print(b, yfw_host::doc_format::json), json);
}

TEST(output_documents, native_edit_carries_operations_in_both_formats) {
    const std::string P =
        "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes/vrf-prefix";
    const char *NS = yfw_host::native_namespace;
    yfw_map_node removed{}, plain{}, deleted{};
    removed.operation = YFW_OP_REMOVE;
    deleted.operation = YFW_OP_DELETE;
    yfw_host::output_tree out;
    auto put = [&](const std::string &p, const char *v, int entry, const yfw_map_node *n) {
        out.add(p.c_str(), NS, v, n, entry, 0);
    };
    // The delete pass and the re-add pass of a replace reach one entry.
    put(P, nullptr, 1, &removed);
    put(P + "/prefix", "10.0.0.0", 0, nullptr);
    put(P + "/prefix-length", "8", 0, nullptr);
    put(P, nullptr, 1, &plain);
    put(P + "/prefix", "10.0.0.0", 0, nullptr);
    put(P + "/prefix-length", "8", 0, nullptr);
    put(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name", nullptr, 1, nullptr);
    put(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name/interface-name", "Null0", 0,
        nullptr);
    put(P + "/vrf-route/vrf-next-hop-table/vrf-next-hop-interface-name/tag", nullptr, 0, &deleted);

    std::string err;
    const yfw_host::out_node *doc =
        out.document_of(yfw_host::yang_schema::get().native_root(), err);
    ASSERT_NE(doc, nullptr) << err;
    std::string xml = yfw_host::write_document(*doc, yfw_host::doc_format::xml, true);
    // The prefix is declared once, on the root.
    EXPECT_EQ(xml.rfind("<router-static xmlns=\"" + std::string(yfw_host::native_namespace) +
                            "\" xmlns:nc=\"urn:ietf:params:xml:ns:netconf:base:1.0\">\n",
                        0),
              0u)
        << xml;
    EXPECT_EQ(xml.find("xmlns:nc", 1), xml.rfind("xmlns:nc")) << xml;
    EXPECT_NE(xml.find("<vrf-prefix nc:operation=\"replace\">"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<tag nc:operation=\"delete\"/>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("<vrf-prefix>"), std::string::npos) << "one entry for equal keys";
    std::string json = yfw_host::write_document(*doc, yfw_host::doc_format::json, true);
    std::erase_if(json, [](char c) { return c == ' ' || c == '\n'; });
    EXPECT_NE(json.find(R"("vrf-prefix":[{"@":{"ietf-netconf:operation":"replace"},)"
                        R"("prefix":"10.0.0.0","prefix-length":8,)"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("tag":"","@tag":{"ietf-netconf:operation":"delete"})"),
              std::string::npos)
        << json;
    EXPECT_EQ(yfw_host::write_document(*doc, yfw_host::doc_format::xml, false).find("operation"),
              std::string::npos);
}

TEST(output_documents, paths_outside_the_schema_are_reported) {
    yfw_host::output_tree out;
    add(out, S, nullptr, 1);
    add(out, S + "/colour", "red");
    EXPECT_EQ(print(out, yfw_host::doc_format::xml),
              "error: the plug-in wrote /local-routes/static-routes/static/colour, which is not in "
              "the schema of /local-routes/static-routes/static");
    yfw_host::output_tree other;
    add(other, "/router-static/vrfs");
    EXPECT_EQ(print(other, yfw_host::doc_format::json)
                  .rfind("error: the plug-in wrote /router-static", 0),
              0u);
    // Nothing written is an empty document, not nothing.
    yfw_host::output_tree nothing;
    EXPECT_EQ(print(nothing, yfw_host::doc_format::json),
              "{\n  \"openconfig-local-routing:local-routes\": {}\n}\n");
}

// ------------------------------------------------------------------ filter

// Two routes; the second has two next-hops. Each row filters the same data
// and lists the leaves that stay as "path=value".
TEST(subtree_filter, answers_hold_what_the_filter_selects) {
    const std::string data =
        "<local-routes xmlns='http://openconfig.net/yang/local-routing'><static-routes>"
        "<static><prefix>10.0.0.0/8</prefix><config><prefix>10.0.0.0/8</prefix>"
        "<set-tag>5</set-tag></config></static>"
        "<static><prefix>2001:db8::/32</prefix><config><prefix>2001:db8::/32</prefix></config>"
        "<next-hops><next-hop><index>1</index><config><index>1</index>"
        "<next-hop>2001:db8::1</next-hop><metric>3</metric></config></next-hop>"
        "<next-hop><index>2</index><config><index>2</index>"
        "<next-hop>2001:db8::2</next-hop></config></next-hop></next-hops></static>"
        "</static-routes></local-routes>";
    struct row {
        const char *name;
        std::string filter;  // children of local-routes
        std::vector<std::string> want;
    } rows[] = {
        {"no filter children: everything",
         "",
         {"prefix=10.0.0.0/8", "config/prefix=10.0.0.0/8", "config/set-tag=5",
          "prefix=2001:db8::/32", "config/prefix=2001:db8::/32", "index=1", "config/index=1",
          "config/next-hop=2001:db8::1", "config/metric=3", "index=2", "config/index=2",
          "config/next-hop=2001:db8::2"}},
        {"a route by its key: the whole route, nothing of the other",
         "<static-routes><static><prefix>10.0.0.0/8</prefix></static></static-routes>",
         {"prefix=10.0.0.0/8", "config/prefix=10.0.0.0/8", "config/set-tag=5"}},
        {"a selection under a keyed route: that leaf and the keys",
         "<static-routes><static><prefix>10.0.0.0/8</prefix><config><set-tag/></config>"
         "</static></static-routes>",
         {"prefix=10.0.0.0/8", "config/set-tag=5"}},
        {"a content match keeps the matching entry only, with all of its container",
         "<static-routes><static><next-hops><next-hop><config><metric>3</metric></config>"
         "</next-hop></next-hops></static></static-routes>",
         {"prefix=2001:db8::/32", "index=1", "config/index=1", "config/next-hop=2001:db8::1",
          "config/metric=3"}},
        {"a content match that matches nothing leaves nothing",
         "<static-routes><static><prefix>192.0.2.0/24</prefix></static></static-routes>",
         {}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        yfw_host::input_error err;
        auto doc =
            yfw_host::read_data_document(data, "data", yfw_host::yang_schema::get().oc_root(),
                                         yfw_host::document_role::data, err);
        ASSERT_TRUE(doc) << err.text();
        auto filter =
            oclr_test::parse("<local-routes xmlns='http://openconfig.net/yang/local-routing'>" +
                                 r.filter + "</local-routes>",
                             false);
        yfw_host::apply_subtree_filter(*doc, *filter.root());
        std::vector<std::string> got;
        // Leaf paths relative to their route or next-hop entry.
        std::function<void(const yfw_host::data_node &, const std::string &)> walk =
            [&](const yfw_host::data_node &n, const std::string &at) {
                std::string here = n.schema->kind == yfw_host::schema_node::node_kind::list
                                       ? ""
                                       : at + n.schema->name;
                if (n.schema->is_leaf()) got.push_back(here + "=" + std::string(n.value()));
                for (const yfw_host::data_node *c : n.children())
                    walk(*c, here.empty() ? here : here + "/");
            };
        walk(*doc->root, "");
        EXPECT_EQ(got, r.want);
    }
}

}  // namespace
