// Address text services. The hexadecimal form is what goes into database
// keys, so it must never contain the path separator '/' or the key
// separator ','; "0x" and a fixed number of lower-case digits also make the
// family recoverable from the text alone.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ymap_platform.h"

namespace {

constexpr size_t ipv4_bytes = 4;
constexpr size_t ipv6_bytes = 16;

size_t address_bytes(uint8_t family) {
    if (family == YMAP_AF_INET) return ipv4_bytes;
    if (family == YMAP_AF_INET6) return ipv6_bytes;
    return 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// getaddrinfo_ornat hands out one record with its socket address behind it,
// so freeing is a single free() whatever the family.
struct numeric_result {
    addrinfo info;
    union {
        sockaddr_in v4;
        sockaddr_in6 v6;
    } address;
};

// Numeric ports only: this resolver never consults a services database.
bool parse_port(const char *service, uint16_t &port) {
    if (service == nullptr) {
        port = 0;
        return true;
    }
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(service, &end, 10);
    if (*service == '\0' || *end != '\0' || errno != 0 || v > 0xffff) return false;
    port = htons(static_cast<uint16_t>(v));
    return true;
}

}  // namespace

extern "C" {

uint32_t ip_addr2hex_string(const ip_addr_t *addr, char *out, size_t out_size) {
    if (addr == nullptr || out == nullptr) return EINVAL;
    size_t n = address_bytes(addr->family);
    if (n == 0) {
        if (out_size > 0) out[0] = '\0';
        return EINVAL;
    }
    if (out_size < 2 + 2 * n + 1) {
        if (out_size > 0) out[0] = '\0';
        return ERANGE;
    }
    static constexpr char digits[] = "0123456789abcdef";
    char *p = out;
    *p++ = '0';
    *p++ = 'x';
    for (size_t i = 0; i < n; ++i) {
        *p++ = digits[addr->addr[i] >> 4];
        *p++ = digits[addr->addr[i] & 0xf];
    }
    *p = '\0';
    return 0;
}

uint32_t hex_string2ip_addr(const char *hex, ip_addr_t *addr) {
    if (hex == nullptr || addr == nullptr) return EINVAL;
    if (hex[0] != '0' || hex[1] != 'x') return EINVAL;
    const char *digits = hex + 2;
    size_t len = strnlen(digits, 2 * ipv6_bytes + 1);
    uint8_t family;
    if (len == 2 * ipv4_bytes)
        family = YMAP_AF_INET;
    else if (len == 2 * ipv6_bytes)
        family = YMAP_AF_INET6;
    else
        return EINVAL;
    ip_addr_t parsed{};
    parsed.family = family;
    for (size_t i = 0; i < len / 2; ++i) {
        int hi = hex_digit(digits[2 * i]);
        int lo = hex_digit(digits[2 * i + 1]);
        if (hi < 0 || lo < 0) return EINVAL;
        parsed.addr[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    *addr = parsed;
    return 0;
}

// Callers print the result directly, so a bad record gives an empty text
// rather than a null pointer.
const char *ip_addr_string(const ip_addr_t *addr) {
    thread_local char text[INET6_ADDRSTRLEN];
    text[0] = '\0';
    if (addr == nullptr) return text;
    int af = addr->family == YMAP_AF_INET ? AF_INET : addr->family == YMAP_AF_INET6 ? AF_INET6 : -1;
    if (af < 0 || inet_ntop(af, addr->addr, text, sizeof text) == nullptr) text[0] = '\0';
    return text;
}

// Numeric addresses only. Names are refused rather than resolved: the
// mapping uses this call to classify an address text, and a DNS lookup
// would make that depend on the network.
int getaddrinfo_ornat(const char *node, const char *service, const struct addrinfo *hints,
                      struct addrinfo **res) {
    if (res == nullptr) return EAI_FAIL;
    *res = nullptr;
    if (node == nullptr) return EAI_NONAME;
    int wanted = hints != nullptr ? hints->ai_family : AF_UNSPEC;
    if (wanted != AF_UNSPEC && wanted != AF_INET && wanted != AF_INET6) return EAI_FAMILY;
    uint16_t port = 0;
    if (!parse_port(service, port)) return EAI_SERVICE;

    in_addr v4{};
    in6_addr v6{};
    int family;
    if (wanted != AF_INET6 && inet_pton(AF_INET, node, &v4) == 1)
        family = AF_INET;
    else if (wanted != AF_INET && inet_pton(AF_INET6, node, &v6) == 1)
        family = AF_INET6;
    else
        return EAI_NONAME;

    auto *r = static_cast<numeric_result *>(std::calloc(1, sizeof(numeric_result)));
    if (r == nullptr) return EAI_MEMORY;
    r->info.ai_family = family;
    if (hints != nullptr) {
        r->info.ai_flags = hints->ai_flags;
        r->info.ai_socktype = hints->ai_socktype;
        r->info.ai_protocol = hints->ai_protocol;
    }
    if (family == AF_INET) {
        r->address.v4.sin_family = AF_INET;
        r->address.v4.sin_port = port;
        r->address.v4.sin_addr = v4;
        r->info.ai_addrlen = sizeof(sockaddr_in);
    } else {
        r->address.v6.sin6_family = AF_INET6;
        r->address.v6.sin6_port = port;
        r->address.v6.sin6_addr = v6;
        r->info.ai_addrlen = sizeof(sockaddr_in6);
    }
    r->info.ai_addr = reinterpret_cast<sockaddr *>(&r->address);
    *res = &r->info;
    return 0;
}

void freeaddrinfo_ornat(struct addrinfo *res) {
    // info is the first member, so the record's address is the result's.
    std::free(res);
}

}  // extern "C"
