// The two YANG modules as the host needs them: node names, kinds, list
// keys, the order of children and how leaf values are typed. Documents we
// write (the store, edit output, OpenConfig data) and the store's edits are
// checked and ordered against it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_limits.h"

struct lysc_node;

namespace yfw_host {

// How a leaf's value is encoded in JSON (RFC 7951) and checked.
enum class value_class : uint8_t {
    string,              // JSON string
    number,              // 8, 16 and 32-bit integers: JSON number
    boolean,             // true / false
    empty,               // [null]
    identity,            // "module:NAME"
    number_or_string,    // a union of an integer type and other types
    string_or_identity,  // a union of text types and an identity
};

struct value_type;

struct schema_node {
    enum class node_kind : uint8_t { container, list, leaf, leaf_list };

    std::string name;
    const char *ns = nullptr;      // the module's namespace
    const char *module = nullptr;  // the module's name, as JSON qualifies members
    node_kind kind = node_kind::container;
    bool is_key = false;
    bool config = true;        // false under "config false": state data
    bool lists_below = false;  // some descendant is a list
    value_class value = value_class::string;
    const value_type *type = nullptr;  // leaves
    leaf_limit limit = leaf_limit::none;
    entry_limit entry = entry_limit::none;
    uint16_t order = 0;  // position among the parent's children
    uint16_t depth = 0;  // 0 for a module's top node
    const schema_node *parent = nullptr;
    // What a document writer writes for every node of this kind, made once:
    // the pretty-printed XML start tag at this node's depth ("    <name>"),
    // its end tag on its own line ("    </name>\n") and after a value
    // ("</name>\n"), and the JSON member name ("\"name\": ", qualified by
    // the module where RFC 7951 wants it).
    std::string xml_open, xml_close_block, xml_close, json_member;
    std::vector<std::unique_ptr<schema_node>> children;
    std::vector<const schema_node *> keys;  // lists, in key order
    const lysc_node *ly = nullptr;

    const schema_node *child(std::string_view n) const;
    bool is_leaf() const { return kind == node_kind::leaf || kind == node_kind::leaf_list; }
    // "/router-static/default-vrf/..." without keys.
    std::string path() const;
};

class yang_schema {
public:
    // Compiled once per process from the module texts built into the host.
    static const yang_schema &get();

    const schema_node &native_root() const { return *native_; }
    const schema_node &oc_root() const { return *oc_; }
    // The root node of the module with this namespace and root name, or null.
    const schema_node *root(std::string_view ns, std::string_view name) const;

    // Empty when the value is valid for the leaf, in canonical form and
    // within the leaf's limit, else why not. For values the host did not
    // read from a document itself (what the plug-in writes into an edit).
    std::string check_value(const schema_node &leaf, std::string_view value) const;

    yang_schema(const yang_schema &) = delete;
    yang_schema &operator=(const yang_schema &) = delete;
    ~yang_schema();

private:
    yang_schema();
    struct impl;
    std::unique_ptr<impl> impl_;
    std::unique_ptr<schema_node> native_;
    std::unique_ptr<schema_node> oc_;
};

// Module names and namespaces of the modules documents may use.
const char *namespace_of_module(std::string_view module);
const char *module_of_namespace(std::string_view ns);
inline constexpr const char *oc_module_name = "openconfig-local-routing";
inline constexpr const char *native_module_name = "Velmo-Ornat-ip-static-cfg";
inline constexpr const char *netconf_module_name = "ietf-netconf";

}  // namespace yfw_host
