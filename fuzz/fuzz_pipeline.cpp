#include "fuzz_pipeline.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "document_reader.h"
#include "native_store.h"
#include "platform_runtime.h"
#include "plugin_limits.h"
#include "read_back.h"
#include "running_store.h"
#include "subtree_filter.h"

namespace oclr_fuzz {

namespace {

// Every next-hop list the lookups distinguish, both families, with and
// without indices, so edits of existing next-hops take their move paths.
constexpr const char *store_text = R"(
<router-static xmlns="http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg">
 <default-vrf><address-family>
  <vrfipv4><vrf-unicast><vrf-prefixes>
   <vrf-prefix><prefix>10.0.0.0</prefix><prefix-length>8</prefix-length>
    <vrf-route><vrf-next-hop-table>
     <vrf-next-hop-next-hop-address><next-hop-address>192.0.2.1</next-hop-address>
      <index>1</index><metric>5</metric><tag>100</tag></vrf-next-hop-next-hop-address>
     <vrf-next-hop-interface-name><interface-name>Gi0/0/0/1</interface-name>
      <index>2</index><description>uplink</description></vrf-next-hop-interface-name>
     <vrf-next-hop-interface-name><interface-name>Null0</interface-name>
     </vrf-next-hop-interface-name>
     <vrf-next-hop-interface-name-next-hop-address><interface-name>Gi0/0/0/2</interface-name>
      <next-hop-address>192.0.2.9</next-hop-address><permanent>true</permanent>
     </vrf-next-hop-interface-name-next-hop-address>
    </vrf-next-hop-table></vrf-route></vrf-prefix>
   <vrf-prefix><prefix>192.168.1.0</prefix><prefix-length>24</prefix-length>
    <vrf-route><vrf-next-hop-table>
     <vrf-next-hop-next-hop-address><next-hop-address>192.0.2.2</next-hop-address>
      <index>**192.0.2.2**</index></vrf-next-hop-next-hop-address>
    </vrf-next-hop-table></vrf-route></vrf-prefix>
  </vrf-prefixes></vrf-unicast></vrfipv4>
  <vrfipv6><vrf-unicast><vrf-prefixes>
   <vrf-prefix><prefix>2001:db8::</prefix><prefix-length>32</prefix-length>
    <vrf-route><vrf-next-hop-table>
     <vrf-next-hop-next-hop-address><next-hop-address>2001:db8::1</next-hop-address>
      <index>1</index><metric>7</metric></vrf-next-hop-next-hop-address>
     <vrf-next-hop-interface-name-next-hop-address><interface-name>Gi0/0/0/1</interface-name>
      <next-hop-address>fe80::1</next-hop-address><index>ll</index>
     </vrf-next-hop-interface-name-next-hop-address>
    </vrf-next-hop-table></vrf-route></vrf-prefix>
  </vrf-prefixes></vrf-unicast></vrfipv6>
 </address-family></default-vrf>
</router-static>
)";

struct runtime {
    yfw_host::plugin plug;
    yfw_host::data_tree config;
};

[[noreturn]] void fail_setup(const std::string &what) {
    std::fprintf(stderr, "fuzz setup: %s\n", what.c_str());
    std::abort();
}

runtime make_runtime() {
    platform::set_line_consumer([](platform::sink_kind, const std::string &) {});
    // Interfaces the interface manager knows, so both of its answers occur.
    platform::imc_set_known_interfaces({"Gi0/0/0/1", "Gi0/0/0/2", "Null0"});
    std::string err;
    auto p = yfw_host::plugin::load(OCLR_FUZZ_PLUGIN_PATH, err);
    if (!p) fail_setup(err);
    if (p->record().oc_root_walker == nullptr || p->record().native_root_walker == nullptr)
        fail_setup("the plug-in registered no root walkers");
    yfw_host::input_error ierr;
    auto tree = yfw_host::read_data_document(store_text, "fuzz-store.xml",
                                             yfw_host::yang_schema::get().native_root(),
                                             yfw_host::document_role::data, ierr);
    if (!tree) fail_setup(ierr.text());
    return runtime{std::move(*p), std::move(*tree)};
}

runtime &rt() {
    static runtime r = make_runtime();
    return r;
}

// What run_walk in ocmap does, minus the printing.
ymap_result walk(request_mode mode, yfw_map_walker_fn walker, yfw_host::request_tree &tree,
                 yfw_host::output_tree &out) {
    yfw_host::session s(mode.kind, out, &tree, {mode.logs, mode.logs, true});
    ymap_result rc = s.run(walker, tree.root());
    (void)s.error_tag();
    return rc;
}

template <class Node>
void write_both(const Node &root, bool with_operations) {
    (void)yfw_host::write_document(root, yfw_host::doc_format::xml, with_operations);
    (void)yfw_host::write_document(root, yfw_host::doc_format::json, with_operations);
}

}  // namespace

