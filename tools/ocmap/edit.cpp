// ocmap edit: an OpenConfig edit (request kind 1) becomes a native edit,
// and with --apply that edit is made to the running configuration.
#include <iostream>

#include "common.h"
#include "progress.h"
#include "running_store.h"

namespace ocmap {

int cmd_edit(const options &o) {
    if (o.apply && o.store.empty()) {
        print_unusable("--apply needs --store FILE, the configuration to apply the edit to");
        return exit_unusable;
    }
    // Held from before the store is read until it is written, so that a
    // concurrent apply sees this one's result.
    std::optional<yfw_host::store_lock> lock;
    if (o.apply) {
        lock.emplace(o.store);
        if (!lock->ok()) {
            print_unusable(lock->error());
            return exit_unusable;
        }
    }
    // The database is filled as the store is read: the mapping's lookups
    // read what is stored through it.
    auto config = load_store(o, true);
    if (!config) return exit_unusable;
    int status = exit_ok;
    auto tree = read_request(o, o.file, yfw_host::document_role::edit, status);
    if (!tree) return status;
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;

    yfw_host::output_tree out;
    out.record_adds(o.adds);
    walk_result r = map_edit(o, *plugin, *tree, out);
    if (o.adds) print_adds(out);
    if (r.rc != 0) {
        print_refusal(r);
        return exit_refused;
    }
    // The native edit is merged into the store. Without --apply the edit is
    // applied all the same, to the configuration in memory: a dry run
    // refuses what the apply would refuse, and only the write is left out.
    const auto &native_root = yfw_host::yang_schema::get().native_root();
    const yfw_host::out_node *doc = document_or_refuse(out, native_root);
    if (doc == nullptr) return exit_refused;
    yfw_host::apply_error err;
    progress::step(o.apply ? "applying the edit to " + o.store : "checking the edit");
    bool applied = apply_mapped_edit(o.store, *config, *doc, *tree->root(), *plugin, err);
    tree.reset();
    if (applied && o.apply) applied = yfw_host::write_store(o.store, *config, *lock, err);
    if (!applied) {
        if (err.tag.empty()) {
            print_unusable(err.message);
            return exit_unusable;
        }
        print_refusal({yfw_host::store_apply_refused, err.message, err.tag, {}});
        return exit_refused;
    }
    if (o.adds) return exit_ok;
    config.reset();
    print_document(*doc, o, true);
    return exit_ok;
}

}  // namespace ocmap
