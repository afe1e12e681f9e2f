#include "huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace ocmap {

namespace {

// Below this the run takes milliseconds and a second start would cost more
// than it saves.
constexpr std::uintmax_t threshold = 1u << 20;

std::uintmax_t size_of(const std::string &file) {
    if (file.empty() || file == "-") return 0;
    std::error_code ec;
    std::uintmax_t n = std::filesystem::file_size(file, ec);
    return ec ? 0 : n;
}

}  // namespace

// A large document becomes hundreds of megabytes of small nodes, touched
// once each as they are built. With 4 KB pages every new page is a fault,
// and on a virtual machine those faults cost a third of the whole run;
// 2 MB pages take that to almost nothing. Only the C library can put its
// heap on them, and it reads its tunables once, at start.
void rerun_with_huge_pages(char **argv, const std::string &file, const std::string &store) {
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    // Any word on huge pages in the tunables is the user's choice (and
    // marks the second run, which must not start a third).
    if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr) return;
    if (size_of(file) + size_of(store) < threshold) return;
    std::string value = tunables != nullptr && *tunables != '\0'
                            ? std::string(tunables) + ":glibc.malloc.hugetlb=1"
                            : std::string("glibc.malloc.hugetlb=1");
    if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
    ::execv("/proc/self/exe", argv);
    // Not started: carry on here with ordinary pages.
    if (tunables != nullptr)
        ::setenv("GLIBC_TUNABLES", tunables, 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
}

}  // namespace ocmap