request_mode request_mode_of(uint8_t selector) {
    static constexpr uint32_t kinds[] = {YFW_REQ_READ_CONFIG, YFW_REQ_EDIT, YFW_REQ_READ_STATE};
    unsigned k = selector % 6u;
    return {kinds[k % 3], k >= 3};
}

std::string_view body_of(const uint8_t *data, size_t size) {
    if (size == 0) return {};
    return {reinterpret_cast<const char *>(data) + 1, size - 1};
}

const yfw_host::plugin &plugin() {
    return rt().plug;
}

const yfw_host::data_tree &store() {
    return rt().config;
}

void reset_state() {
    runtime &r = rt();
    platform::set_line_consumer([](platform::sink_kind, const std::string &) {});
    yfw_host::reset_trace_index();
    yfw_host::input_error err;
    // Clears the database first, so nothing an earlier input added survives.
    auto loaded = yfw_host::load_native_store(*r.config.root, "fuzz-store.xml", err);
    if (!loaded || loaded->next_hops == 0) fail_setup("the fuzz store did not load: " + err.text());
}

namespace {

using leaf_map = std::map<std::string, std::string>;

// A tag is the same tag in any of its forms: the native side keeps it in
// decimal whatever form the edit gave.
std::string tag_value(std::string_view v) {
    bool hex = v.starts_with("0x") || v.starts_with("0X") ||
               v.find_first_of("abcdefABCDEF") != std::string_view::npos;
    std::string digits(hex && (v.starts_with("0x") || v.starts_with("0X")) ? v.substr(2) : v);
    return std::to_string(std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10));
}

// The configuration leaves an accepted edit asks for, by their path in the
// answer ("static[10.0.0.0/8]/next-hops/next-hop[1]/config/metric"), in
// document order: later ones win, deletes and replaces clear what they
// cover.
void asked_leaves(const yfw_map_node &n, const std::string &path, leaf_map &want) {
    auto erase_under = [&want](const std::string &p) {
        for (auto it = want.lower_bound(p); it != want.end() && it->first.starts_with(p);)
            it = want.erase(it);
    };
    if (n.operation == YFW_OP_DELETE || n.operation == YFW_OP_REMOVE) {
        erase_under(path);
        return;
    }
    if (n.operation == YFW_OP_REPLACE) erase_under(path);
    if (std::strcmp(n.tag, "state") == 0) return;
    if (n.child_count == 0 && n.value != nullptr) {
        bool is_key = std::strcmp(n.tag, "prefix") == 0 || std::strcmp(n.tag, "index") == 0;
        if (path.ends_with("/config/" + std::string(n.tag)) || !is_key)
            want[path] = std::strcmp(n.tag, "set-tag") == 0 ? tag_value(n.value) : n.value;
        return;
    }
    for (uint32_t i = 0; i < n.child_count; ++i) {
        const yfw_map_node &c = n.children[i];
        std::string here = path + "/" + c.tag;
        const char *key = std::strcmp(c.tag, "static") == 0     ? "prefix"
                          : std::strcmp(c.tag, "next-hop") == 0 ? "index"
                                                                : nullptr;
        // A next-hop's own next-hop leaf is no entry.
        if (key != nullptr && c.child_count > 0) {
            const char *k = nullptr;
            for (uint32_t j = 0; j < c.child_count; ++j)
                if (std::strcmp(c.children[j].tag, key) == 0) k = c.children[j].value;
            if (k == nullptr) continue;
            here += std::string("[") + k + "]";
        }
        asked_leaves(c, here, want);
    }
}

