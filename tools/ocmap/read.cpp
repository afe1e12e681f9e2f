// ocmap get-config / get: an OpenConfig read (kind 0, or 10 with state).
// The filter goes through the OpenConfig walker, which names the native
// paths to read; they select data from the running configuration, and the
// native walker turns that data into the OpenConfig answer.
#include <iostream>

#include "common.h"
#include "running_store.h"
#include "subtree_filter.h"

namespace ocmap {

int cmd_read(const options &o, uint32_t kind) {
    std::string text = "<local-routes xmlns=\"http://openconfig.net/yang/local-routing\"/>";
    std::string name = "(all of local-routes)";
    if (!o.file.empty()) {
        auto t = read_input(o.file);
        if (!t) return exit_unusable;
        text = std::move(*t);
        name = o.file;
    }
    auto filter =
        parse_request(std::move(text), name, "local-routes", yfw_host::oc_namespace, false);
    if (!filter) return exit_unusable;
    auto config = load_store(o);
    if (!config) return exit_unusable;
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;
    const auto &schema = yfw_host::yang_schema::get();

    yfw_host::output_tree paths;
    paths.record_adds(o.adds);
    paths.keys_name_entries(&schema.native_root());
    if (o.adds) std::cout << "# walk ox\n";
    walk_result r = run_walk(o, kind, plugin->record().oc_root_walker, *filter, paths);
    if (o.adds) print_adds(paths);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (!bind_or_refuse(paths, schema.native_root())) return exit_refused;
    std::string err;
    auto query = yfw_host::document_of(paths, schema.native_root(), err);
    if (!query) return exit_refused;  // bound already, so it cannot fail here

    yfw_host::request_tree data = yfw_host::selection(*config->root, *query->root).request();
    // The selected data holds copies of its values: the store's nodes can
    // make room for the answer, which is about as large.
    config.reset();
    query.reset();
    yfw_host::data_node::release_pool();
    yfw_host::output_tree out;
    out.record_adds(o.adds);
    if (o.adds) std::cout << "# walk xo\n";
    r = run_walk(o, kind, plugin->record().native_root_walker, data, out);
    data = yfw_host::request_tree();
    if (o.adds) print_adds(out);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (o.adds) return exit_ok;
    yfw_host::out_node *doc = document_or_refuse(out, schema.oc_root());
    if (doc == nullptr) return exit_refused;
    yfw_host::apply_subtree_filter(*doc, *filter->root());
    print_document(*doc, o, false);
    return exit_ok;
}

}  // namespace ocmap
