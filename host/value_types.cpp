// Leaf types compiled from libyang's schema, checked without libyang's data
// parser: that parser stores every value in a dictionary and costs several
// times this tool's whole pipeline per route. Integers, booleans, strings
// and identities follow the built-in types; patterns run on the expressions
// libyang compiled; the address and prefix types of ietf-inet-types are
// recognised by their type plug-in and parsed, which is both exact and far
// cheaper than their patterns.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "value_types.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>

#include <libyang/libyang.h>
#include <libyang/plugins_types.h>
#include <pcre2.h>

#include "address_text.h"

namespace yfw_host {

namespace {

using base = value_type::base;

bool is_xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Values of types where white space cannot be part of the value (numbers,
// addresses, identities) are taken without the white space that pretty
// printing puts around element text.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && is_xml_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_xml_space(s.back())) s.remove_suffix(1);
    return s;
}

std::string number_text(uint64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string signed_text(int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string ranges_text(const value_type &t) {
    std::string s;
    auto sep = [&s] {
        if (!s.empty()) s += " or ";
    };
    if (t.is_signed) {
        for (auto [lo, hi] : t.signed_ranges) {
            sep();
            s += lo == hi ? signed_text(lo) : "from " + signed_text(lo) + " to " + signed_text(hi);
        }
    } else {
        for (auto [lo, hi] : t.unsigned_ranges) {
            sep();
            s += lo == hi ? number_text(lo) : "from " + number_text(lo) + " to " + number_text(hi);
        }
    }
    return s;
}

std::string lengths_text(const std::vector<std::pair<uint64_t, uint64_t>> &ranges) {
    std::string s;
    for (auto [lo, hi] : ranges) {
        if (!s.empty()) s += " or ";
        s += lo == hi ? number_text(lo) : number_text(lo) + " to " + number_text(hi);
    }
    return s;
}

const lysc_type *real_type(const lysc_type *t) {
    while (t->basetype == LY_TYPE_LEAFREF)
        t = reinterpret_cast<const lysc_type_leafref *>(t)->realtype;
    return t;
}

// The address and prefix types are told apart by the plug-in libyang gives
// them, which names the typedef ("libyang 2 - ipv4-address, version 1").
std::optional<base> inet_type(const lysc_type *t, bool &zone) {
    if (t->plugin == nullptr || t->plugin->id == nullptr) return std::nullopt;
    std::string_view id = t->plugin->id;
    zone = id.find("-no-zone") == std::string_view::npos;
    if (id.find("ipv4-address") != std::string_view::npos) return base::ipv4_address;
    if (id.find("ipv6-address") != std::string_view::npos) return base::ipv6_address;
    if (id.find("ipv4-prefix") != std::string_view::npos) return base::ipv4_prefix;
    if (id.find("ipv6-prefix") != std::string_view::npos) return base::ipv6_prefix;
    return std::nullopt;
}

void integer_bounds(LY_DATA_TYPE b, value_type &v) {
    switch (b) {
        case LY_TYPE_INT8: v.signed_ranges = {{INT8_MIN, INT8_MAX}}; break;
        case LY_TYPE_INT16: v.signed_ranges = {{INT16_MIN, INT16_MAX}}; break;
        case LY_TYPE_INT32: v.signed_ranges = {{INT32_MIN, INT32_MAX}}; break;
        case LY_TYPE_INT64: v.signed_ranges = {{INT64_MIN, INT64_MAX}}; break;
        case LY_TYPE_UINT8: v.unsigned_ranges = {{0, UINT8_MAX}}; break;
        case LY_TYPE_UINT16: v.unsigned_ranges = {{0, UINT16_MAX}}; break;
        case LY_TYPE_UINT32: v.unsigned_ranges = {{0, UINT32_MAX}}; break;
        default: v.unsigned_ranges = {{0, UINT64_MAX}}; break;
    }
}

void collect_identities(const lysc_ident *id, std::vector<value_type::identity> &out) {
    LY_ARRAY_COUNT_TYPE i;
    LY_ARRAY_FOR(id->derived, i) {
        const lysc_ident *d = id->derived[i];
        bool known = false;
        for (const auto &e : out) known = known || (e.name == d->name && e.ns == d->module->ns);
        if (!known)
            out.push_back({d->module->name, d->module->ns, d->name,
                           std::string(d->module->prefix) + ":" + d->name});
        collect_identities(d, out);
    }
}

[[noreturn]] void unsupported(LY_DATA_TYPE b) {
    // The modules are part of the build: a type the host cannot check is a
    // build that must not run, not a user error.
    std::fprintf(stderr,
                 "yfw_host: the built-in YANG modules use a type (libyang base type %d) "
                 "the host does not check\n",
                 static_cast<int>(b));
    std::abort();
}

}  // namespace

namespace {

void compile_inet(const lysc_type *t, base kind, bool zone, value_type &v) {
    v.kind = kind;
    v.zone = zone;
    static constexpr const char *names[] = {"an IPv4 address", "an IPv6 address", "an IPv4 prefix",
                                            "an IPv6 prefix"};
    v.description = names[static_cast<int>(kind) - static_cast<int>(base::ipv4_address)];
    // The patterns stay for the rare value with a zone index, whose
    // characters are easiest checked the way the module defines them.
    if (t->basetype == LY_TYPE_STRING) {
        const auto *str = reinterpret_cast<const lysc_type_str *>(t);
        LY_ARRAY_COUNT_TYPE i;
        LY_ARRAY_FOR(str->patterns, i) {
            v.patterns.push_back(str->patterns[i]);
        }
    }
}

void compile_integer(const lysc_type *t, value_type &v) {
    v.kind = base::integer;
    v.is_signed = t->basetype == LY_TYPE_INT8 || t->basetype == LY_TYPE_INT16 ||
                  t->basetype == LY_TYPE_INT32 || t->basetype == LY_TYPE_INT64;
    integer_bounds(t->basetype, v);
    if (const lysc_range *r = reinterpret_cast<const lysc_type_num *>(t)->range) {
        v.signed_ranges.clear();
        v.unsigned_ranges.clear();
        LY_ARRAY_COUNT_TYPE i;
        LY_ARRAY_FOR(r->parts, i) {
            if (v.is_signed)
                v.signed_ranges.emplace_back(r->parts[i].min_64, r->parts[i].max_64);
            else
                v.unsigned_ranges.emplace_back(r->parts[i].min_u64, r->parts[i].max_u64);
        }
    }
    v.description = "an integer " + ranges_text(v);
}

void compile_string(const lysc_type *t, value_type &v) {
    v.kind = base::string;
    const auto *str = reinterpret_cast<const lysc_type_str *>(t);
    v.description = "a string";
    if (str->length) {
        LY_ARRAY_COUNT_TYPE i;
        LY_ARRAY_FOR(str->length->parts, i) {
            v.unsigned_ranges.emplace_back(str->length->parts[i].min_u64,
                                           str->length->parts[i].max_u64);
        }
        v.description += " of " + lengths_text(v.unsigned_ranges) + " characters";
    }
    LY_ARRAY_COUNT_TYPE i;
    LY_ARRAY_FOR(str->patterns, i) {
        v.patterns.push_back(str->patterns[i]);
        v.description +=
            std::string(i == 0 ? " matching '" : " and '") + str->patterns[i]->expr + "'";
    }
}

void compile_identityref(const lysc_type *t, value_type &v) {
    v.kind = base::identityref;
    const auto *ref = reinterpret_cast<const lysc_type_identityref *>(t);
    LY_ARRAY_COUNT_TYPE i;
    LY_ARRAY_FOR(ref->bases, i) {
        collect_identities(ref->bases[i], v.identities);
    }
    v.description = "one of the identities";
    for (size_t k = 0; k < v.identities.size(); ++k)
        v.description += (k == 0                         ? " "
                          : k + 1 == v.identities.size() ? " or "
                                                         : ", ") +
                         v.identities[k].name;
}

}  // namespace

const value_type *value_type::compile(const lysc_type *raw, value_type_set &owner) {
    const lysc_type *t = real_type(raw);
    if (auto known = owner.by_type.find(t); known != owner.by_type.end()) return known->second;
    auto v = std::make_unique<value_type>();
    bool zone = false;
    if (auto inet = inet_type(t, zone)) {
        compile_inet(t, *inet, zone, *v);
    } else {
        switch (t->basetype) {
            case LY_TYPE_INT8:
            case LY_TYPE_INT16:
            case LY_TYPE_INT32:
            case LY_TYPE_INT64:
            case LY_TYPE_UINT8:
            case LY_TYPE_UINT16:
            case LY_TYPE_UINT32:
            case LY_TYPE_UINT64: compile_integer(t, *v); break;
            case LY_TYPE_BOOL:
                v->kind = base::boolean;
                v->description = "true or false";
                break;
            case LY_TYPE_EMPTY:
                v->kind = base::empty;
                v->description = "empty";
                break;
            case LY_TYPE_STRING: compile_string(t, *v); break;
            case LY_TYPE_IDENT: compile_identityref(t, *v); break;
            case LY_TYPE_UNION: {
                v->kind = base::union_of;
                const auto *u = reinterpret_cast<const lysc_type_union *>(t);
                LY_ARRAY_COUNT_TYPE i;
                LY_ARRAY_FOR(u->types, i) {
                    const value_type *m = compile(u->types[i], owner);
                    v->members.push_back(m);
                    v->description += (i == 0 ? "" : ", or ") + m->description;
                }
                break;
            }
            default: unsupported(t->basetype);
        }
    }
    owner.all.push_back(std::move(v));
    owner.by_type.emplace(t, owner.all.back().get());
    return owner.all.back().get();
}

bool valid_yang_text(std::string_view text, std::size_t &bad_offset) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                bad_offset = i;
                return false;
            }
            ++i;
            continue;
        }
        uint32_t cp = 0;
        std::size_t len = 0;
        if ((c & 0xe0) == 0xc0) {
            cp = c & 0x1f;
            len = 2;
        } else if ((c & 0xf0) == 0xe0) {
            cp = c & 0x0f;
            len = 3;
        } else if ((c & 0xf8) == 0xf0) {
            cp = c & 0x07;
            len = 4;
        } else {
            bad_offset = i;
            return false;
        }
        if (i + len > n) {
            bad_offset = i;
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80) {
                bad_offset = i;
                return false;
            }
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe ||
            cp == 0xffff) {
            bad_offset = i;
            return false;
        }
        i += len;
    }
    return true;
}

