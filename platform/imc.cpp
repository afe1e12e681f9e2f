// Interface manager: a fixed set of interface names that the host declares
// known. Handles are positions in that set plus one, so 0 never names an
// interface.
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform_runtime.h"
#include "ymap_platform.h"

namespace {

// Status word of a name the interface manager does not know.
constexpr uint32_t imc_status_unknown = 0x4a830200u;

std::mutex known_mutex;
std::unordered_map<std::string, uint64_t> known_handles;

char connection_token;

}  // namespace

namespace platform {

void imc_set_known_interfaces(std::vector<std::string> names) {
    std::unordered_map<std::string, uint64_t> next;
    for (size_t i = 0; i < names.size(); ++i) next.emplace(std::move(names[i]), i + 1);
    std::lock_guard lock(known_mutex);
    known_handles = std::move(next);
}

}  // namespace platform

extern "C" {

void *yfw_ocifmgr_im_conn = &connection_token;

uint32_t imc_interface_find(void *conn, uint32_t count, const char *const *names, int,
                            imc_find_result *result) {
    if (conn == nullptr) return ENOTCONN;
    if (count > 0 && (names == nullptr || result == nullptr || result->handles == nullptr ||
                      result->statuses == nullptr))
        return EINVAL;
    try {
        std::lock_guard lock(known_mutex);
        for (uint32_t i = 0; i < count; ++i) {
            auto it = names[i] != nullptr ? known_handles.find(names[i]) : known_handles.end();
            bool known = it != known_handles.end();
            result->handles[i] = known ? it->second : 0;
            result->statuses[i] = known ? 0 : imc_status_unknown;
        }
    } catch (...) {
        return ENOMEM;
    }
    return 0;
}

}  // extern "C"
