// The router keeps its platform libraries in /pkg/lib/. Here the database
// library lives in the build or install tree, so the plug-in's readability
// check of that path is routed through __wrap_access (the plug-in is linked
// with --wrap=access) and answered from wherever libsysdb.so was loaded.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform_runtime.h"

namespace {

constexpr char router_pkg_lib[] = "/pkg/lib/";

std::mutex dir_mutex;
std::optional<std::string> dir_override;

// Looked up by symbol rather than linked: libsysdb.so depends on this
// library, not the other way round.
void *sysdb_bind_symbol() {
    if (void *s = dlsym(RTLD_DEFAULT, "_sysdb_bind")) return s;
    // Loaded only into a local scope (for example as a dependency of a
    // plug-in opened with RTLD_LOCAL): ask for the already-loaded copy.
    void *h = dlopen("libsysdb.so", RTLD_LAZY | RTLD_NOLOAD);
    if (h == nullptr) return nullptr;
    void *s = dlsym(h, "_sysdb_bind");
    dlclose(h);
    return s;
}

std::string loaded_sysdb_dir() {
    void *sym = sysdb_bind_symbol();
    Dl_info info{};
    if (sym == nullptr || dladdr(sym, &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code ec;
    std::filesystem::path file = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) return {};
    return file.parent_path().string();
}

}  // namespace

namespace platform {

// An empty directory restores the default.
void set_pkg_lib_dir(std::string dir) {
    std::lock_guard lock(dir_mutex);
    if (dir.empty())
        dir_override.reset();
    else
        dir_override = std::move(dir);
}

std::string pkg_lib_dir() {
    {
        std::lock_guard lock(dir_mutex);
        if (dir_override) return *dir_override;
    }
    return loaded_sysdb_dir();
}

}  // namespace platform

extern "C" __attribute__((visibility("default"))) int __wrap_access(const char *path, int mode) {
    constexpr size_t prefix_len = sizeof router_pkg_lib - 1;
    if (path == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (std::strncmp(path, router_pkg_lib, prefix_len) != 0) return ::access(path, mode);
    try {
        std::string dir = platform::pkg_lib_dir();
        if (dir.empty()) {
            errno = ENOENT;
            return -1;
        }
        return ::access((dir + "/" + (path + prefix_len)).c_str(), mode);
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
}