namespace {

std::size_t characters(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xc0) != 0x80;
    return n;
}

bool in_ranges(const std::vector<std::pair<uint64_t, uint64_t>> &r, uint64_t v) {
    for (auto [lo, hi] : r)
        if (v >= lo && v <= hi) return true;
    return false;
}

bool matches(const lysc_pattern *p, std::string_view s) {
    // One match block per thread: the patterns capture nothing, and making
    // one per value would cost an allocation each.
    thread_local pcre2_match_data *md = pcre2_match_data_create(1, nullptr);
    int rc =
        pcre2_match(p->code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0, 0, md, nullptr);
    bool hit = rc >= 0;
    return p->inverted ? !hit : hit;
}

bool all_patterns(const value_type &t, std::string_view s) {
    for (const lysc_pattern *p : t.patterns)
        if (!matches(p, s)) return false;
    return true;
}

// A decimal integer as YANG writes it: an optional sign, digits (leading
// zeros allowed); canonical without the plus and the zeros.
bool integer_value(const value_type &t, const lexical_value &in, std::string &scratch,
                   std::string_view &out) {
    std::string_view s = in.text;
    if (in.kind == lexical_kind::xml_text)
        s = trimmed(s);
    else if (in.kind != lexical_kind::json_number)
        return false;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        if (in.kind == lexical_kind::json_number && s[0] == '+') return false;
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return false;
    uint64_t magnitude = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (magnitude > (UINT64_MAX - d) / 10) return false;
        magnitude = magnitude * 10 + d;
    }
    if (negative && magnitude == 0) negative = false;  // "-0" is 0
    if (t.is_signed) {
        if (magnitude > (negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX})) return false;
        int64_t v =
            negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
        bool ok = false;
        for (auto [lo, hi] : t.signed_ranges) ok = ok || (v >= lo && v <= hi);
        if (!ok) return false;
        scratch = signed_text(v);
    } else {
        if (negative || !in_ranges(t.unsigned_ranges, magnitude)) return false;
        scratch = number_text(magnitude);
    }
    out = scratch == in.text ? in.text : std::string_view(scratch);
    return true;
}

