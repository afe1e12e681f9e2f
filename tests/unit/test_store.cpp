// The running-configuration store: edit semantics per operation, refusals
// that leave the file alone, schema order, atomic writes, the lock, and
// what a read's native paths select.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "document_reader.h"
#include "running_store.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using yfw_host::data_node;
using yfw_host::data_tree;
using yfw_host::output_tree;

const std::string V4 = "/router-static/default-vrf/address-family/vrfipv4/vrf-unicast/vrf-prefixes";
const std::string NT = "/vrf-route/vrf-next-hop-table";
constexpr const char *NS = yfw_host::native_namespace;

// One add of a native edit: path relative to V4 unless it starts with
// /router-static, value, list-entry flag and the bound operation (-1 =
// unbound).
struct add_row {
    std::string path;
    const char *value = nullptr;
    bool entry = false;
    int op = -1;
};

struct edit_builder {
    output_tree out;
    std::deque<yfw_map_node> nodes;  // the request nodes adds are bound to
    edit_builder() { out.keys_name_entries(&yfw_host::yang_schema::get().native_root()); }
    // The edit's document; a path outside the schema is refused as ocmap
    // refuses it.
    const yfw_host::out_node *doc(yfw_host::apply_error &err) {
        const yfw_host::out_node *d =
            out.document_of(yfw_host::yang_schema::get().native_root(), err.message);
        if (d == nullptr) err.tag = "unknown-element";
        return d;
    }
    bool apply(data_tree &config, yfw_host::apply_error &err) {
        const yfw_host::out_node *d = doc(err);
        return d != nullptr && yfw_host::apply_checked("", config, *d, err);
    }
    void run(const std::vector<add_row> &rows) {
        for (const auto &r : rows) {
            const yfw_map_node *bound = nullptr;
            if (r.op >= 0) {
                nodes.emplace_back();
                nodes.back().operation = static_cast<uint32_t>(r.op);
                bound = &nodes.back();
            }
            std::string p = r.path.rfind("/router-static", 0) == 0 ? r.path : V4 + r.path;
            out.add(p.c_str(), NS, r.value, bound, r.entry ? 1 : 0, 0);
        }
    }
};

