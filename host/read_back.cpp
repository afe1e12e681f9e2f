#include "read_back.h"

#include <charconv>
#include <cstring>
#include <map>

#include "native_store.h"
#include "plugin_limits.h"
#include "running_store.h"
#include "yang_schema.h"

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;
using leaf_map = std::map<std::string, std::string>;
struct asked_leaf {
    std::string value;
    const schema_node *leaf;
};
using asked_map = std::map<std::string, asked_leaf>;

bool removes(const yfw_map_node &n) {
    return n.operation == YFW_OP_DELETE || n.operation == YFW_OP_REMOVE;
}

const yfw_map_node *child_tagged(const yfw_map_node &n, const std::string &tag) {
    for (uint32_t i = 0; i < n.child_count; ++i)
        if (n.children[i].tag != nullptr && tag == n.children[i].tag) return &n.children[i];
    return nullptr;
}

// "[k1][k2]" from an entry's key leaves; false when one is missing.
bool keys_of(const yfw_map_node &entry, const schema_node &list, std::string &out) {
    for (const schema_node *k : list.keys) {
        const yfw_map_node *v = child_tagged(entry, k->name);
        if (v == nullptr || v->value == nullptr) return false;
        out += "[" + std::string(v->value) + "]";
    }
    return true;
}

// The configuration leaves a request gives, by their answer path
// ("/static-routes/static[10.0.0.0/8]/next-hops/next-hop[1]/config/metric"),
// in document order: later ones win, and a delete or a replace clears what
// it covers. Key leaves are in the paths, not among the leaves.
void asked_leaves(const yfw_map_node &n, const schema_node &s, const std::string &path,
                  asked_map &want) {
    auto erase_under = [&want](const std::string &p) {
        for (auto it = want.lower_bound(p); it != want.end() && it->first.starts_with(p);)
            it = want.erase(it);
    };
    if (removes(n)) {
        erase_under(path);
        return;
    }
    if (n.operation == YFW_OP_REPLACE) erase_under(path);
    if (!s.config) return;
    if (s.is_leaf()) {
        if (n.value != nullptr && !s.is_key) want[path] = {n.value, &s};
        return;
    }
    for (uint32_t i = 0; i < n.child_count; ++i) {
        const yfw_map_node &c = n.children[i];
        const schema_node *cs = c.tag != nullptr ? s.child(c.tag) : nullptr;
        if (cs == nullptr) continue;
        std::string here = path + "/" + cs->name;
        if (cs->kind == kind::list && !keys_of(c, *cs, here)) continue;
        asked_leaves(c, *cs, here, want);
    }
}

void answered_leaves(const out_node &n, const std::string &path, leaf_map &got) {
    for (const out_node *c : n.children) {
        std::string here = path + "/" + c->schema->name;
        if (c->schema->kind == kind::list)
            for (const schema_node *k : c->schema->keys)
                for (const out_node *kc : c->children)
                    if (kc->schema == k && kc->value())
                        here += "[" + std::string(*kc->value()) + "]";
        if (c->schema->is_leaf())
            got[here] = std::string(c->value().value_or(std::string_view()));
        else
            answered_leaves(*c, here, got);
    }
}

// A union of a number and hexadecimal text (a route tag) reads "100",
// "0x64" and "64" as one value where the text is not also a decimal
// number: the native side keeps the number.
bool same_value(const schema_node &leaf, std::string_view asked, std::string_view got) {
    if (asked == got) return true;
    if (leaf.value != value_class::number_or_string) return false;
    auto number = [](std::string_view t, uint64_t &v) {
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec == std::errc() && end == t.data() + t.size()) return true;
        if (t.starts_with("0x") || t.starts_with("0X")) t.remove_prefix(2);
        auto [hend, hec] = std::from_chars(t.data(), t.data() + t.size(), v, 16);
        return !t.empty() && hec == std::errc() && hend == t.data() + t.size();
    };
    uint64_t a = 0, g = 0;
    return number(asked, a) && number(got, g) && a == g;
}

data_node *container(data_tree &t, data_node *parent, const char *name) {
    const schema_node *s = parent->schema->child(name);
    if (data_node *c = parent->child(s)) return c;
    return t.add(parent, s);
}

}  // namespace

std::vector<std::string> stored_routes_named(const yfw_map_node &request, const data_node &config) {
    std::vector<std::string> found;
    const yfw_map_node *routes = child_tagged(request, "static-routes");
    if (routes == nullptr) return found;
    for (uint32_t i = 0; i < routes->child_count; ++i) {
        const yfw_map_node &route = routes->children[i];
        const yfw_map_node *prefix = child_tagged(route, "prefix");
        if (prefix != nullptr && prefix->value != nullptr &&
            stored_route(config, prefix->value) != nullptr)
            found.emplace_back(prefix->value);
    }
    return found;
}

std::string read_back_problem(const yfw_map_node &request, const std::vector<std::string> &routes,
                              const data_node &edited, yfw_map_walker_fn native_walker) {
    if (routes.empty()) return {};
    const yang_schema &schema = yang_schema::get();
    // The routes, selected from the edited configuration as a read would.
    data_tree query = data_tree::empty(schema.native_root());
    for (const std::string &p : routes) {
        std::size_t slash = p.find('/');
        data_node *n = query.root;
        for (const char *name : {"default-vrf", "address-family"}) n = container(query, n, name);
        n = container(query, n, p.find(':') == std::string::npos ? "vrfipv4" : "vrfipv6");
        n = container(query, container(query, n, "vrf-unicast"), "vrf-prefixes");
        query.add_entry(
            n, n->schema->child("vrf-prefix"),
            {std::string_view(p).substr(0, slash), std::string_view(p).substr(slash + 1)});
    }
    request_tree data = selection(edited, *query.root).request();
    output_tree out;
    out.record_adds(false);
    out.entries_are_distinct(true);
    out.expect_root(schema.oc_root());
    ymap_result rc;
    {
        session s(YFW_REQ_READ_CONFIG, out, &data, {});
        rc = s.run(native_walker, data.root());
    }
    std::string err;
    const out_node *doc = rc == YMAP_OK ? out.document_of(schema.oc_root(), err) : nullptr;
    if (doc == nullptr) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", rc);
        return "the edited routes cannot be read back (" + (err.empty() ? code : err) + ")";
    }
    asked_map want;
    leaf_map got;
    const std::string list = "/static-routes/static[";
    asked_leaves(request, schema.oc_root(), "", want);
    answered_leaves(*doc, "", got);
    for (const auto &[path, asked] : want) {
        bool checked = false;
        for (const std::string &p : routes) checked = checked || path.starts_with(list + p + "]");
        if (!checked) continue;
        auto it = got.find(path);
        const std::string &value = asked.value;
        if (it != got.end() && same_value(*asked.leaf, value, it->second)) continue;
        return "the edit would store /local-routes" + path + " as " +
               (it == got.end() ? std::string("nothing") : quoted(it->second)) + ", not the " +
               quoted(value) + " asked (the mapping keeps what is stored there)";
    }
    return {};
}

std::string edit_not_kept(const yfw_map_node &request,
                          const std::vector<std::string> &stored_before, const data_node &edited,
                          yfw_map_walker_fn native_walker) {
    std::string problem = unstored_route_tags(request, edited);
    if (problem.empty()) problem = unstored_next_hops(request, stored_before);
    if (problem.empty()) problem = read_back_problem(request, stored_before, edited, native_walker);
    return problem;
}

}  // namespace yfw_host
