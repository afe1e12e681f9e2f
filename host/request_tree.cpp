// Request and data trees from NETCONF XML.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "yfw_host.h"

namespace yfw_host {

std::string input_error::text() const {
    std::string s = file;
    if (line != 0) s += ":" + std::to_string(line) + ":" + std::to_string(column);
    return s + ": " + message;
}

text_positions::text_positions(std::string_view text) {
    for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1))
        breaks_.push_back(at);
}

void text_positions::locate(std::ptrdiff_t offset, input_error &err) const {
    size_t off = offset < 0 ? 0 : static_cast<size_t>(offset);
    auto next = std::lower_bound(breaks_.begin(), breaks_.end(), off);
    size_t line_start = next == breaks_.begin() ? 0 : *(next - 1) + 1;
    err.line = static_cast<unsigned>(next - breaks_.begin()) + 1;
    err.column = static_cast<unsigned>(off - line_start) + 1;
}

const char *operation_name(uint32_t op) {
    switch (op) {
        case YFW_OP_NONE: return "merge";
        case YFW_OP_REPLACE: return "replace";
        case YFW_OP_CREATE: return "create";
        case YFW_OP_DELETE: return "delete";
        case YFW_OP_REMOVE: return "remove";
        default: return "unknown";
    }
}

yfw_map_node *request_tree::alloc_nodes(uint32_t count) {
    if (count == 0) count = 1;
    auto *at = static_cast<yfw_map_node *>(
        arena_.allocate(count * sizeof(yfw_map_node), alignof(yfw_map_node)));
    std::uninitialized_value_construct_n(at, count);
    return at;
}

const char *request_tree::keep(std::string_view text) {
    auto *at = static_cast<char *>(arena_.allocate(text.size() + 1, 1));
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    return at;
}

yfw_map_node *request_tree::add_leaf(yfw_map_node *parent, const char *tag, const char *ns,
                                     const char *value) {
    // The old array is kept, not freed: walkers may still hold pointers to
    // its nodes. Growing by doubling keeps repeated adds cheap.
    if (parent->children == nullptr || parent->child_count >= parent->host_capacity) {
        uint32_t cap = parent->child_count < 4 ? 4 : parent->child_count * 2;
        yfw_map_node *fresh = alloc_nodes(cap);
        for (uint32_t i = 0; i < parent->child_count; ++i) fresh[i] = parent->children[i];
        parent->children = fresh;
        parent->host_capacity = cap;
    }
    yfw_map_node *leaf = &parent->children[parent->child_count++];
    *leaf = yfw_map_node{};
    leaf->tag = keep(tag ? tag : "");
    leaf->ns = ns ? keep(ns) : nullptr;
    if (value) {
        leaf->value = keep(value);
        leaf->flags |= YFW_NODE_HAS_VALUE;
    }
    leaf->host_bits = parent->host_bits;
    parent->flags |= YFW_NODE_CHILDREN_VALID;
    return leaf;
}

namespace {

struct ns_binding {
    std::string_view prefix;  // empty: default namespace
    const char *uri;
};

struct builder {
    request_tree &tree;
    const std::string &file;
    const text_positions &positions;
    bool edit;
    input_error &err;
    std::vector<ns_binding> scope;

    void position(ptrdiff_t offset) { positions.locate(offset, err); }

    bool fail(const pugi::xml_node &at, std::string msg) {
        err.file = file;
        position(at.offset_debug());
        err.message = std::move(msg);
        return false;
    }

    const char *lookup(std::string_view prefix) const {
        for (auto it = scope.rbegin(); it != scope.rend(); ++it)
            if (it->prefix == prefix) return it->uri;
        return nullptr;
    }

    static std::string_view prefix_of(const char *qname) {
        const char *colon = std::strchr(qname, ':');
        return colon ? std::string_view(qname, colon - qname) : std::string_view();
    }
    static const char *local_of(const char *qname) {
        const char *colon = std::strchr(qname, ':');
        return colon ? colon + 1 : qname;
    }

