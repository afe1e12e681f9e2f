// ocmap get-config / get: an OpenConfig read (kind 0, or 10 with state).
// The filter goes through the OpenConfig walker, which names the native
// paths to read; they select data from the running configuration, and the
// native walker turns that data into the OpenConfig answer, which is cut
// to what the filter selects.
#include <iostream>

#include "common.h"
#include "native_store.h"
#include "running_store.h"
#include "subtree_filter.h"
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
    // The native paths select from the store itself; the configuration
    // database is filled only when the filter's walk looks something up
    // (a next-hop named by its index).
    auto config = load_store(o, false);
    if (!config) return exit_unusable;
    const yfw_host::data_node &stored = *config->root;
    platform::sysdb_fill_on_first_search([&stored] { yfw_host::fill_database(stored); });
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;
    walk_result r;
    auto data = select_for_read(o, kind, *plugin, *filter, *config, r);
    if (!data) {
        print_refusal(r);
        return exit_refused;
    }
    // The selected data holds copies of its values: the store's nodes can
    // make room for the answer, which is about as large.
    platform::sysdb_fill_on_first_search(nullptr);  // the store it would read goes now
    config.reset();
    if (o.adds) std::cout << "# walk xo\n";
    return answer(o, kind, plugin->record().native_root_walker, *data, filter->root());
}

}  // namespace ocmap
