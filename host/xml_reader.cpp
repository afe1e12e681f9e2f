// One pass over the document, no recursion and no copy of the input: names
// and most texts reach the handler as views into the document; only text
// that references, line ends or attribute normalisation change is decoded,
// into buffers the reader keeps for the whole document.
#include "xml_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
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

// Byte classes. Anything at or above 0x80 is in none of them: such bytes go
// through the UTF-8 check one character at a time.
enum : uint8_t {
    name_char = 1,      // [A-Za-z0-9._:-]
    name_start = 2,     // [A-Za-z_:]
    text_plain = 4,     // character data as written: no '<', '&', ']', CR or control characters
    attr_plain = 8,     // an attribute value as written: no quote, '<', '&' or white space but ' '
    space_char = 16,    // #x20 #x9 #xA #xD
    markup_plain = 32,  // inside comments, PIs and CDATA: no '-', '?', ']', CR or controls
    ncname_char = 64    // [A-Za-z0-9._-]
};

constexpr std::array<uint8_t, 256> make_classes() {
    std::array<uint8_t, 256> t{};
    for (int c = 0x20; c < 0x80; ++c) {
        t[c] = text_plain | attr_plain | markup_plain;
        bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (alpha || c == '_' || c == ':') t[c] |= name_start | name_char;
        if ((c >= '0' && c <= '9') || c == '.' || c == '-') t[c] |= name_char;
        if (t[c] & name_char && c != ':') t[c] |= ncname_char;
    }
    for (int c : {'<', '&', ']'}) t[c] &= ~text_plain;
    for (int c : {'<', '&', '"', '\''}) t[c] &= ~attr_plain;
    for (int c : {'-', '?', ']'}) t[c] &= ~markup_plain;
    t['\t'] = t['\n'] = text_plain | markup_plain | space_char;
    t['\r'] = space_char;
    t[' '] |= space_char;
    return t;
}
constexpr std::array<uint8_t, 256> classes = make_classes();

inline bool is(char c, uint8_t cls) {
    return classes[static_cast<uchar>(c)] & cls;
}

// Length of the well-formed UTF-8 sequence at p (*p >= 0x80), 0 when it is
// not one, -1 when it encodes U+FFFE or U+FFFF, which are no XML characters.
// Overlong forms, surrogates and code points above U+10FFFF are refused by
// the ranges allowed for the second byte.
inline int utf8_length(const char *p, const char *end) {
    auto at = [&](int i) { return p + i < end ? static_cast<uchar>(p[i]) : 0u; };
    auto cont = [&](int i) { return (at(i) & 0xC0) == 0x80; };
    unsigned b0 = at(0);
    if (b0 < 0xC2) return 0;
    if (b0 < 0xE0) return cont(1) ? 2 : 0;
    unsigned b1 = at(1);
    if (b0 < 0xF0) {
        unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        if (b1 < lo || b1 > hi || !cont(2)) return 0;
        return b0 == 0xEF && b1 == 0xBF && at(2) >= 0xBE ? -1 : 3;
    }
    if (b0 > 0xF4) return 0;
    unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return b1 >= lo && b1 <= hi && cont(2) && cont(3) ? 4 : 0;
}

inline bool is_xml_char(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

inline size_t encode_utf8(uint32_t c, char *out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Character data is most of a document's bytes, so it is skipped sixteen
// bytes at a time; the loop stops at anything text_plain excludes.
inline const char *skip_plain_text(const char *p, const char *end) {
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), rsqb = _mm_set1_epi8(']');
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n');
    const __m128i space = _mm_set1_epi8(' ');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Signed compare: non-ASCII bytes count as below ' ' as well.
        __m128i ctl = _mm_cmplt_epi8(v, space);
        ctl = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), ctl);
        __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
                                    _mm_or_si128(_mm_cmpeq_epi8(v, rsqb), ctl));
        int mask = _mm_movemask_epi8(stop);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p != end && is(*p, text_plain)) ++p;
    return p;
}

inline const char *skip_class(const char *p, const char *end, uint8_t cls) {
    while (p != end && is(*p, cls)) ++p;
    return p;
}

constexpr size_t none = static_cast<size_t>(-1);

