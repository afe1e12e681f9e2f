// ocmap get-config / get: an OpenConfig read (kind 0, or 10 with state).
// The filter goes through the OpenConfig walker, which names the native
// paths to read; they select data from the running configuration, and the
// native walker turns that data into the OpenConfig answer, which is cut
// to what the filter selects.
#include <iostream>

#include "common.h"
#include "native_store.h"
#include "running_store.h"
#include "sysdb_writer.h"

namespace ocmap {

int cmd_read(const options &o, uint32_t kind) {
    int status = exit_ok;
    std::optional<yfw_host::request_tree> filter;
    if (o.file.empty())
        filter = parse_request("<local-routes xmlns=\"http://openconfig.net/yang/local-routing\"/>",
                               "(all of local-routes)", yfw_host::document_role::filter, status);
    else
        filter = read_request(o, o.file, yfw_host::document_role::filter, status);
    if (!filter) return status;
    // The store is read once, straight into the native walk's input; the
    // configuration database is filled from it only when the filter's walk
    // looks something up (a next-hop named by its index).
    auto data = load_store_request(o);
    if (!data) return exit_unusable;
    const yfw_map_node &stored = *data->root();
    platform::sysdb_fill_on_first_search([&stored] { yfw_host::fill_database(stored); });
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;
    walk_result r;
    auto query = read_query(o, kind, *plugin, *filter, r);
    platform::sysdb_fill_on_first_search(nullptr);  // what it read is cut down next
    if (!query) {
        print_refusal(r);
        return exit_refused;
    }
    if (query->root->has_children())
        yfw_host::keep_selected(*data->root(), *query->root);
    else
        data->root()->child_count = 0;
    query.reset();
    if (o.adds) std::cout << "# walk xo\n";
    return answer(o, kind, plugin->record().native_root_walker, *data, filter->root());
}

}  // namespace ocmap
