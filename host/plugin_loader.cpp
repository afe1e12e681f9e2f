// Loads the plug-in the way the router's framework does: dlopen, the
// registration call, root walkers from the record.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <utility>

#include "yfw_host.h"

namespace yfw_host {

std::optional<plugin> plugin::load(const std::string &path, std::string &err) {
    // RTLD_NOW: a missing framework or platform symbol is reported here, not
    // in the middle of a request.
    void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char *e = dlerror();
        err = std::string("cannot load plug-in ") + path + ": " + (e ? e : "unknown error");
        return std::nullopt;
    }
    auto reg = reinterpret_cast<yfw_map_reg_fn>(dlsym(h, "yfw_map_reg_oclocalrouting_conf"));
    if (reg == nullptr) {
        err = path + ": no registration entry point yfw_map_reg_oclocalrouting_conf";
        dlclose(h);
        return std::nullopt;
    }
    plugin p;
    p.handle_ = h;
    p.reg_status_ = reg(&p.reg_);
    return p;
}

plugin::plugin(plugin &&o) noexcept
    : handle_(std::exchange(o.handle_, nullptr)), reg_(o.reg_), reg_status_(o.reg_status_) {}

plugin &plugin::operator=(plugin &&o) noexcept {
    std::swap(handle_, o.handle_);
    reg_ = o.reg_;
    reg_status_ = o.reg_status_;
    return *this;
}

// The library stays loaded: the plug-in has no unload step, and its
// registration left pointers into it with the platform.
plugin::~plugin() = default;

void *plugin::symbol(const char *name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

std::string default_plugin_path() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "libymap_oclocalrouting.so";
    std::string exe(buf, static_cast<size_t>(n));
    std::string dir = exe.substr(0, exe.rfind('/'));
    std::string base = dir.substr(0, dir.rfind('/'));
    return base + "/lib/libymap_oclocalrouting.so";
}

}  // namespace yfw_host