// A route entry with its keys, as adds.
std::vector<add_row> route(const char *prefix, const char *len, int op) {
    return {{"/vrf-prefix", nullptr, true, op},
            {"/vrf-prefix/prefix", prefix},
            {"/vrf-prefix/prefix-length", len}};
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

data_tree parse_store(const std::string &body) {
    std::string xml =
        "<router-static xmlns=\"" + std::string(NS) + "\">" + body + "</router-static>";
    yfw_host::input_error err;
    auto t =
        yfw_host::read_data_document(xml, "store.xml", yfw_host::yang_schema::get().native_root(),
                                     yfw_host::document_role::data, err);
    if (!t) throw std::runtime_error(err.text());
    return std::move(*t);
}

std::string v4_routes(const std::string &entries) {
    return "<default-vrf><address-family><vrfipv4><vrf-unicast><vrf-prefixes>" + entries +
           "</vrf-prefixes></vrf-unicast></vrfipv4></address-family></default-vrf>";
}

// Every leaf as "path=value", in document order, with V4 shortened to "~".
std::vector<std::string> leaves(const data_node &n) {
    std::vector<std::string> out;
    if (n.schema->is_leaf()) {
        std::string p = n.path();
        if (p.rfind(V4, 0) == 0) p = "~" + p.substr(V4.size());
        out.push_back(p + "=" + std::string(n.value()));
    }
    for (const data_node *c : n.children()) {
        auto sub = leaves(*c);
        out.insert(out.end(), sub.begin(), sub.end());
    }
    return out;
}

// The same for the walker's input, read back into a data tree.
std::vector<std::string> leaves(const yfw_map_node &n) {
    data_tree t = data_tree::empty(yfw_host::yang_schema::get().native_root());
    std::function<void(const yfw_map_node &, data_node &)> copy = [&](const yfw_map_node &from,
                                                                      data_node &to) {
        if (from.value != nullptr) t.set_value(&to, from.value);
        for (uint32_t i = 0; i < from.child_count; ++i)
            copy(from.children[i], *t.add(&to, to.schema->child(from.children[i].tag)));
    };
    copy(n, *t.root);
    return leaves(*t.root);
}

const std::string R10 =
    "<vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>8</prefix-length>"
    "<vrf-route><vrf-next-hop-table><vrf-next-hop-next-hop-address>"
    "<next-hop-address>192.0.2.1</next-hop-address><metric>5</metric>"
    "</vrf-next-hop-next-hop-address></vrf-next-hop-table></vrf-route>"
    "</vrf-prefix>";
const std::string K10 = "~/vrf-prefix[prefix='10.0.0.0'][prefix-length='8']";
const std::string H1 = K10 + NT + "/vrf-next-hop-next-hop-address[next-hop-address='192.0.2.1']";

std::vector<add_row> hop(int op) {
    return route("10.0.0.0", "8", -1) +
           std::vector<add_row>{
               {"/vrf-prefix" + NT + "/vrf-next-hop-next-hop-address", nullptr, true, op},
               {"/vrf-prefix" + NT + "/vrf-next-hop-next-hop-address/next-hop-address",
                "192.0.2.1"}};
}

struct apply_case {
    const char *name;
    std::vector<add_row> adds;
    std::vector<std::string> want;  // leaves after the edit
    const char *error_tag = "";     // when refused
};

TEST(store_apply, operations_follow_netconf_edit_semantics) {
    const std::string P = "/vrf-prefix" + NT + "/vrf-next-hop-next-hop-address";
    const std::vector<std::string> untouched = {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8",
                                                H1 + "/next-hop-address=192.0.2.1",
                                                H1 + "/metric=5"};
    std::vector<apply_case> cases = {
        {"merge creates the entry and its parents",
         route("10.1.0.0", "16", YFW_OP_NONE) + std::vector<add_row>{{"/vrf-prefix/vrf-route"}},
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8", H1 + "/next-hop-address=192.0.2.1",
          H1 + "/metric=5", "~/vrf-prefix[prefix='10.1.0.0'][prefix-length='16']/prefix=10.1.0.0",
          "~/vrf-prefix[prefix='10.1.0.0'][prefix-length='16']/prefix-length=16"}},
        {"merge of a leaf keeps the last value",
         hop(YFW_OP_NONE) + std::vector<add_row>{{P + "/metric", "7"}, {P + "/metric", "9"}},
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8", H1 + "/next-hop-address=192.0.2.1",
          H1 + "/metric=9"}},
        {"create of an existing entry", hop(YFW_OP_CREATE), untouched, "data-exists"},
        {"create of an existing leaf",
         hop(-1) + std::vector<add_row>{{P + "/metric", "1", false, YFW_OP_CREATE}}, untouched,
         "data-exists"},
        {"delete of an entry, its keys named unbound afterwards",
         hop(YFW_OP_DELETE),
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8"}},
        {"delete of an absent entry", route("10.9.0.0", "16", YFW_OP_DELETE), untouched,
         "data-missing"},
        {"delete of an absent leaf",
         hop(-1) + std::vector<add_row>{{P + "/tag", nullptr, false, YFW_OP_DELETE}}, untouched,
         "data-missing"},
        {"remove of an absent entry is no change", route("10.9.0.0", "16", YFW_OP_REMOVE),
         untouched},
        {"remove of a present leaf",
         hop(-1) + std::vector<add_row>{{P + "/metric", nullptr, false, YFW_OP_REMOVE}},
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8", H1 + "/next-hop-address=192.0.2.1"}},
        {"replace drops what the new content does not name",
         hop(YFW_OP_REPLACE) + std::vector<add_row>{{P + "/tag", "4"}},
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8", H1 + "/next-hop-address=192.0.2.1",
          H1 + "/tag=4"}},
        {"remove then merge of one container is a replace",
         std::vector<add_row>{{"/router-static", nullptr, false, YFW_OP_REMOVE},
                              {"/router-static", nullptr, false, YFW_OP_NONE}} +
             route("10.2.0.0", "16", -1),
         {"~/vrf-prefix[prefix='10.2.0.0'][prefix-length='16']/prefix=10.2.0.0",
          "~/vrf-prefix[prefix='10.2.0.0'][prefix-length='16']/prefix-length=16"}},
        {"invalid value", hop(-1) + std::vector<add_row>{{P + "/metric", "ten"}}, untouched,
         "invalid-value"},
        {"path outside the schema", hop(-1) + std::vector<add_row>{{P + "/colour", "red"}},
         untouched, "unknown-element"},
        {"entry without its keys",
         std::vector<add_row>{{"/vrf-prefix", nullptr, true, 0},
                              {"/vrf-prefix/prefix", "10.3.0.0"}},
         untouched, "missing-element"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        data_tree config = parse_store(v4_routes(R10));
        edit_builder e;
        e.run(c.adds);
        yfw_host::apply_error err;
        bool ok = e.apply(config, err);
        EXPECT_EQ(ok, std::string(c.error_tag).empty()) << err.message;
        EXPECT_EQ(err.tag, c.error_tag);
        if (!ok) {
            // The message names the node, and the value when one is at fault.
            EXPECT_NE(err.message.find(err.path), std::string::npos) << err.message;
            if (err.tag == "invalid-value") {
                EXPECT_NE(err.message.find("'ten'"), std::string::npos);
            }
            continue;
        }
        EXPECT_EQ(leaves(*config.root), c.want);
    }
}

TEST(store_apply, children_are_written_in_schema_order) {
    data_tree config = data_tree::empty(yfw_host::yang_schema::get().native_root());
    edit_builder e;
    const std::string T = "/vrf-prefix" + NT;
    // Adds in reverse of the module's order: index before metric, the
    // address list before the interface list, vrfipv6 before vrfipv4.
    e.run(route("10.0.0.0", "8", -1) +
          std::vector<add_row>{{T + "/vrf-next-hop-next-hop-address", nullptr, true},
                               {T + "/vrf-next-hop-next-hop-address/index", "1"},
                               {T + "/vrf-next-hop-next-hop-address/metric", "3"},
                               {T + "/vrf-next-hop-next-hop-address/next-hop-address", "192.0.2.1"},
                               {T + "/vrf-next-hop-interface-name", nullptr, true},
                               {T + "/vrf-next-hop-interface-name/interface-name", "Null0"},
                               {"/router-static/maximum-routes/ipv4-routes", "10"},
                               {"/router-static/default-vrf/address-family/vrfipv6/vrf-unicast"}});
    yfw_host::apply_error err;
    ASSERT_TRUE(e.apply(config, err)) << err.message;
    std::string xml = yfw_host::to_xml(*config.root, false);
    EXPECT_EQ(yfw_host::to_xml(*config.clone().root, false), xml);
    auto at = [&](const char *s) { return xml.find(s); };
    EXPECT_LT(at("<default-vrf>"), at("<maximum-routes>"));
    EXPECT_LT(at("<vrfipv4>"), at("<vrfipv6>"));
    EXPECT_LT(at("<vrf-next-hop-interface-name>"), at("<vrf-next-hop-next-hop-address>"));
    EXPECT_LT(at("<next-hop-address>"), at("<metric>"));
    EXPECT_LT(at("<metric>"), at("<index>"));
    // Read back, the document is the same.
    yfw_host::input_error ierr;
    auto again = yfw_host::read_data_document(xml, "s.xml", *config.root->schema,
                                              yfw_host::document_role::data, ierr);
    ASSERT_TRUE(again) << ierr.text();
    EXPECT_EQ(yfw_host::to_xml(*again->root, false), xml);
}

TEST(store_read, unusable_stores_are_refused_with_position_and_value) {
    struct row {
        std::string body;
        const char *message;
    };
    std::vector<row> rows = {
        {v4_routes("<vrf-prefix><prefix>10.0.0.0</prefix></vrf-prefix>"),
         "has no key 'prefix-length' (tag: missing-element)"},
        {v4_routes(R10 + R10), "duplicate entry"},
        {v4_routes("<vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>200</prefix-length>"
                   "</vrf-prefix>"),
         "invalid value '200'"},
        {"<default-vrf><colour/></default-vrf>", "unknown element <colour>"},
        {"<maximum-routes><ipv4-routes>1</ipv4-routes><ipv4-routes>2</ipv4-routes>"
         "</maximum-routes>",
         "<ipv4-routes> is given twice in /router-static/maximum-routes (tag: bad-element)"},
        {v4_routes("<vrf-prefix><prefix>10.0.0.1</prefix><prefix-length>8</prefix-length>"
                   "</vrf-prefix>"),
         "bits are set beyond the prefix length (the network is 10.0.0.0/8) (tag: invalid-value)"},
    };
    for (const auto &r : rows) {
        std::string xml =
            "<router-static xmlns=\"" + std::string(NS) + "\">\n" + r.body + "</router-static>";
        yfw_host::input_error err;
        auto t =
            yfw_host::read_data_document(xml, "s.xml", yfw_host::yang_schema::get().native_root(),
                                         yfw_host::document_role::data, err);
        EXPECT_FALSE(t) << r.body;
        EXPECT_NE(err.text().find(r.message), std::string::npos) << err.text();
        EXPECT_EQ(err.text().rfind("s.xml:2:", 0), 0u) << err.text();
    }
}

struct temp_dir {
    fs::path path;
    temp_dir() {
        char tmpl[] = "/tmp/oclr-store-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~temp_dir() { fs::remove_all(path); }
};

std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(store_file, refused_edit_or_failed_write_leaves_the_file_as_it_was) {
    temp_dir dir;
    std::string store = (dir.path / "s.xml").string();
    std::string before = yfw_host::to_xml(*parse_store(v4_routes(R10)).root, false);
    yfw_host::store_lock lock(store);
    ASSERT_TRUE(yfw_host::write_file_atomically(store, before, lock).empty());

    // The first add of this edit applies before the second is refused.
    yfw_host::input_error ierr;
    auto config = yfw_host::read_store(store, ierr);
    ASSERT_TRUE(config) << ierr.text();
    edit_builder e;
    e.run(route("10.5.0.0", "16", YFW_OP_NONE) + hop(YFW_OP_CREATE));
    yfw_host::apply_error err;
    EXPECT_FALSE(yfw_host::commit_edit(store, *config, *e.doc(err), lock, err));
    EXPECT_EQ(err.tag, "data-exists");
    EXPECT_EQ(err.message.rfind(store + ": create of ", 0), 0u) << err.message;
    EXPECT_EQ(slurp(store), before);

    // Values the schema types let through but the database could not load
    // are refused in the routes the edit reached.
    const std::string P = "/vrf-prefix" + NT + "/vrf-next-hop-next-hop-address";
    auto hop_to = [&P](const char *address) {
        return route("10.0.0.0", "8", -1) +
               std::vector<add_row>{{P, nullptr, true, YFW_OP_NONE},
                                    {P + "/next-hop-address", address}};
    };
    struct {
        std::vector<add_row> adds;
        const char *says;
    } unloadable[] = {
        {hop_to("2001:db8::1"), "has an address that is not a valid IPv4 address: '2001:db8::1'"},
        {route("10.5.0.1", "16", YFW_OP_CREATE),
         "has the prefix '10.5.0.1/16': bits are set beyond the prefix length"},
    };
    for (const auto &c : unloadable) {
        auto cfg = yfw_host::read_store(store, ierr);
        ASSERT_TRUE(cfg) << ierr.text();
        edit_builder bad;
        bad.run(c.adds);
        yfw_host::apply_error why;
        EXPECT_FALSE(yfw_host::commit_edit(store, *cfg, *bad.doc(why), lock, why)) << c.says;
        EXPECT_EQ(why.tag, "invalid-value") << why.message;
        EXPECT_NE(why.message.find(c.says), std::string::npos) << why.message;
        EXPECT_EQ(slurp(store), before);
    }

    // A write that cannot happen leaves no temporary file behind.
    EXPECT_FALSE(
        yfw_host::write_file_atomically((dir.path / "no/such/dir/s.xml").string(), "x", lock)
            .empty());
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &f : fs::directory_iterator(dir.path)) ++files;
    EXPECT_EQ(files, 2u) << "the store and its lock file";

    // A missing store is an empty configuration, and the first apply makes it.
    std::string fresh = (dir.path / "new.xml").string();
    auto empty = yfw_host::read_store(fresh, ierr);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->root->has_children());
    edit_builder ok;
    ok.run(route("10.5.0.0", "16", YFW_OP_CREATE));
    yfw_host::store_lock fresh_lock(fresh);
    ASSERT_TRUE(yfw_host::commit_edit(fresh, *empty, *ok.doc(err), fresh_lock, err)) << err.message;
    EXPECT_NE(slurp(fresh).find("<prefix>10.5.0.0</prefix>"), std::string::npos);
}

