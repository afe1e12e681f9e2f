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

    uint32_t kind = o.state ? YFW_REQ_READ_STATE : YFW_REQ_READ_CONFIG;
    return answer(o, kind, plugin->record().native_root_walker, *tree, nullptr);
}

}  // namespace ocmap
