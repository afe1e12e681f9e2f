// Packed tuples: a u32 total length (little-endian, header included), then
// one field after another, each led by its type byte:
//   'd'  a number, 4 bytes little-endian
//   's'  a text: u16 length, the bytes, a NUL (so a holder can point at it)
//   'a'  an absent field, nothing follows
// The length header lets tuple_unpack stop at the blob's end instead of
// trusting the field contents.
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "sysdb_writer.h"

namespace {

constexpr size_t header_size = 4;
constexpr size_t max_text = 0xffff;

uint32_t get_u32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

namespace platform {

tuple_writer::tuple_writer(size_t room) {
    out_.reserve(header_size + room);
    out_.resize(header_size);
}

void tuple_writer::number(uint32_t v) {
    const uint8_t field[5] = {'d', static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    out_.insert(out_.end(), field, field + sizeof field);
}

void tuple_writer::text(std::string_view t) {
    // Native texts are a few dozen bytes at most; a longer one is cut rather
    // than given a wider length field.
    const size_t n = t.size() < max_text ? t.size() : max_text;
    const uint8_t head[3] = {'s', static_cast<uint8_t>(n & 0xff), static_cast<uint8_t>(n >> 8)};
    out_.insert(out_.end(), head, head + sizeof head);
    out_.insert(out_.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n));
    out_.push_back('\0');
}

void tuple_writer::absent() {
    out_.push_back('a');
}

std::vector<uint8_t> tuple_writer::finish() {
    const auto total = static_cast<uint32_t>(out_.size());
    for (size_t i = 0; i < header_size; ++i) out_[i] = static_cast<uint8_t>(total >> (8 * i));
    return std::move(out_);
}

std::vector<uint8_t> tuple_pack(const std::vector<tuple_field> &fields) {
    tuple_writer w;
    for (const auto &f : fields) {
        switch (f.k) {
            case tuple_field::kind::number: w.number(f.number); break;
            case tuple_field::kind::text: w.text(f.text); break;
            case tuple_field::kind::absent: w.absent(); break;
        }
    }
    return w.finish();
}

}  // namespace platform

extern "C" uint32_t tuple_unpack(const void *data, const char *fmt, ...) {
    if (data == nullptr || fmt == nullptr) return SYSDB_ERR_BAD_ARGS;
    const auto *base = static_cast<const uint8_t *>(data);
    const uint32_t total = get_u32(base);
    if (total < header_size) return SYSDB_ERR_BAD_TUPLE;
    const uint8_t *p = base + header_size;
    const uint8_t *end = base + total;

    uint32_t rc = SYSDB_OK;
    va_list ap;
    va_start(ap, fmt);
    for (const char *f = fmt; *f != '\0' && rc == SYSDB_OK; ++f) {
        if (*f != '%') continue;
        char conv = *++f;
        if (conv != 'd' && conv != 's') {
            rc = SYSDB_ERR_BAD_ARGS;
            break;
        }
        // Each holder is fetched with its own type, whatever the data holds,
        // so the argument list stays in step with the format.
        uint32_t *number_holder = conv == 'd' ? va_arg(ap, uint32_t *) : nullptr;
        const char **text_holder = conv == 's' ? va_arg(ap, const char **) : nullptr;
        if (p == end) continue;  // the data ends here: later holders keep their values
        uint8_t type = *p++;
        if (type == 'a') continue;
        if (type == 'd' && conv == 'd') {
            if (end - p < 4) {
                rc = SYSDB_ERR_BAD_TUPLE;
                break;
            }
            if (number_holder != nullptr) *number_holder = get_u32(p);
            p += 4;
        } else if (type == 's' && conv == 's') {
            if (end - p < 2) {
                rc = SYSDB_ERR_BAD_TUPLE;
                break;
            }
            size_t n = size_t{p[0]} | size_t{p[1]} << 8;
            p += 2;
            if (static_cast<size_t>(end - p) < n + 1 || p[n] != '\0') {
                rc = SYSDB_ERR_BAD_TUPLE;
                break;
            }
            if (text_holder != nullptr) *text_holder = reinterpret_cast<const char *>(p);
            p += n + 1;
        } else {
            rc = SYSDB_ERR_BAD_TUPLE;  // unknown type byte, or not the type the format asks for
        }
    }
    va_end(ap);
    return rc;
}