bool string_value(const value_type &t, const lexical_value &in, std::string_view &out,
                  std::string &why) {
    if (in.kind != lexical_kind::xml_text && in.kind != lexical_kind::json_string) return false;
    std::size_t bad = 0;
    // The characters a YANG string may hold are those XML allows, which the
    // XML reader has checked already.
    if (in.kind != lexical_kind::xml_text && !valid_yang_text(in.text, bad)) {
        why = "holds a character no YANG string may hold";
        return false;
    }
    if (!t.unsigned_ranges.empty() && !in_ranges(t.unsigned_ranges, characters(in.text))) {
        why = "has " + number_text(characters(in.text)) + " characters, expected " + t.description;
        return false;
    }
    if (!all_patterns(t, in.text)) return false;
    out = in.text;
    return true;
}

bool identity_value(const value_type &t, const lexical_value &in, std::string_view leaf_module,
                    std::string_view &out, std::string &why) {
    std::string_view s;
    std::string_view qualifier;  // prefix (XML) or module (JSON)
    const char *ns = nullptr;
    if (in.kind == lexical_kind::xml_text) {
        s = trimmed(in.text);
        size_t colon = s.find(':');
        qualifier = colon == std::string_view::npos ? std::string_view() : s.substr(0, colon);
        if (colon != std::string_view::npos) s.remove_prefix(colon + 1);
        ns = in.scope ? in.scope->namespace_of(qualifier) : nullptr;
        if (ns == nullptr) {
            // Said only of what could be a prefixed name at all:
            // "192.0.2.1:x" and "fe80::zz" are no identities with an
            // undeclared prefix.
            bool name = !qualifier.empty() && !s.empty() && s.find(':') == std::string_view::npos &&
                        !std::isdigit(static_cast<unsigned char>(qualifier[0])) &&
                        qualifier.find_first_not_of(
                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                            "0123456789-_.") == std::string_view::npos;
            if (name)
                why = "names the prefix '" + std::string(qualifier) + "', which is not declared";
            return false;
        }
    } else if (in.kind == lexical_kind::json_string) {
        s = in.text;
        size_t colon = s.find(':');
        qualifier = colon == std::string_view::npos ? leaf_module : s.substr(0, colon);
        if (colon != std::string_view::npos) s.remove_prefix(colon + 1);
    } else {
        return false;
    }
    for (const auto &id : t.identities) {
        if (id.name != s) continue;
        if (ns != nullptr ? id.ns == ns : id.module == qualifier) {
            out = id.canonical;
            return true;
        }
    }
    return false;
}