// Names and references quoted in a message, cut short (at a character
// boundary) when a document makes them long.
std::string excerpt(std::string_view s) {
    if (s.size() <= 64) return std::string(s);
    size_t n = 64;
    while (n > 0 && (static_cast<uchar>(s[n]) & 0xC0) == 0x80) --n;
    return std::string(s.substr(0, n)) + "...";
}
std::string excerpt(const char *s, const char *e) {
    return excerpt(std::string_view(s, static_cast<size_t>(e - s)));
}

class reader {
public:
    reader(std::string_view doc, xml_handler &h, unsigned max_depth, reader_error &err)
        : begin_(doc.data()),
          end_(doc.data() + doc.size()),
          h_(h),
          max_depth_(max_depth),
          err_(err) {}

    bool run();

private:
    struct frame {
        const char *name;
        size_t name_len;
        size_t lt;  // offset of the start tag's '<'
        bool has_children;
    };

    const char *const begin_;
    const char *const end_;
    xml_handler &h_;
    const unsigned max_depth_;
    reader_error &err_;

    std::vector<frame> stack_;
    std::vector<xml_attribute> attrs_;
    std::vector<size_t> attr_pos_;  // where a decoded value starts in attr_scratch_, or none
    std::vector<size_t> attr_order_;
    std::string attr_scratch_;

    // The character data of the innermost element while it has no child
    // element: a view into the document as long as one undecoded chunk
    // suffices, text_scratch_ from the first decoded or second chunk on.
    const char *text_ = nullptr;
    size_t text_len_ = 0;
    bool text_in_scratch_ = false;
    size_t text_offset_ = none;
    size_t first_non_space_ = none;
    std::string text_scratch_;

    size_t off(const char *p) const { return static_cast<size_t>(p - begin_); }
    bool at(const char *p, std::string_view s) const {
        return static_cast<size_t>(end_ - p) >= s.size() && std::memcmp(p, s.data(), s.size()) == 0;
    }
    const char *skip_space(const char *p) const { return skip_class(p, end_, space_char); }

    [[gnu::cold, gnu::noinline]] bool fail(const char *p, std::string message) {
        err_.offset = off(p);
        err_.message = std::move(message);
        return false;
    }
    [[gnu::cold, gnu::noinline]] bool bad_byte(const char *p);
    [[gnu::cold, gnu::noinline]] bool bad_reference(const char *amp, const char *stop,
                                                    bool character);
    [[gnu::cold, gnu::noinline]] bool mixed(const char *p) {
        const frame &f = stack_.back();
        return fail(p, "<" + excerpt(f.name, f.name + f.name_len) + "> mixes text and elements");
    }
    // Names what was left open: what, followed by <element> when one is given.
    [[gnu::cold, gnu::noinline]] bool ends_early(std::string_view what,
                                                 std::string_view element = {}) {
        std::string m = "malformed XML: the document ends inside ";
        m.append(what);
        if (!element.empty()) m.append("<").append(excerpt(element)).append(">");
        return fail(end_, std::move(m));
    }

    bool document_element(const char *&p);
    bool xml_declaration(const char *&p);
    bool start_tag(const char *&p);
    bool end_tag(const char *&p);
    bool char_data(const char *&p);
    bool cdata(const char *&p);
    bool comment(const char *&p);
    bool processing_instruction(const char *&p);
    bool markup_in_prolog(const char *&p, bool after_root);
    bool qname(const char *&p, const char *what);
    bool attribute_value(const char *&p, xml_attribute &a, size_t &pos);
    bool duplicate_attribute();
    bool reference(const char *&p, char *out, size_t &n, uint32_t &c);
    bool check_char(const char *&p);

    void reset_text() {
        text_len_ = 0;
        text_in_scratch_ = false;
        text_offset_ = none;
        first_non_space_ = none;
    }
    void to_scratch() {
        if (text_in_scratch_) return;
        text_scratch_.assign(text_, text_len_);
        text_in_scratch_ = true;
    }
    bool literal_text(const char *s, const char *e);
    bool decoded_text(const char *s, size_t n, const char *at, bool space);
};