    // Pushes the element's namespace declarations; returns how many.
    size_t push_declarations(const pugi::xml_node &el) {
        size_t n = 0;
        for (auto a : el.attributes()) {
            const char *name = a.name();
            if (std::strcmp(name, "xmlns") == 0) {
                scope.push_back({std::string_view(), a.value()});
                ++n;
            } else if (std::strncmp(name, "xmlns:", 6) == 0) {
                scope.push_back({std::string_view(name + 6), a.value()});
                ++n;
            }
        }
        return n;
    }

    const char *namespace_of(const pugi::xml_node &el) {
        std::string_view p = prefix_of(el.name());
        const char *uri = lookup(p);
        if (uri == nullptr && !p.empty()) {
            fail(el, "undeclared namespace prefix '" + std::string(p) + "' on <" + el.name() + ">");
            return nullptr;
        }
        return uri ? uri : "";
    }

    bool parse_operation(const pugi::xml_node &el, uint32_t &op) {
        op = YFW_OP_NONE;
        for (auto a : el.attributes()) {
            const char *name = a.name();
            if (std::strcmp(local_of(name), "operation") != 0) continue;
            std::string_view p = prefix_of(name);
            const char *uri = p.empty() ? nullptr : lookup(p);
            if (uri == nullptr || std::strcmp(uri, netconf_namespace) != 0) continue;
            std::string_view v = a.value();
            if (v == "merge")
                op = YFW_OP_NONE;
            else if (v == "replace")
                op = YFW_OP_REPLACE;
            else if (v == "create")
                op = YFW_OP_CREATE;
            else if (v == "delete")
                op = YFW_OP_DELETE;
            else if (v == "remove")
                op = YFW_OP_REMOVE;
            else
                return fail(el, "invalid operation '" + std::string(v) + "' on <" + el.name() +
                                    "> (expected merge, replace, create, delete or remove)");
        }
        return true;
    }

    // Identity values are written with whatever prefix the document bound to
    // the module; the mapping compares them in the module's own prefix.
    //
    // Without a prefix an identity belongs to the element's default
    // namespace. `next-hop` is the module's only leaf whose type admits its
    // identities (next to addresses), and no address has these names, so
    // there the bare names are the identities; in any other leaf (an index
    // called "DROP", say) they are plain strings and stay as written.
    const char *normalise_value(const char *value, const char *tag) {
        const char *colon = std::strchr(value, ':');
        if (colon == nullptr) {
            bool identity =
                std::strcmp(value, "DROP") == 0 || std::strcmp(value, "LOCAL_LINK") == 0;
            const char *uri = lookup({});
            if (identity && std::strcmp(tag, "next-hop") == 0 && uri != nullptr &&
                std::strcmp(uri, oc_namespace) == 0)
                return tree.keep(std::string(oc_module_prefix) + ":" + value);
            return value;
        }
        std::string_view p(value, colon - value);
        const char *uri = lookup(p);
        if (uri != nullptr && std::strcmp(uri, oc_namespace) == 0 && p != oc_module_prefix)
            return tree.keep(std::string(oc_module_prefix) + colon);
        return value;
    }

    // What build() refuses, in the same order, without building anything:
    // for documents another reader turns into its own tree.
    bool check(const pugi::xml_node &el, unsigned depth) {
        if (depth > 64) return fail(el, "elements nested deeper than 64 levels");
        size_t pushed = push_declarations(el);
        uint32_t op = YFW_OP_NONE;
        if (namespace_of(el) == nullptr || !parse_operation(el, op)) return false;
        bool has_element = false;
        bool has_text = *el.value() != '\0';  // text that came first (parse_embed_pcdata)
        for (auto c : el.children()) {
            if (c.type() == pugi::node_element)
                has_element = true;
            else if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
                has_text = true;
        }
        if (has_element && has_text)
            return fail(el, std::string("<") + el.name() + "> mixes text and elements");
        for (auto c = el.first_child(); has_element && c; c = c.next_sibling())
            if (c.type() == pugi::node_element && !check(c, depth + 1)) return false;
        scope.resize(scope.size() - pushed);
        return true;
    }

