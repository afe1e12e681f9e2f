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
    const auto &schema = yfw_host::yang_schema::get();

    yfw_host::output_tree paths;
    paths.record_adds(o.adds);
    paths.keys_name_entries(&schema.native_root());
    paths.expect_root(schema.native_root());
    if (o.adds) std::cout << "# walk ox\n";
    walk_result r = run_walk(o, kind, plugin->record().oc_root_walker, *filter, paths);
    if (o.adds) print_adds(paths);
    platform::sysdb_fill_on_first_search(nullptr);  // what it read is cut down next
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    if (!bind_or_refuse(paths, schema.native_root())) return exit_refused;
    // A filter whose walk named no native path (one for aggregates, say)
    // selects nothing from the store.
    bool named_nothing = paths.document().children.empty();
    std::string err;
    auto query = yfw_host::document_of(paths, schema.native_root(), err);
    if (!query) return exit_refused;  // bound already, so it cannot fail here
    if (named_nothing)
        data->root()->child_count = 0;
    else
        yfw_host::keep_selected(*data->root(), *query->root);
    query.reset();
    if (o.adds) std::cout << "# walk xo\n";
    return answer(o, kind, plugin->record().native_root_walker, *data, filter->root());
}

}  // namespace ocmap
