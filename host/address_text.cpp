#include "address_text.h"

#include <arpa/inet.h>

#include <cstring>

namespace yfw_host {

namespace {

// A dotted quad exactly as inet_pton takes it: four decimal parts of at
// most three digits, each at most 255 and without a leading zero.
bool parse_ipv4(std::string_view text, unsigned char *bytes) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t start = at;
        unsigned v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3)
            v = v * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - start;
        if (digits == 0 || v > 255 || (digits > 1 && text[start] == '0')) return false;
        bytes[part] = static_cast<unsigned char>(v);
        if (part < 3) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
    }
    return at == text.size();
}

std::size_t format_ipv4(const unsigned char *bytes, char *out) {
    char *p = out;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) *p++ = '.';
        unsigned v = bytes[part];
        if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
        *p++ = static_cast<char>('0' + v % 10);
    }
    return static_cast<std::size_t>(p - out);
}

}  // namespace

bool parse_address(bool v6, std::string_view text, unsigned char (&bytes)[16]) {
    if (!v6) return parse_ipv4(text, bytes);
    char buf[address_text_size + 1];
    if (text.empty() || text.size() >= sizeof buf) return false;
    std::memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    return ::inet_pton(AF_INET6, buf, bytes) == 1;
}

// The longest run of two or more zero groups (the first of equal ones)
// becomes "::"; groups are lower-case hex without leading zeros; and the
// IPv4-compatible (::a.b.c.d) and IPv4-mapped (::ffff:a.b.c.d) addresses end
// in a dotted quad, all as inet_ntop has it.
std::size_t format_address(bool v6, const unsigned char (&bytes)[16],
                           char (&out)[address_text_size]) {
    if (!v6) return format_ipv4(bytes, out);
    unsigned words[8];
    for (int i = 0; i < 8; ++i) words[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
    int best = -1, best_len = 0;
    for (int i = 0; i < 8;) {
        if (words[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && words[j] == 0) ++j;
        if (j - i > best_len) {
            best = i;
            best_len = j - i;
        }
        i = j;
    }
    if (best_len < 2) best = -1;
    static constexpr char hex[] = "0123456789abcdef";
    char *p = out;
    for (int i = 0; i < 8; ++i) {
        if (best != -1 && i >= best && i < best + best_len) {
            if (i == best) *p++ = ':';
            continue;
        }
        if (i != 0) *p++ = ':';
        if (i == 6 && best == 0 && (best_len == 6 || (best_len == 5 && words[5] == 0xffff))) {
            p += format_ipv4(bytes + 12, p);
            return static_cast<std::size_t>(p - out);
        }
        const unsigned w = words[i];
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned nibble = (w >> shift) & 0xf;
            if (nibble == 0 && !started && shift != 0) continue;
            started = true;
            *p++ = hex[nibble];
        }
    }
    if (best != -1 && best + best_len == 8) *p++ = ':';
    return static_cast<std::size_t>(p - out);
}

}  // namespace yfw_host