    bool build(const pugi::xml_node &el, yfw_map_node &out, unsigned depth) {
        // Real requests are a dozen levels deep; a much deeper document is an
        // attack on the stack, not a request.
        if (depth > 64) return fail(el, "elements nested deeper than 64 levels");
        size_t pushed = push_declarations(el);
        out = yfw_map_node{};
        out.tag = local_of(el.name());
        out.ns = namespace_of(el);
        if (out.ns == nullptr) return false;
        if (!parse_operation(el, out.operation)) return false;
        if (edit) out.host_bits |= YFW_HOST_EDIT_REQUEST;

        uint32_t count = 0;
        bool has_text = *el.value() != '\0';  // text that came first (parse_embed_pcdata)
        for (auto c : el.children()) {
            if (c.type() == pugi::node_element)
                ++count;
            else if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
                has_text = true;
        }
        if (count > 0) {
            if (has_text)
                return fail(el, std::string("<") + el.name() + "> mixes text and elements");
            yfw_map_node *kids = tree.alloc_nodes(count);
            uint32_t i = 0;
            for (auto c : el.children()) {
                if (c.type() != pugi::node_element) continue;
                if (!build(c, kids[i++], depth + 1)) return false;
            }
            out.children = kids;
            out.child_count = count;
            out.host_capacity = count;
            out.flags |= YFW_NODE_CHILDREN_VALID;
        } else if (has_text) {
            out.value = normalise_value(el.child_value(), out.tag);
            out.flags |= YFW_NODE_HAS_VALUE;
        }
        scope.resize(scope.size() - pushed);
        return true;
    }
};

}  // namespace

