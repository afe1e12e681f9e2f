// ocmap edit: an OpenConfig edit (request kind 1) becomes a native edit.
#include <iostream>

#include "common.h"

namespace ocmap {

int cmd_edit(const options &o) {
    auto text = read_input(o.file);
    if (!text) return exit_unusable;
    yfw_host::input_error err;
    auto tree = yfw_host::request_tree::from_xml(*text, o.file, "local-routes",
                                                 yfw_host::oc_namespace, true, err);
    if (!tree) {
        print_unusable(err.text());
        return exit_unusable;
    }
    if (!load_store(o)) return exit_unusable;
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;

    yfw_host::output_tree out;
    walk_result r = run_walk(o, YFW_REQ_EDIT, plugin->record().oc_root_walker, *tree, out);
    if (o.adds) print_adds(out);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (!o.adds) std::cout << out.to_xml(true);
    return exit_ok;
}

}  // namespace ocmap
