// One pass over the document with an explicit stack of open objects and
// arrays. Strings without escapes reach the handler as views into the
// document; the others are decoded into one buffer the reader reuses.
#include "json_reader.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace yfw_host {
namespace {

using uchar = unsigned char;

inline bool is_space(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the well-formed UTF-8 sequence at p (*p >= 0x80), 0 when it is
// not one: overlong forms, surrogates and code points above U+10FFFF are
// refused by the ranges allowed for the second byte.
inline int utf8_length(const char *p, const char *end) {
    auto at = [&](int i) { return p + i < end ? static_cast<uchar>(p[i]) : 0u; };
    auto cont = [&](int i) { return (at(i) & 0xC0) == 0x80; };
    unsigned b0 = at(0);
    if (b0 < 0xC2) return 0;
    if (b0 < 0xE0) return cont(1) ? 2 : 0;
    unsigned b1 = at(1);
    if (b0 < 0xF0) {
        unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        return b1 >= lo && b1 <= hi && cont(2) ? 3 : 0;
    }
    if (b0 > 0xF4) return 0;
    unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return b1 >= lo && b1 <= hi && cont(2) && cont(3) ? 4 : 0;
}

inline void append_utf8(uint32_t c, std::string &out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Skips string content that needs neither decoding nor a closer look: stops
// at '"', '\\', a control character or a non-ASCII byte.
inline const char *skip_plain(const char *p, const char *end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(' ');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Signed compare: non-ASCII bytes count as below ' ' as well.
        __m128i stop =
            _mm_or_si128(_mm_cmplt_epi8(v, space),
                         _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
        int mask = _mm_movemask_epi8(stop);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p != end && *p != '"' && *p != '\\' && static_cast<uchar>(*p) >= 0x20 &&
           static_cast<uchar>(*p) < 0x80)
        ++p;
    return p;
}

inline int hex4(const char *p, const char *end) {
    if (end - p < 4) return -1;
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        char c = p[i];
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

class reader {
public:
    reader(std::string_view doc, json_handler &h, unsigned max_depth, reader_error &err)
        : begin_(doc.data()),
          end_(doc.data() + doc.size()),
          h_(h),
          max_depth_(max_depth),
          err_(err) {}

    bool run();

private:
    const char *const begin_;
    const char *const end_;
    json_handler &h_;
    const unsigned max_depth_;
    reader_error &err_;
    std::vector<bool> in_object_;  // one per open container: object or array
    std::string scratch_;
    bool opened_ = false;  // the last value() opened an object or array

    size_t off(const char *p) const { return static_cast<size_t>(p - begin_); }
    const char *skip_space(const char *p) const {
        while (p != end_ && is_space(*p)) ++p;
        return p;
    }
    [[gnu::cold, gnu::noinline]] bool fail(const char *p, std::string message) {
        err_.offset = off(p);
        err_.message = "malformed JSON: " + std::move(message);
        return false;
    }
    [[gnu::cold, gnu::noinline]] bool bad_string_byte(const char *p);

    bool string(const char *&p, std::string_view &out);
    bool escaped_string(const char *&p, const char *q, std::string_view &out);
    bool member_name(const char *&p, bool after_comma);
    bool value(const char *&p, bool after_comma);
    bool open(const char *&p, bool object);
};

bool reader::bad_string_byte(const char *p) {
    if (p == end_) return fail(p, "the document ends inside a string");
    uchar c = static_cast<uchar>(*p);
    if (c < 0x20) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "control character 0x%02x in a string (write \\u%04x)", c,
                      c);
        return fail(p, buf);
    }
    return fail(p, "invalid UTF-8");
}

// The string whose opening quote is at p; p ends up after the closing one.
bool reader::string(const char *&p, std::string_view &out) {
    const char *q = p + 1;
    for (;;) {
        q = skip_plain(q, end_);
        if (q == end_) return bad_string_byte(q);
        if (*q == '"') {
            out = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
            p = q + 1;
            return true;
        }
        if (*q == '\\') return escaped_string(p, q, out);
        int n = static_cast<uchar>(*q) < 0x80 ? 0 : utf8_length(q, end_);
        if (n == 0) return bad_string_byte(q);
        q += n;
    }
}

// The rest of the string at p from its first escape at q on, decoded into
// scratch_.
bool reader::escaped_string(const char *&p, const char *q, std::string_view &out) {
    scratch_.assign(p + 1, q);
    for (;;) {
        const char *s = q;
        q = skip_plain(q, end_);
        scratch_.append(s, q);
        if (q == end_) return bad_string_byte(q);
        char c = *q;
        if (c == '"') break;
        if (c != '\\') {
            int n = static_cast<uchar>(c) < 0x80 ? 0 : utf8_length(q, end_);
            if (n == 0) return bad_string_byte(q);
            scratch_.append(q, static_cast<size_t>(n));
            q += n;
            continue;
        }
        static constexpr char escapes[] = "\"\\/bfnrt", decoded[] = "\"\\/\b\f\n\r\t";
        if (q + 1 == end_) return fail(q + 1, "the document ends inside a string");
        char e = q[1];
        const char *simple = e != '\0' ? std::strchr(escapes, e) : nullptr;
        if (simple != nullptr) {
            scratch_.push_back(decoded[simple - escapes]);
            q += 2;
            continue;
        }
        if (e != 'u') {
            std::string m = "invalid escape ";
            if (e > ' ' && e < 0x7F) m.append("'\\").append(1, e).append("' ");
            return fail(q, m + "(valid: \\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX)");
        }
        int u = hex4(q + 2, end_);
        if (u < 0) return fail(q, "expected four hex digits after \\u");
        uint32_t cp = static_cast<uint32_t>(u);
        if (u >= 0xD800 && u <= 0xDFFF) {
            int low = u <= 0xDBFF && end_ - q >= 12 && q[6] == '\\' && q[7] == 'u'
                          ? hex4(q + 8, end_)
                          : -1;
            if (low < 0xDC00 || low > 0xDFFF)
                return fail(q, "lone surrogate '" + std::string(q, 6) +
                                   "' (a character above U+FFFF is written as a pair, "
                                   "\\uD800-\\uDBFF then \\uDC00-\\uDFFF)");
            cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<uint32_t>(low - 0xDC00);
            q += 6;
        }
        append_utf8(cp, scratch_);
        q += 6;
    }
    out = scratch_;
    p = q + 1;
    return true;
}

bool reader::member_name(const char *&p, bool after_comma) {
    p = skip_space(p);
    if (p == end_) return fail(p, "the document ends inside an object");
    if (*p != '"')
        return fail(p, after_comma && *p == '}'
                           ? "expected a member name after ',' (no trailing commas)"
                           : "expected a member name in double quotes");
    const char *at = p;
    std::string_view name;
    if (!string(p, name) || !h_.member(name, off(at))) return false;
    p = skip_space(p);
    if (p == end_ || *p != ':') return fail(p, "expected ':' after the member name");
    ++p;
    return true;
}

bool reader::open(const char *&p, bool object) {
    if (in_object_.size() >= max_depth_) {
        err_.offset = off(p);
        err_.message = "members nested deeper than " + std::to_string(max_depth_) + " levels";
        return false;
    }
    in_object_.push_back(object);
    opened_ = true;
    size_t at = off(p++);
    return object ? h_.begin_object(at) : h_.begin_array(at);
}

// A scalar at p, or the opening of an object or array.
bool reader::value(const char *&p, bool after_comma) {
    p = skip_space(p);
    if (p == end_) return fail(p, "expected a value, found the end of the document");
    const char *s = p;
    switch (*p) {
        case '{': return open(p, true);
        case '[': return open(p, false);
        case '"': {
            std::string_view text;
            return string(p, text) && h_.scalar(json_kind::string, text, off(s));
        }
        case 't':
        case 'f':
        case 'n': {
            static constexpr std::string_view words[] = {"true", "false", "null"};
            static constexpr json_kind kinds[] = {json_kind::true_value, json_kind::false_value,
                                                  json_kind::null_value};
            int i = *p == 't' ? 0 : *p == 'f' ? 1 : 2;
            if (static_cast<size_t>(end_ - p) < words[i].size() ||
                std::memcmp(p, words[i].data(), words[i].size()) != 0)
                break;
            p += words[i].size();
            return h_.scalar(kinds[i], words[i], off(s));
        }
        default:
            if (*p != '-' && !is_digit(*p)) break;
            if (*p == '-') ++p;
            if (p == end_ || !is_digit(*p)) return fail(p, "expected a digit after '-'");
            if (*p == '0') {
                ++p;
                if (p != end_ && is_digit(*p))
                    return fail(p, "a number must not have a leading zero");
            } else {
                while (p != end_ && is_digit(*p)) ++p;
            }
            if (p != end_ && *p == '.') {
                ++p;
                if (p == end_ || !is_digit(*p)) return fail(p, "expected a digit after '.'");
                while (p != end_ && is_digit(*p)) ++p;
            }
            if (p != end_ && (*p == 'e' || *p == 'E')) {
                ++p;
                if (p != end_ && (*p == '+' || *p == '-')) ++p;
                if (p == end_ || !is_digit(*p)) return fail(p, "expected a digit in the exponent");
                while (p != end_ && is_digit(*p)) ++p;
            }
            return h_.scalar(json_kind::number, std::string_view(s, static_cast<size_t>(p - s)),
                             off(s));
    }
    if (after_comma && *p == ']') return fail(p, "expected a value after ',' (no trailing commas)");
    return fail(p, "expected a value (string, number, object, array, true, false or null)");
}

bool reader::run() {
    const char *p = begin_;
    if (end_ - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
    if (!value(p, false)) return false;
    for (;;) {
        // After a value, or just after '{' or '[': close what is open, or
        // go on to the next member or element.
        if (in_object_.empty()) {
            p = skip_space(p);
            return p == end_ ? true : fail(p, "text after the JSON value");
        }
        bool object = in_object_.back();
        bool opened = opened_;
        opened_ = false;
        p = skip_space(p);
        if (p == end_)
            return fail(p, object ? "the document ends inside an object"
                                  : "the document ends inside an array");
        if (*p == (object ? '}' : ']')) {
            size_t at = off(p++);
            in_object_.pop_back();
            if (!(object ? h_.end_object(at) : h_.end_array(at))) return false;
            continue;
        }
        bool comma = !opened;
        if (comma) {
            if (*p != ',')
                return fail(p, object ? "expected ',' or '}' after an object member"
                                      : "expected ',' or ']' after an array element");
            ++p;
        }
        if (object && !member_name(p, comma)) return false;
        if (!value(p, comma)) return false;
    }
}

}  // namespace

bool read_json(std::string_view document, json_handler &handler, unsigned max_depth,
               reader_error &err) {
    // The scratch buffers and the stack grow with the document; running out
    // of memory is one more reason to refuse it, not to unwind the caller.
    try {
        reader r(document, handler, max_depth, err);
        return r.run();
    } catch (const std::bad_alloc &) {
        err.offset = 0;
        err.message = "out of memory while reading the document";
        err.out_of_memory = true;
        return false;
    }
}

}  // namespace yfw_host