void answered_leaves(const yfw_host::out_node &n, const std::string &path, leaf_map &got) {
    for (const yfw_host::out_node *c : n.children) {
        std::string here = path + "/" + std::string(c->name());
        if (c->schema->kind == yfw_host::schema_node::node_kind::list) {
            for (const yfw_host::out_node *k : c->children)
                if (k->schema->is_key && k->value()) here += "[" + std::string(*k->value()) + "]";
        }
        if (c->schema->is_leaf())
            got[here] = std::string(c->value().value_or(std::string_view()));
        else
            answered_leaves(*c, here, got);
    }
}

// An answer is OpenConfig data the module admits: written and read back as
// data it must be accepted, and the same in both formats.
void check_valid_answer(const yfw_host::out_node &doc) {
    const auto &oc = yfw_host::yang_schema::get().oc_root();
    std::string xml = yfw_host::write_document(doc, yfw_host::doc_format::xml, false);
    std::string json = yfw_host::write_document(doc, yfw_host::doc_format::json, false);
    yfw_host::input_error xerr, jerr;
    auto from_xml =
        yfw_host::read_data_document(xml, "answer.xml", oc, yfw_host::document_role::data, xerr);
    auto from_json =
        yfw_host::read_data_document(json, "answer.json", oc, yfw_host::document_role::data, jerr);
    if (!from_xml || !from_json)
        std::fprintf(stderr, "%s\n%s\n--- answer:\n%s\n", xerr.text().c_str(), jerr.text().c_str(),
                     xml.c_str());
    OCLR_FUZZ_CHECK(from_xml.has_value() && from_json.has_value());
    OCLR_FUZZ_CHECK(yfw_host::to_xml(*from_xml->root, false) ==
                    yfw_host::to_xml(*from_json->root, false));
}

// What get-config of everything answers from a configuration.
void read_back(const yfw_host::data_tree &config, leaf_map &got) {
    runtime &r = rt();
    yfw_host::input_error lerr;
    OCLR_FUZZ_CHECK(yfw_host::load_native_store(*config.root, "edited.xml", lerr).has_value());
    yfw_host::request_tree data = yfw_host::request_tree_of(*config.root);
    yfw_host::output_tree out;
    out.entries_are_distinct(true);
    OCLR_FUZZ_CHECK(
        walk({YFW_REQ_READ_CONFIG, false}, r.plug.record().native_root_walker, data, out) == 0);
    std::string err;
    const yfw_host::out_node *doc = out.document_of(yfw_host::yang_schema::get().oc_root(), err);
    if (doc == nullptr) std::fprintf(stderr, "read back: %s\n", err.c_str());
    OCLR_FUZZ_CHECK(doc != nullptr);
    check_valid_answer(*doc);
    answered_leaves(*doc, "", got);
}

}  // namespace