namespace {

// Whether "&REF;" names something that exists without a DOCTYPE: one of the
// five predefined entities, or a character reference to an XML character.
bool valid_reference(std::string_view ref) {
    if (ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos") return true;
    if (ref.size() < 2 || ref[0] != '#') return false;
    bool hex = ref[1] == 'x';
    std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t c = 0;
    for (char d : digits) {
        int v = d >= '0' && d <= '9'          ? d - '0'
                : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                              : -1;
        if (v < 0) return false;
        c = c * (hex ? 16 : 10) + static_cast<uint32_t>(v);
    }
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) ||
           (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

// pugixml keeps an undefined entity reference in the text as written and
// turns "&#0;" into a NUL that silently ends the value; XML calls both
// malformed. Returns the offset of the first bad reference outside comments,
// CDATA sections and processing instructions, or npos.
size_t first_bad_reference(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string_view::npos;
    for (size_t i = 0; i < text.size();) {
        size_t at = text.find_first_of("&<", i);
        if (at == std::string_view::npos) break;
        if (text[at] == '<') {
            std::string_view rest = text.substr(at);
            std::string_view close = rest.starts_with("<![CDATA[") ? "]]>"
                                     : rest.starts_with("<!--")    ? "-->"
                                     : rest.starts_with("<?")      ? "?>"
                                                                   : "";
            size_t end = close.empty() ? at : text.find(close, at);
            if (end == std::string_view::npos) break;
            i = end + (close.empty() ? 1 : close.size());
            continue;
        }
        size_t semi = text.find(';', at);
        if (semi == std::string_view::npos || semi - at > 12 ||
            !valid_reference(text.substr(at + 1, semi - at - 1)))
            return at;
        i = semi + 1;
    }
    return std::string_view::npos;
}

}  // namespace

namespace {

// Parses the document into doc and finds the root element: the document
// element itself, or a child of a wrapper (config, filter, data, in any
// namespace). The builder's scope then holds the wrapper's declarations.
pugi::xml_node parse_and_find_root(pugi::xml_document &doc, builder &b, std::string &text,
                                   const char *root_name, const char *root_ns) {
    input_error &err = b.err;
    // Looked for before the parser decodes the references in place; it is
    // reported after what the parser itself refuses.
    size_t bad = first_bad_reference(text);
    std::string bad_ref;
    if (bad != std::string::npos) {
        size_t semi = text.find(';', bad);
        bad_ref =
            text.substr(bad, semi == std::string::npos || semi - bad > 12 ? 1 : semi - bad + 1);
    }
    // DOCTYPE declarations are refused outright: the requests have no use
    // for them and they are how entity tricks get in. An element's text
    // that comes before any child is kept as the element's value instead of
    // a node of its own: every leaf has some, and that halves the parser's
    // nodes for the documents this reads.
    unsigned options = pugi::parse_default | pugi::parse_doctype | pugi::parse_embed_pcdata;
    pugi::xml_parse_result res =
        doc.load_buffer_inplace(text.data(), text.size(), options, pugi::encoding_utf8);
    if (!res) {
        err.file = b.file;
        b.position(res.offset);
        err.message = std::string("malformed XML: ") + res.description();
        return {};
    }
    for (auto n : doc.children()) {
        if (n.type() == pugi::node_doctype) {
            b.fail(n, "DOCTYPE declarations are not accepted");
            return {};
        }
    }
    if (bad != std::string::npos) {
        err.file = b.file;
        b.position(static_cast<ptrdiff_t>(bad));
        err.message = "malformed XML: '" + bad_ref +
                      "' is no predefined entity or character reference (write '&amp;' for '&')";
        return {};
    }
    pugi::xml_node top = doc.document_element();
    if (!top) {
        err.file = b.file;
        err.message = "no document element";
        return {};
    }

    auto matches = [&](const pugi::xml_node &el) {
        if (std::strcmp(builder::local_of(el.name()), root_name) != 0) return false;
        size_t pushed = b.push_declarations(el);
        const char *uri = b.lookup(builder::prefix_of(el.name()));
        b.scope.resize(b.scope.size() - pushed);
        return uri != nullptr && std::strcmp(uri, root_ns) == 0;
    };
    if (matches(top)) return top;
    pugi::xml_node root;
    b.push_declarations(top);
    for (auto c : top.children()) {
        if (c.type() == pugi::node_element && matches(c)) {
            if (root) {
                b.fail(c, std::string("more than one <") + root_name + ">");
                return {};
            }
            root = c;
        }
    }
    if (!root)
        b.fail(top, std::string("no <") + root_name + "> in namespace " + root_ns +
                        " at the top or under <" + top.name() + ">");
    return root;
}

}  // namespace

std::optional<request_tree> request_tree::from_xml(std::string_view text, const std::string &file,
                                                   const char *root_name, const char *root_ns,
                                                   bool edit, input_error &err) {
    return from_xml_in_place(std::string(text), file, root_name, root_ns, edit, err);
}

std::optional<request_tree> request_tree::from_xml_in_place(std::string &&text,
                                                            const std::string &file,
                                                            const char *root_name,
                                                            const char *root_ns, bool edit,
                                                            input_error &err) {
    request_tree tree;
    // Parsed in place in the text the tree keeps: names and values then
    // point into it, and the parser's own nodes (more than twice the size
    // of the text) are freed as soon as the tree is built.
    auto owned = std::make_shared<std::string>(std::move(text));
    const text_positions at(*owned);
    pugi::xml_document doc;
    builder b{tree, file, at, edit, err, {}};
    pugi::xml_node root = parse_and_find_root(doc, b, *owned, root_name, root_ns);
    if (!root) return std::nullopt;
    tree.root_ = tree.alloc_nodes(1);
    if (!b.build(root, *tree.root_, 1)) return std::nullopt;
    tree.hold(std::move(owned));
    return tree;
}

pugi::xml_node request_tree::checked_xml_root(pugi::xml_document &doc, std::string &text,
                                              const text_positions &at, const std::string &file,
                                              const char *root_name, const char *root_ns,
                                              input_error &err) {
    request_tree unused;
    builder b{unused, file, at, false, err, {}};
    pugi::xml_node root = parse_and_find_root(doc, b, text, root_name, root_ns);
    if (!root || !b.check(root, 1)) return {};
    return root;
}

}  // namespace yfw_host
