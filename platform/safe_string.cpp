// Bounded copy and append in the manner of C11 Annex K. A refused operation
// leaves an empty destination rather than a truncated one, so a cut-off
// interface name or path can never be mistaken for a valid one.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "ymap_platform.h"

namespace {

// A size above this is almost certainly a negative length cast to size_t.
constexpr rsize_t max_size = SIZE_MAX >> 1;

bool overlaps(const char *a, size_t a_len, const char *b, size_t b_len) {
    auto pa = reinterpret_cast<uintptr_t>(a);
    auto pb = reinterpret_cast<uintptr_t>(b);
    return pa < pb + b_len && pb < pa + a_len;
}

errno_t refuse(char *dest, rsize_t dmax, errno_t code) {
    if (dest != nullptr && dmax > 0 && dmax <= max_size) dest[0] = '\0';
    return code;
}

rsize_t bounded(rsize_t bufsize, rsize_t dmax) {
    return bufsize < dmax ? bufsize : dmax;
}

}  // namespace

extern "C" {

errno_t strncpy_s(char *dest, rsize_t dmax, const char *src, rsize_t slen) {
    if (dest == nullptr || dmax == 0 || dmax > max_size) return refuse(dest, dmax, EINVAL);
    if (src == nullptr || slen > max_size) return refuse(dest, dmax, EINVAL);
    size_t n = strnlen(src, slen);
    if (n >= dmax) return refuse(dest, dmax, ERANGE);
    if (overlaps(dest, n + 1, src, n)) return refuse(dest, dmax, EINVAL);
    std::memcpy(dest, src, n);
    dest[n] = '\0';
    return 0;
}

errno_t strcpy_s(char *dest, rsize_t dmax, const char *src) {
    if (dest == nullptr || dmax == 0 || dmax > max_size) return refuse(dest, dmax, EINVAL);
    if (src == nullptr) return refuse(dest, dmax, EINVAL);
    size_t n = strnlen(src, dmax);
    if (n >= dmax) return refuse(dest, dmax, ERANGE);
    if (overlaps(dest, n + 1, src, n + 1)) return refuse(dest, dmax, EINVAL);
    std::memcpy(dest, src, n + 1);
    return 0;
}

errno_t strcat_s(char *dest, rsize_t dmax, const char *src) {
    if (dest == nullptr || dmax == 0 || dmax > max_size) return refuse(dest, dmax, EINVAL);
    if (src == nullptr) return refuse(dest, dmax, EINVAL);
    size_t have = strnlen(dest, dmax);
    if (have == dmax) return refuse(dest, dmax, EINVAL);  // destination not terminated
    size_t room = dmax - have;
    size_t n = strnlen(src, room);
    if (n >= room) return refuse(dest, dmax, ERANGE);
    if (overlaps(dest, have + n + 1, src, n + 1)) return refuse(dest, dmax, EINVAL);
    std::memcpy(dest + have, src, n + 1);
    return 0;
}

errno_t __strncpy_s_to_buf(rsize_t bufsize, char *dest, rsize_t dmax, const char *src,
                           rsize_t slen) {
    return strncpy_s(dest, bounded(bufsize, dmax), src, slen);
}

errno_t __strcat_s_to_buf(rsize_t bufsize, char *dest, rsize_t dmax, const char *src) {
    return strcat_s(dest, bounded(bufsize, dmax), src);
}

}  // extern "C"