bool reader::bad_byte(const char *p) {
    uchar c = static_cast<uchar>(*p);
    if (c < 0x20) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "malformed XML: control character 0x%02x", c);
        return fail(p, buf);
    }
    if (utf8_length(p, end_) < 0)
        return fail(p, std::string("malformed XML: U+FFF") + (p[2] == '\xBE' ? "E" : "F") +
                           " is no XML character");
    return fail(p, "malformed XML: invalid UTF-8");
}

// Steps over one character that no fast loop took: an XML character outside
// ASCII, or a byte that makes the document malformed.
bool reader::check_char(const char *&p) {
    uchar c = static_cast<uchar>(*p);
    if (c >= 0x80) {
        int n = utf8_length(p, end_);
        if (n <= 0) return bad_byte(p);
        p += n;
        return true;
    }
    if (c < 0x20 && !is(*p, space_char)) return bad_byte(p);
    ++p;
    return true;
}

// A qualified name at p; p ends up after it. Every name the reader takes is
// one: element and attribute names, and (without the ':') PI targets.
bool reader::qname(const char *&p, const char *what) {
    const char *s = p;
    if (p == end_ || (!is(*p, name_start) && static_cast<uchar>(*p) < 0x80))
        return fail(p, std::string("malformed XML: ") + what + " not followed by a name");
    const char *colon = nullptr;
    for (;;) {
        p = skip_class(p, end_, ncname_char);
        if (p == end_) break;
        if (*p == ':') {
            colon = colon == nullptr ? p : s;  // a second one is refused below
            ++p;
            continue;
        }
        if (static_cast<uchar>(*p) < 0x80) break;
        int n = utf8_length(p, end_);
        if (n <= 0) return bad_byte(p);
        p += n;
    }
    if (colon == s || colon == p - 1 ||
        (colon != nullptr && !is(colon[1], name_start) && static_cast<uchar>(colon[1]) < 0x80))
        return fail(s, "malformed XML: '" + excerpt(s, p) +
                           "' is no qualified name (at most one ':', not at either end)");
    return true;
}

// The reference at p ('&'): the character in out (UTF-8, n bytes) and c;
// p ends up after the ';'.
bool reader::reference(const char *&p, char *out, size_t &n, uint32_t &c) {
    const char *amp = p;
    const char *q = p + 1;
    if (q != end_ && *q == '#') {
        ++q;
        bool hex = q != end_ && *q == 'x';
        if (hex) ++q;
        const char *digits = q;
        uint32_t v = 0;
        for (; q != end_; ++q) {
            int d = *q >= '0' && *q <= '9'          ? *q - '0'
                    : hex && *q >= 'a' && *q <= 'f' ? *q - 'a' + 10
                    : hex && *q >= 'A' && *q <= 'F' ? *q - 'A' + 10
                                                    : -1;
            if (d < 0) break;
            if (v <= 0x10FFFF) v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        }
        if (q == digits || q == end_ || *q != ';') return bad_reference(amp, q, true);
        ++q;
        if (!is_xml_char(v))
            return fail(amp, "malformed XML: '" + excerpt(amp, q) +
                                 "' refers to a character XML does not allow");
        c = v;
        n = encode_utf8(v, out);
        p = q;
        return true;
    }
    const char *e = skip_class(q, end_, name_char);
    std::string_view name(q, static_cast<size_t>(e - q));
    c = name == "lt" ? '<' : name == "gt" ? '>' : name == "amp" ? '&' : name == "apos" ? '\'' : '"';
    if (e == end_ || *e != ';' || (c == '"' && name != "quot")) return bad_reference(amp, e, false);
    out[0] = static_cast<char>(c);
    n = 1;
    p = e + 1;
    return true;
}