// ------------------------------------------------------------------ select

TEST(store_select, native_paths_select_nodes_subtrees_and_keyed_entries) {
    const std::string R10_16 =
        "<vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>16</prefix-length>"
        "<vrf-route><vrf-next-hop-table><vrf-next-hop-interface-name>"
        "<interface-name>Null0</interface-name><tag>3</tag>"
        "</vrf-next-hop-interface-name></vrf-next-hop-table></vrf-route>"
        "</vrf-prefix>";
    data_tree config = parse_store(v4_routes(R10 + R10_16) +
                                   "<maximum-routes><ipv4-routes>9</ipv4-routes>"
                                   "</maximum-routes>");
    const std::string K10_16 = "~/vrf-prefix[prefix='10.0.0.0'][prefix-length='16']";
    const std::string H2 = K10_16 + NT + "/vrf-next-hop-interface-name[interface-name='Null0']";
    const std::vector<std::string> r10 = {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8",
                                          H1 + "/next-hop-address=192.0.2.1", H1 + "/metric=5"};
    const std::vector<std::string> r10_16 = {K10_16 + "/prefix=10.0.0.0",
                                             K10_16 + "/prefix-length=16",
                                             H2 + "/interface-name=Null0", H2 + "/tag=3"};
    struct row {
        const char *name;
        std::vector<add_row> paths;
        std::vector<std::string> want;
    };
    std::vector<row> rows = {
        {"a container without children selects its subtree",
         {{"/router-static/maximum-routes"}},
         {"/router-static/maximum-routes/ipv4-routes=9"}},
        {"both keys pick one entry", route("10.0.0.0", "16", -1), r10_16},
        {"one valued key picks every entry it matches",
         {{"/vrf-prefix", nullptr, true}, {"/vrf-prefix/prefix", "10.0.0.0"}},
         r10 + r10_16},
        {"keys without values restrict nothing; leaves select only themselves",
         {{"/vrf-prefix", nullptr, true},
          {"/vrf-prefix/prefix"},
          {"/vrf-prefix" + NT + "/vrf-next-hop-interface-name/tag"}},
         {K10 + "/prefix=10.0.0.0", K10 + "/prefix-length=8", K10_16 + "/prefix=10.0.0.0",
          K10_16 + "/prefix-length=16", H2 + "/interface-name=Null0", H2 + "/tag=3"}},
        {"an entry that is not configured selects nothing", route("10.7.0.0", "16", -1), {}},
        {"the same entry asked twice comes once",
         route("10.0.0.0", "8", -1) + route("10.0.0.0", "8", -1), r10},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        edit_builder e;
        e.run(r.paths);
        std::string err;
        auto query = yfw_host::document_of(e.out, *config.root->schema, err);
        ASSERT_TRUE(query) << err;
        yfw_host::selection sel(*config.root, *query->root);
        yfw_host::request_tree req = sel.request();
        EXPECT_STREQ(req.root()->tag, "router-static");
        EXPECT_EQ(leaves(*req.root()), r.want);
    }
}

}  // namespace