void run_oc_request(yfw_host::request_tree &request, request_mode mode) {
    runtime &r = rt();
    const auto &schema = yfw_host::yang_schema::get();
    yfw_host::output_tree paths;
    paths.keys_name_entries(&schema.native_root());
    if (walk(mode, r.plug.record().oc_root_walker, request, paths) != 0) return;
    for (const auto &a : paths.adds()) (void)yfw_host::format_add(a);
    std::string err;
    if (!paths.bind(schema.native_root(), err)) return;

    if (mode.kind == YFW_REQ_EDIT) {
        // As ocmap does, to a copy of the store. What the apply accepts must
        // be a store the next run loads, and read back as valid OpenConfig
        // holding what the edit asked for.
        const yfw_host::out_node *doc = paths.document_of(schema.native_root(), err);
        if (doc == nullptr) return;
        yfw_host::data_tree edited = r.config.clone();
        yfw_host::apply_error aerr;
        const auto reconciled = yfw_host::stored_routes_named(*request.root(), *edited.root);
        bool merged = yfw_host::apply_checked("", edited, *doc, aerr);
        // As ocmap refuses them: a tag that would be lost with its route's
        // next-hops, a next-hop that maps to nothing, and a stored route
        // that would not read back as asked. New routes are not read back
        // by ocmap: here they are.
        bool kept = merged && yfw_host::edit_not_kept(*request.root(), reconciled, *edited.root,
                                                      r.plug.record().native_root_walker)
                                  .empty();
        if (kept) {
            std::string written = yfw_host::to_xml(*edited.root, false);
            yfw_host::input_error rerr;
            auto reread = yfw_host::read_data_document(written, "edited.xml", schema.native_root(),
                                                       yfw_host::document_role::data, rerr);
            if (!reread) std::fprintf(stderr, "%s\n", rerr.text().c_str());
            OCLR_FUZZ_CHECK(reread.has_value());
            leaf_map want, got;
            asked_leaves(*request.root(), "", want);
            read_back(edited, got);
            for (const auto &[path, value] : want) {
                auto it = got.find(path);
                std::string answered = it == got.end() ? "(nothing)" : it->second;
                if (answered == value) continue;
                if (path.ends_with("/set-tag") && it != got.end() && tag_value(answered) == value)
                    continue;
                std::fprintf(stderr, "asked %s = %s, read back %s\n", path.c_str(), value.c_str(),
                             answered.c_str());
                OCLR_FUZZ_CHECK(!"an accepted edit reads back what it asked");
            }
        }
        write_both(*doc, true);
        return;
    }
    auto native = yfw_host::document_of(paths, schema.native_root(), err);
    if (!native) return;

    yfw_host::selection selected(*r.config.root, *native->root);
    yfw_host::request_tree data = selected.request();
    yfw_host::output_tree out;
    out.entries_are_distinct(true);
    if (walk(mode, r.plug.record().native_root_walker, data, out) != 0) return;
    yfw_host::out_node *oc = out.document_of(schema.oc_root(), err);
    OCLR_FUZZ_CHECK(oc != nullptr);
    yfw_host::apply_subtree_filter(*oc, *request.root());
    check_valid_answer(*oc);
}

std::string dump(const yfw_map_node &n) {
    std::string s = std::string(n.tag != nullptr ? n.tag : "?");
    if (n.value != nullptr) s += std::string(" = ") + n.value;
    s += '\n';
    for (uint32_t i = 0; i < n.child_count; ++i) {
        std::string c = dump(n.children[i]);
        for (std::size_t at = 0; at < c.size();) {
            std::size_t end = c.find('\n', at);
            s += "  " + c.substr(at, end + 1 - at);
            at = end + 1;
        }
    }
    return s;
}

void run_native_data(yfw_host::request_tree &data, request_mode mode) {
    runtime &r = rt();
    yfw_host::output_tree out;
    out.entries_are_distinct(true);
    if (walk(mode, r.plug.record().native_root_walker, data, out) != 0) return;
    for (const auto &a : out.adds()) (void)yfw_host::format_add(a);
    std::string err;
    // Native data the reader accepted always makes valid OpenConfig.
    const yfw_host::out_node *oc = out.document_of(yfw_host::yang_schema::get().oc_root(), err);
    if (oc == nullptr) std::fprintf(stderr, "%s\n", err.c_str());
    OCLR_FUZZ_CHECK(oc != nullptr);
    check_valid_answer(*oc);
}

}  // namespace oclr_fuzz