// An address without a zone index, as inet_pton reads it; the canonical
// text is what inet_ntop writes (RFC 5952 for IPv6).
bool address_bytes(bool v6, std::string_view s, unsigned char (&bytes)[16]) {
    return parse_address(v6, s, bytes);
}

void address_text(bool v6, const unsigned char (&bytes)[16], std::string &out) {
    char buf[address_text_size];
    out.append(buf, format_address(v6, bytes, buf));
}

bool address_value(const value_type &t, const lexical_value &in, std::string &scratch,
                   std::string_view &out) {
    if (in.kind != lexical_kind::xml_text && in.kind != lexical_kind::json_string) return false;
    std::string_view s = in.kind == lexical_kind::xml_text ? trimmed(in.text) : in.text;
    bool v6 = t.kind == base::ipv6_address;
    std::string_view zone;
    if (size_t pct = s.find('%'); pct != std::string_view::npos) {
        if (!t.zone) return false;
        const std::string_view whole = s;  // as the patterns see it: white space dropped
        zone = s.substr(pct);
        s = s.substr(0, pct);
        std::size_t bad = 0;
        if (zone.size() < 2 || !valid_yang_text(zone, bad) || !all_patterns(t, whole)) return false;
    }
    unsigned char bytes[16];
    if (!address_bytes(v6, s, bytes)) return false;
    scratch.clear();
    address_text(v6, bytes, scratch);
    scratch.append(zone);
    out = scratch == in.text ? in.text : std::string_view(scratch);
    return true;
}

