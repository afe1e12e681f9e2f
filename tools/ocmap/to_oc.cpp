// ocmap to-oc: native router-static data becomes OpenConfig data.
#include <iostream>

#include "common.h"

namespace ocmap {

int cmd_to_oc(const options &o) {
    int status = exit_ok;
    auto tree = read_native_data(o, o.file, status);
    if (!tree) return status;
    if (!load_store(o, false)) return exit_unusable;
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;

    yfw_host::output_tree out;
    out.record_adds(o.adds);
    out.entries_are_distinct(true);
    uint32_t kind = o.state ? YFW_REQ_READ_STATE : YFW_REQ_READ_CONFIG;
    walk_result r = run_walk(o, kind, plugin->record().native_root_walker, *tree, out);
    tree.reset();  // the output holds copies of every value it took
    if (o.adds) print_adds(out);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (o.adds) return exit_ok;
    const yfw_host::out_node *doc = document_or_refuse(out, yfw_host::yang_schema::get().oc_root());
    if (doc == nullptr) return exit_refused;
    print_document(*doc, o, false);
    return exit_ok;
}

}  // namespace ocmap
