// Leaf types compiled once from the YANG modules, and the check that turns
// a value as a document wrote it into its canonical text. Every value that
// enters the host (requests, filters, stores, native data) goes through
// here, so keys compare equal exactly when they name the same thing and
// what is stored reads back the way it was meant.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct lysc_type;
struct lysc_pattern;

namespace yfw_host {

// How a value was written.
enum class lexical_kind : uint8_t {
    xml_text,      // an XML element's text
    json_string,   // a JSON string
    json_number,   // a JSON number, as written
    json_boolean,  // true or false
    json_empty,    // [null]
};

// Resolves an XML prefix (empty: the default namespace) to the namespace it
// is bound to, for identity values; null when it is not declared.
class prefix_scope {
public:
    virtual const char *namespace_of(std::string_view prefix) const = 0;

protected:
    ~prefix_scope() = default;
};

struct lexical_value {
    std::string_view text;
    lexical_kind kind = lexical_kind::xml_text;
    const prefix_scope *scope = nullptr;  // XML: where identity prefixes are looked up
};

// A leaf's type as the checks need it: the built-in type with its ranges,
// lengths and patterns, the identities an identityref admits, the members
// of a union, and the address and prefix types of ietf-inet-types, which
// are checked by parsing rather than by their long patterns.
struct value_type_set;

struct value_type {
    enum class base : uint8_t {
        integer,
        boolean,
        empty,
        string,
        identityref,
        ipv4_address,
        ipv6_address,
        ipv4_prefix,
        ipv6_prefix,
        union_of,
    };
    struct identity {
        std::string module;     // the identity's module
        std::string ns;         // its namespace
        std::string name;       // without prefix
        std::string canonical;  // "module-prefix:name", as the plug-in compares it
    };

    base kind = base::string;
    bool is_signed = false;
    bool zone = false;  // addresses: a zone index may follow
    std::vector<std::pair<int64_t, int64_t>> signed_ranges;
    std::vector<std::pair<uint64_t, uint64_t>> unsigned_ranges;  // integers; lengths of strings
    std::vector<const lysc_pattern *> patterns;
    std::vector<identity> identities;
    std::vector<const value_type *> members;
    std::string description;  // "an integer from 0 to 4294967295", for messages

    // Compiles a libyang type (leafrefs followed to their real type), once
    // per type however many leaves use it. The result lives as long as
    // `owner`, which also keeps union members.
    static const value_type *compile(const lysc_type *t, value_type_set &owner);
};

// The compiled types of a schema, by the libyang type they come from.
struct value_type_set {
    std::vector<std::unique_ptr<value_type>> all;
    std::unordered_map<const lysc_type *, const value_type *> by_type;
};

// Checks a value against its type. On success out is its canonical text:
// a view of in.text when that already is canonical, else of scratch. On
// failure returns false and why says what is wrong ("is not an IPv4
// address"). leaf_module is the module of the leaf, whose identities JSON
// may name without the module.
bool canonical_value(const value_type &t, const lexical_value &in, std::string_view leaf_module,
                     std::string &scratch, std::string_view &out, std::string &why);

// Whether text is well-formed UTF-8 made only of characters a YANG string
// may hold (the characters XML allows); else false with the byte offset.
bool valid_yang_text(std::string_view text, std::size_t &bad_offset);

}  // namespace yfw_host
