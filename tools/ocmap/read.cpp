// ocmap get-config / get: an OpenConfig read (kind 0, or 10 with state).
// The filter goes through the OpenConfig walker, which names the native
// paths to read.
#include <iostream>

#include "common.h"

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
    yfw_host::input_error err;
    auto tree = yfw_host::request_tree::from_xml(text, name, "local-routes", yfw_host::oc_namespace,
                                                 false, err);
    if (!tree) {
        print_unusable(err.text());
        return exit_unusable;
    }
    if (!load_store(o)) return exit_unusable;
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;

    yfw_host::output_tree out;
    if (o.adds) std::cout << "# walk ox\n";
    walk_result r = run_walk(o, kind, plugin->record().oc_root_walker, *tree, out);
    if (o.adds) print_adds(out);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (!o.adds) std::cout << out.to_xml(false);
    return exit_ok;
}

}  // namespace ocmap
