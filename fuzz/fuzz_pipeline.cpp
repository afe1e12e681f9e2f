#include "fuzz_pipeline.h"

#include <optional>
#include <string>

#include "native_store.h"
#include "platform_runtime.h"
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
    auto tree = yfw_host::data_tree_from_xml(store_text, "fuzz-store.xml",
                                             yfw_host::yang_schema::get().native_root(), ierr);
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

void run_oc_request(yfw_host::request_tree &request, request_mode mode) {
    runtime &r = rt();
    const auto &schema = yfw_host::yang_schema::get();
    yfw_host::output_tree paths;
    if (walk(mode, r.plug.record().oc_root_walker, request, paths) != 0) return;
    for (const auto &a : paths.adds()) (void)yfw_host::format_add(a);
    std::string err;
    if (!paths.bind(schema.native_root(), err)) return;

    if (mode.kind == YFW_REQ_EDIT) {
        // As ocmap does: the apply follows the record of adds, which the
        // document's merging leaves behind.
        yfw_host::data_tree edited{r.config.clone_root()};
        yfw_host::apply_error aerr;
        if (yfw_host::apply_edit(*edited.root, paths, aerr)) {
            yfw_host::prune_empty_containers(*edited.root);
            write_both(*edited.root, false);
        }
        if (const yfw_host::out_node *doc = paths.document_of(schema.native_root(), err))
            write_both(*doc, true);
        return;
    }
    auto native = yfw_host::document_of(paths, schema.native_root(), err);
    if (!native) return;

    yfw_host::selection selected(*r.config.root, *native->root);
    yfw_host::request_tree data = selected.request();
    yfw_host::output_tree out;
    if (walk(mode, r.plug.record().native_root_walker, data, out) != 0) return;
    if (yfw_host::out_node *oc = out.document_of(schema.oc_root(), err)) {
        yfw_host::apply_subtree_filter(*oc, *request.root());
        write_both(*oc, false);
    }
}

void run_native_data(yfw_host::request_tree &data, request_mode mode) {
    runtime &r = rt();
    yfw_host::output_tree out;
    if (walk(mode, r.plug.record().native_root_walker, data, out) != 0) return;
    for (const auto &a : out.adds()) (void)yfw_host::format_add(a);
    std::string err;
    if (const yfw_host::out_node *oc = out.document_of(yfw_host::yang_schema::get().oc_root(), err))
        write_both(*oc, false);
}

}  // namespace oclr_fuzz