bool prefix_value(const value_type &t, const lexical_value &in, std::string &scratch,
                  std::string_view &out, std::string &why) {
    if (in.kind != lexical_kind::xml_text && in.kind != lexical_kind::json_string) return false;
    std::string_view s = in.kind == lexical_kind::xml_text ? trimmed(in.text) : in.text;
    bool v6 = t.kind == base::ipv6_prefix;
    size_t slash = s.find('/');
    if (slash == std::string_view::npos) return false;
    std::string_view length = s.substr(slash + 1);
    unsigned bits = v6 ? 128 : 32;
    unsigned len = 0;
    auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), len);
    // No sign, no leading zero: the module's pattern writes lengths plainly.
    if (length.empty() || ec != std::errc() || end != length.data() + length.size() || len > bits ||
        (length.size() > 1 && length[0] == '0'))
        return false;
    unsigned char bytes[16];
    if (!address_bytes(v6, s.substr(0, slash), bytes)) return false;
    // The module's canonical form would clear these bits; a route typed with
    // a host address is far more often a mistake than a way of writing its
    // network, so it is refused and the network is named instead.
    for (unsigned b = len; b < bits; ++b) {
        if (bytes[b / 8] & (0x80u >> (b % 8))) {
            for (unsigned z = len; z < bits; ++z) bytes[z / 8] &= ~(0x80u >> (z % 8));
            std::string network;
            address_text(v6, bytes, network);
            why = "has bits set beyond the prefix length (the network is " + network + "/" +
                  std::string(length) + ")";
            return false;
        }
    }
    scratch.clear();
    address_text(v6, bytes, scratch);
    scratch += '/';
    scratch.append(length);
    out = scratch == in.text ? in.text : std::string_view(scratch);
    return true;
}

// The check itself: why is set only for a problem more specific than "is
// not of this type", so that a union can keep its members' specific ones.
bool check(const value_type &t, const lexical_value &in, std::string_view leaf_module,
           std::string &scratch, std::string_view &out, std::string &why) {
    bool ok = false;
    switch (t.kind) {
        case base::integer: ok = integer_value(t, in, scratch, out); break;
        case base::boolean: {
            std::string_view s = in.kind == lexical_kind::xml_text ? trimmed(in.text) : in.text;
            ok = (in.kind == lexical_kind::xml_text || in.kind == lexical_kind::json_boolean) &&
                 (s == "true" || s == "false");
            if (ok) out = s;
            break;
        }
        case base::empty:
            ok = in.kind == lexical_kind::json_empty ||
                 (in.kind == lexical_kind::xml_text && trimmed(in.text).empty());
            if (ok) out = {};
            break;
        case base::string: ok = string_value(t, in, out, why); break;
        case base::identityref: ok = identity_value(t, in, leaf_module, out, why); break;
        case base::ipv4_address:
        case base::ipv6_address: ok = address_value(t, in, scratch, out); break;
        case base::ipv4_prefix:
        case base::ipv6_prefix: ok = prefix_value(t, in, scratch, out, why); break;
        case base::union_of: {
            // The first member that takes the value, in the module's order; the
            // first specific complaint of the others is kept for the message.
            std::string member_why;
            for (std::size_t i = 0; i < t.members.size(); ++i) {
                const value_type &m = *t.members[i];
                member_why.clear();
                if (!check(m, in, leaf_module, scratch, out, member_why)) {
                    if (why.empty()) why = member_why;
                    continue;
                }
                // A JSON string that an earlier number member would take as
                // XML text ("10" for a union of uint32 and hexadecimal text)
                // reaches the plug-in as that text, which it reads as the
                // number: the two encodings would name different values.
                if (in.kind == lexical_kind::json_string && m.kind == base::string)
                    for (std::size_t j = 0; j < i; ++j) {
                        std::string number, ignored;
                        std::string_view as_number;
                        if (t.members[j]->kind != base::integer ||
                            !check(*t.members[j], {in.text, lexical_kind::xml_text, nullptr},
                                   leaf_module, number, as_number, ignored))
                            continue;
                        why =
                            "is a JSON string, so text, which the native side would read as "
                            "the number " +
                            std::string(as_number) +
                            ": give a number as a JSON number, and text in a form that is no "
                            "number";
                        return false;
                    }
                return true;
            }
            break;
        }
    }
    return ok;
}

}  // namespace

bool canonical_value(const value_type &t, const lexical_value &in, std::string_view leaf_module,
                     std::string &scratch, std::string_view &out, std::string &why) {
    why.clear();
    if (check(t, in, leaf_module, scratch, out, why)) {
        why.clear();
        return true;
    }
    if (why.empty()) why = "is not " + t.description;
    return false;
}

}  // namespace yfw_host