bool reader::bad_reference(const char *amp, const char *stop, bool character) {
    // Cut like excerpt(): a stray '&' may stand before a long word.
    std::string written(amp, std::min<size_t>(static_cast<size_t>(stop - amp), 64));
    if (character)
        return fail(amp, "malformed XML: '" + written +
                             "' is no character reference (write '&#N;' or '&#xH;')");
    bool closed = stop != end_ && *stop == ';' && written.size() == static_cast<size_t>(stop - amp);
    if (closed) written += ';';
    std::string_view name = std::string_view(written).substr(1);
    if (!closed &&
        (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot"))
        return fail(amp, "malformed XML: '" + written + "' lacks the ';' that ends a reference");
    return fail(amp, "malformed XML: '" + written +
                         "' is no predefined entity or character reference (write '&amp;' for "
                         "'&')");
}

// Character data [s, e) that needs no decoding.
bool reader::literal_text(const char *s, const char *e) {
    if (s == e) return true;
    if (stack_.back().has_children) {
        const char *n = skip_class(s, e, space_char);
        return n == e ? true : mixed(n);
    }
    if (first_non_space_ == none) {
        const char *n = skip_class(s, e, space_char);
        if (n != e) first_non_space_ = off(n);
    }
    if (text_offset_ == none) text_offset_ = off(s);
    if (text_len_ == 0 && !text_in_scratch_) {
        text_ = s;
        text_len_ = static_cast<size_t>(e - s);
        return true;
    }
    to_scratch();
    text_scratch_.append(s, e);
    return true;
}

// Character data that differs from what is written at `at`.
bool reader::decoded_text(const char *s, size_t n, const char *at, bool space) {
    if (stack_.back().has_children) return space ? true : mixed(at);
    if (first_non_space_ == none && !space) first_non_space_ = off(at);
    if (text_offset_ == none) text_offset_ = off(at);
    to_scratch();
    text_scratch_.append(s, n);
    return true;
}

bool reader::char_data(const char *&p) {
    if (stack_.back().has_children) {
        // The indentation between child elements: nothing to keep.
        const char *n = skip_space(p);
        if (n == end_ || *n == '<') {
            p = n;
            return true;
        }
    }
    const char *s = p;
    for (;;) {
        p = skip_plain_text(p, end_);
        if (p == end_ || *p == '<') return literal_text(s, p);
        switch (*p) {
            case '&': {
                if (!literal_text(s, p)) return false;
                char buf[4];
                size_t n;
                uint32_t c;
                const char *amp = p;
                if (!reference(p, buf, n, c)) return false;
                bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
                if (!decoded_text(buf, n, amp, space)) return false;
                s = p;
                break;
            }
            case '\r':
                if (!literal_text(s, p) || !decoded_text("\n", 1, p, true)) return false;
                p += p + 1 != end_ && p[1] == '\n' ? 2 : 1;
                s = p;
                break;
            case ']':
                if (at(p, "]]>")) return fail(p, "malformed XML: ']]>' in character data");
                ++p;
                break;
            default:
                if (!check_char(p)) return false;
        }
    }
}

bool reader::cdata(const char *&p) {
    p += 9;  // "<![CDATA["
    const char *s = p;
    for (;;) {
        p = skip_class(p, end_, markup_plain);
        if (p == end_) return ends_early("a CDATA section");
        if (*p == ']' && at(p, "]]>")) {
            if (!literal_text(s, p)) return false;
            p += 3;
            return true;
        }
        if (*p == '\r') {
            if (!literal_text(s, p) || !decoded_text("\n", 1, p, true)) return false;
            p += p + 1 != end_ && p[1] == '\n' ? 2 : 1;
            s = p;
        } else if (*p == '-' || *p == '?' || *p == ']') {
            ++p;
        } else if (!check_char(p)) {
            return false;
        }
    }
}

bool reader::comment(const char *&p) {
    p += 4;  // "<!--"
    for (;;) {
        p = skip_class(p, end_, markup_plain);
        if (p == end_) return ends_early("a comment");
        if (*p == '-' && p + 1 != end_ && p[1] == '-') {
            if (p + 2 != end_ && p[2] == '>') {
                p += 3;
                return true;
            }
            return fail(p, "malformed XML: '--' inside a comment");
        }
        if (*p == '-' || *p == '?' || *p == ']')
            ++p;
        else if (!check_char(p))
            return false;
    }
}

bool reader::processing_instruction(const char *&p) {
    const char *lt = p;
    p += 2;  // "<?"
    const char *target = p;
    if (!qname(p, "'<?'")) return false;
    std::string_view name(target, static_cast<size_t>(p - target));
    if (name.find(':') != std::string_view::npos)
        return fail(target, "malformed XML: processing instruction target '" + excerpt(name) +
                                "' contains ':'");
    if (name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' &&
        (name[2] | 0x20) == 'l')
        return fail(lt, "malformed XML: an XML declaration ('<?" + excerpt(name) +
                            "') is allowed only at the very start of the document");
    if (p != end_ && !at(p, "?>") && !is(*p, space_char))
        return fail(p,
                    "malformed XML: expected white space or '?>' after '<?" + excerpt(name) + "'");
    for (;;) {
        p = skip_class(p, end_, markup_plain);
        if (p == end_) return ends_early("a processing instruction");
        if (*p == '?' && p + 1 != end_ && p[1] == '>') {
            p += 2;
            return true;
        }
        if (*p == '-' || *p == '?' || *p == ']')
            ++p;
        else if (!check_char(p))
            return false;
    }
}

// '<?xml' version encoding? standalone? '?>' at p.
bool reader::xml_declaration(const char *&p) {
    const char *q = p + 5;
    auto attribute = [&](const char *name, std::string_view &value) {
        const char *s = skip_space(q);
        if (s == q || !at(s, name)) return false;
        const char *r = skip_space(s + std::strlen(name));
        if (r == end_ || *r != '=') return false;
        r = skip_space(r + 1);
        if (r == end_ || (*r != '"' && *r != '\'')) return false;
        const char *v = r + 1;
        const char *e = v;
        while (e != end_ && *e != *r && *e != '<' && *e != '>' && *e != '?') ++e;
        if (e == end_ || *e != *r) return false;
        value = std::string_view(v, static_cast<size_t>(e - v));
        q = e + 1;
        return true;
    };
    std::string_view version, encoding, standalone;
    if (!attribute("version", version) || version.size() < 3 || !version.starts_with("1.") ||
        version.find_first_not_of("0123456789", 2) != std::string_view::npos)
        return fail(p, "malformed XML: the XML declaration must begin with version=\"1.x\"");
    if (attribute("encoding", encoding)) {
        if (encoding.size() != 5 || (encoding[0] | 0x20) != 'u' || (encoding[1] | 0x20) != 't' ||
            (encoding[2] | 0x20) != 'f' || encoding.substr(3) != "-8")
            return fail(encoding.data(), "only UTF-8 documents are accepted");
    }
    if (attribute("standalone", standalone) && standalone != "yes" && standalone != "no")
        return fail(standalone.data(), "malformed XML: standalone must be \"yes\" or \"no\"");
    q = skip_space(q);
    if (!at(q, "?>")) return fail(q, "malformed XML: expected '?>' to end the XML declaration");
    p = q + 2;
    return true;
}

bool reader::duplicate_attribute() {
    size_t n = attrs_.size();
    size_t found = none;  // index of the first repeat in document order
    if (n <= 16) {
        for (size_t j = 1; j < n && found == none; ++j)
            for (size_t i = 0; i < j; ++i)
                if (attrs_[i].name == attrs_[j].name) {
                    found = j;
                    break;
                }
    } else {
        // Quadratic work would let one tag with a great many attributes stall
        // the reader.
        attr_order_.resize(n);
        for (size_t i = 0; i < n; ++i) attr_order_[i] = i;
        std::stable_sort(attr_order_.begin(), attr_order_.end(),
                         [&](size_t a, size_t b) { return attrs_[a].name < attrs_[b].name; });
        for (size_t i = 1; i < n; ++i)
            if (attrs_[attr_order_[i]].name == attrs_[attr_order_[i - 1]].name)
                found = std::min(found, attr_order_[i]);
    }
    if (found == none) return false;
    fail(begin_ + attrs_[found].offset,
         "malformed XML: attribute " + excerpt(attrs_[found].name) + " appears twice");
    return true;
}

// The value in quotes at p. A value written as it is read is a view into the
// document; any other is decoded at the end of attr_scratch_ and its view is
// made once the whole tag is read, when attr_scratch_ no longer grows.
bool reader::attribute_value(const char *&p, xml_attribute &a, size_t &pos) {
    const char quote = *p++;
    const char *s = p;
    for (;;) {
        p = skip_class(p, end_, attr_plain);
        if (p == end_) break;
        if (*p == (quote == '"' ? '\'' : '"')) {
            ++p;
        } else if (static_cast<uchar>(*p) >= 0x80) {
            if (!check_char(p)) return false;
        } else {
            break;
        }
    }
    if (p != end_ && *p == quote) {
        a.value = std::string_view(s, static_cast<size_t>(p - s));
        pos = none;
        ++p;
        return true;
    }
    pos = attr_scratch_.size();
    attr_scratch_.append(s, p);
    for (;;) {
        if (p == end_) return ends_early("an attribute value");
        char c = *p;
        if (c == quote) {
            ++p;
            return true;
        }
        if (is(c, attr_plain) || c == '"' || c == '\'') {
            const char *r = p + 1;
            while (r != end_ && (is(*r, attr_plain) || ((*r == '"' || *r == '\'') && *r != quote)))
                ++r;
            attr_scratch_.append(p, r);
            p = r;
        } else if (c == '<') {
            return fail(p, "malformed XML: '<' in the value of attribute " + excerpt(a.name));
        } else if (c == '&') {
            char buf[4];
            size_t n;
            uint32_t cp;
            if (!reference(p, buf, n, cp)) return false;
            attr_scratch_.append(buf, n);
        } else if (c == '\r' || c == '\n' || c == '\t') {
            attr_scratch_.push_back(' ');
            p += c == '\r' && p + 1 != end_ && p[1] == '\n' ? 2 : 1;
        } else {
            const char *r = p;
            if (!check_char(p)) return false;
            attr_scratch_.append(r, p);
        }
    }
}

bool reader::start_tag(const char *&p) {
    const char *lt = p;
    if (!stack_.empty()) {
        frame &parent = stack_.back();
        if (!parent.has_children) {
            if (first_non_space_ != none) return mixed(begin_ + first_non_space_);
            parent.has_children = true;
        }
    }
    if (stack_.size() >= max_depth_)
        return fail(lt, "elements nested deeper than " + std::to_string(max_depth_) + " levels");
    ++p;
    if (!qname(p, "'<'")) return false;
    const char *name = lt + 1;
    const size_t name_len = static_cast<size_t>(p - name);
    attrs_.clear();
    attr_pos_.clear();
    attr_scratch_.clear();
    auto unexpected = [&](const char *q) {
        if (q == end_) return ends_early("the start tag ", std::string_view(name, name_len));
        return fail(q, "malformed XML: expected '>' after the attributes of <" +
                           excerpt(name, name + name_len) + ">");
    };
    bool empty;
    for (;;) {
        const char *q = skip_space(p);
        if (q != end_ && *q == '>') {
            p = q + 1;
            empty = false;
            break;
        }
        if (q != end_ && *q == '/') {
            if (q + 1 == end_ || q[1] != '>') return unexpected(q + 1);
            p = q;
            empty = true;
            break;
        }
        // Attributes are separated from the name and from each other.
        if (q == p || q == end_ || (!is(*q, name_start) && static_cast<uchar>(*q) < 0x80))
            return unexpected(q);
        p = q;
        if (!qname(p, "attribute")) return false;
        xml_attribute a{std::string_view(q, static_cast<size_t>(p - q)), {}, off(q)};
        p = skip_space(p);
        if (p == end_ || *p != '=')
            return fail(p,
                        "malformed XML: expected '=' after the attribute name " + excerpt(a.name));
        p = skip_space(p + 1);
        if (p == end_ || (*p != '"' && *p != '\''))
            return fail(p,
                        "malformed XML: expected the quoted value of attribute " + excerpt(a.name));
        size_t pos;
        if (!attribute_value(p, a, pos)) return false;
        attrs_.push_back(a);
        attr_pos_.push_back(pos);
    }
    if (!attrs_.empty()) {
        // Decoded values end where the next decoded value starts.
        size_t next = attr_scratch_.size();
        for (size_t i = attrs_.size(); i-- > 0;) {
            if (attr_pos_[i] == none) continue;
            attrs_[i].value =
                std::string_view(attr_scratch_.data() + attr_pos_[i], next - attr_pos_[i]);
            next = attr_pos_[i];
        }
        if (attrs_.size() > 1 && duplicate_attribute()) return false;
    }
    std::string_view qn(name, name_len);
    if (!h_.start_element(qn, attrs_, off(lt))) return false;
    if (empty) {
        const char *slash = p;
        p += 2;
        return h_.text(std::string_view(), off(lt)) && h_.end_element(off(slash));
    }
    stack_.push_back({name, name_len, off(lt), false});
    reset_text();
    return true;
}

bool reader::end_tag(const char *&p) {
    const char *lt = p;
    const frame f = stack_.back();
    const char *q = p + 2;
    if (static_cast<size_t>(end_ - q) >= f.name_len && std::memcmp(q, f.name, f.name_len) == 0 &&
        (q + f.name_len == end_ ||
         (!is(q[f.name_len], name_char) && static_cast<uchar>(q[f.name_len]) < 0x80))) {
        q += f.name_len;
    } else {
        const char *s = q;
        if (!qname(q, "'</'")) return false;
        return fail(lt, "malformed XML: mismatched end tag </" + excerpt(s, q) + ">, expected </" +
                            excerpt(f.name, f.name + f.name_len) + ">");
    }
    q = skip_space(q);
    if (q == end_ || *q != '>')
        return fail(q, "malformed XML: expected '>' to end </" +
                           excerpt(f.name, f.name + f.name_len) + ">");
    p = q + 1;
    if (!f.has_children) {
        std::string_view t =
            text_in_scratch_ ? std::string_view(text_scratch_) : std::string_view(text_, text_len_);
        if (!h_.text(t, text_offset_ == none ? f.lt : text_offset_)) return false;
    }
    stack_.pop_back();
    return h_.end_element(off(lt));
}

// The document element at p and everything in it.
bool reader::document_element(const char *&p) {
    if (!start_tag(p)) return false;
    while (!stack_.empty()) {
        if (p == end_) {
            const frame &f = stack_.back();
            return ends_early("", std::string_view(f.name, f.name_len));
        }
        if (*p != '<') {
            if (!char_data(p)) return false;
            continue;
        }
        bool ok;
        char c = p + 1 != end_ ? p[1] : '\0';
        if (c == '/')
            ok = end_tag(p);
        else if (c == '?')
            ok = processing_instruction(p);
        else if (c != '!')
            ok = start_tag(p);
        else if (at(p, "<!--"))
            ok = comment(p);
        else if (at(p, "<![CDATA["))
            ok = cdata(p);
        else if (at(p, "<!DOCTYPE"))
            ok = fail(p, "DOCTYPE declarations are not accepted");
        else
            ok = fail(p, "malformed XML: '<!' opens neither a comment nor a CDATA section");
        if (!ok) return false;
    }
    return true;
}

bool reader::markup_in_prolog(const char *&p, bool after_root) {
    char c = p + 1 != end_ ? p[1] : '\0';
    if (c == '?') return processing_instruction(p);
    if (at(p, "<!--")) return comment(p);
    if (at(p, "<!DOCTYPE")) return fail(p, "DOCTYPE declarations are not accepted");
    if (c == '!') return fail(p, "malformed XML: only comments may begin with '<!' here");
    if (c == '/') return fail(p, "malformed XML: an end tag outside the document element");
    if (after_root) return fail(p, "malformed XML: a second document element");
    return document_element(p);
}

bool reader::run() {
    const char *p = begin_;
    if (at(p, "\xEF\xBB\xBF"))
        p += 3;
    else if (at(p, "\xFE\xFF") || at(p, "\xFF\xFE"))
        return fail(p, "only UTF-8 documents are accepted");
    if (at(p, "<?xml") && (p + 5 == end_ || is(p[5], space_char) || p[5] == '?') &&
        !xml_declaration(p))
        return false;
    bool seen_root = false;
    for (;;) {
        p = skip_space(p);
        if (p == end_) return seen_root ? true : fail(p, "malformed XML: no document element");
        if (*p != '<') {
            if (static_cast<uchar>(*p) < 0x20) return bad_byte(p);
            return fail(p, seen_root ? "malformed XML: text after the document element"
                                     : "malformed XML: text before the document element");
        }
        char c = p + 1 != end_ ? p[1] : '\0';
        bool element = c != '?' && c != '!' && c != '/';
        if (!markup_in_prolog(p, seen_root)) return false;
        seen_root = seen_root || element;
    }
}

}  // namespace

bool read_xml(std::string_view document, xml_handler &handler, unsigned max_depth,
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
