// Writing documents, XML or RFC 7951 JSON, from either kind of tree: the
// data trees of the store and the output trees the plug-in builds (bound
// and merged by output_tree::document_of), so an answer of a million routes
// is written from the nodes the walk made instead of from a copy.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "data_tree.h"

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;

std::string_view value_of(const data_node &n) {
    return n.value();
}
std::string_view value_of(const out_node &n) {
    return n.value().value_or(std::string_view());
}
uint32_t op_of(const data_node &n) {
    return n.op == no_operation ? uint32_t{YFW_OP_NONE} : n.op;
}
uint32_t op_of(const out_node &n) {
    return n.op().value_or(uint32_t{YFW_OP_NONE});
}
const data_node &node_of(const data_node *p) {
    return *p;
}
data_children kids(const data_node &n) {
    return n.children();
}
const out_children &kids(const out_node &n) {
    return n.children;
}
const out_node &node_of(const out_node *p) {
    return *p;
}

constexpr const char *oc_prefix_colon = "oc-loc-rt:";

template <class Node>
bool is_identity_text(const Node &n) {
    value_class c = n.schema->value;
    return (c == value_class::identity || c == value_class::string_or_identity) &&
           value_of(n).rfind(oc_prefix_colon, 0) == 0;
}

// Documents of a million routes run to hundreds of megabytes: written to a
// file, the text goes out in pieces instead of being held whole.
void spill(std::string &out, std::FILE *file) {
    constexpr std::size_t piece = 1 << 20;
    if (file == nullptr || out.size() < piece) return;
    std::fwrite(out.data(), 1, out.size(), file);
    out.clear();
}

// The prefixes a document uses: nc for operations, oc-loc-rt for identity
// values. They are declared once, on the root element, instead of on each
// of the thousands of elements that may use them.
struct xml_prefixes {
    bool nc = false;
    bool oc = false;
};

template <class Node>
void find_prefixes(const Node &n, bool ops, xml_prefixes &p) {
    if (ops && op_of(n) != YFW_OP_NONE) p.nc = true;
    if (n.schema->is_leaf()) {
        p.oc = p.oc || is_identity_text(n);
        return;
    }
    for (const auto &c : kids(n)) {
        if (p.oc && (p.nc || !ops)) return;
        find_prefixes(node_of(c), ops, p);
    }
}

void put_indent(std::string &out, int depth) {
    static constexpr char spaces[] =
        "                                                                ";
    std::size_t n = static_cast<std::size_t>(depth) * 2;
    for (; n > sizeof spaces - 1; n -= sizeof spaces - 1) out.append(spaces, sizeof spaces - 1);
    out.append(spaces, n);
}

// The start tag of n at depth, up to its '>' (or "/>" when it has no
// content). Almost every element has neither a namespace of its own nor an
// attribute and sits at its schema depth: its tag is written whole as the
// schema node keeps it.
template <class Node>
void xml_start_tag(std::string &out, const Node &n, const char *parent_ns, int depth, bool ops,
                   const xml_prefixes *declare, bool empty) {
    const schema_node &s = *n.schema;
    const bool same_ns =
        parent_ns == s.ns || (parent_ns != nullptr && std::strcmp(parent_ns, s.ns) == 0);
    if (same_ns && declare == nullptr && !(ops && op_of(n) != YFW_OP_NONE) && depth == s.depth) {
        if (!empty) {
            out += s.xml_open;
            return;
        }
        out.append(s.xml_open, 0, s.xml_open.size() - 1);
        out += "/>";
        return;
    }
    put_indent(out, depth);
    out += '<';
    out += s.name;
    if (!same_ns) {
        out += " xmlns=\"";
        xml_escape(out, s.ns, true);
        out += '"';
    }
    if (declare != nullptr && declare->nc) {
        out += " xmlns:nc=\"";
        out += netconf_namespace;
        out += '"';
    }
    if (declare != nullptr && declare->oc) {
        out += " xmlns:oc-loc-rt=\"";
        out += oc_namespace;
        out += '"';
    }
    if (ops && op_of(n) != YFW_OP_NONE) {
        out += " nc:operation=\"";
        out += operation_name(op_of(n));
        out += '"';
    }
    out += empty ? "/>" : ">";
}

// declare: the prefixes to declare here, on the root element only.
template <class Node>
void xml_node(std::string &out, const Node &n, const char *parent_ns, int depth, bool ops,
              const xml_prefixes *declare, std::FILE *file) {
    const schema_node &s = *n.schema;
    if (s.is_leaf()) {
        std::string_view v = value_of(n);
        xml_start_tag(out, n, parent_ns, depth, ops, declare, v.empty());
        if (v.empty()) {
            out += '\n';
            return;
        }
        xml_escape(out, v, false);
        out += s.xml_close;
        return;
    }
    xml_start_tag(out, n, parent_ns, depth, ops, declare, kids(n).empty());
    out += '\n';
    if (kids(n).empty()) return;
    for (const auto &c : kids(n)) {
        xml_node(out, node_of(c), s.ns, depth + 1, ops, nullptr, file);
        spill(out, file);
    }
    if (depth == s.depth) {
        out += s.xml_close_block;
        return;
    }
    put_indent(out, depth);
    out += s.xml_close;
}

template <class Node>
void xml_document(std::string &out, const Node &root, bool ops, std::FILE *file) {
    xml_prefixes used;
    find_prefixes(root, ops, used);
    xml_node(out, root, nullptr, 0, ops, &used, file);
}

void json_string(std::string &out, std::string_view s) {
    out += '"';
    // Runs without a character to escape are copied whole.
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
        }
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

bool is_integer_text(std::string_view v) {
    if (!v.empty() && v[0] == '-') v.remove_prefix(1);
    if (v.empty() || v.size() > 10 || (v.size() > 1 && v[0] == '0')) return false;
    return std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

template <class Node>
void json_value(std::string &out, const Node &n) {
    std::string_view v = value_of(n);
    switch (n.schema->value) {
        case value_class::number:
        case value_class::number_or_string:
            if (is_integer_text(v)) {
                out += v;
                return;
            }
            break;
        case value_class::boolean:
            if (v == "true" || v == "false") {
                out += v;
                return;
            }
            break;
        case value_class::empty: out += "[null]"; return;
        case value_class::identity:
        case value_class::string_or_identity:
            if (is_identity_text(n)) {
                json_string(out, std::string(oc_module_name) + ":" +
                                     std::string(v.substr(std::strlen(oc_prefix_colon))));
                return;
            }
            break;
        case value_class::string: break;
    }
    json_string(out, v);
}

void indent(std::string &out, int depth) {
    out += '\n';
    out.append(static_cast<size_t>(depth) * 2, ' ');
}

void json_operation(std::string &out, uint32_t op) {
    out += "{\"ietf-netconf:operation\": ";
    json_string(out, operation_name(op));
    out += '}';
}

template <class Node>
bool has_op(const Node &n, bool ops) {
    return ops && op_of(n) != YFW_OP_NONE;
}

std::string member_name(const schema_node &s, const char *parent_module) {
    if (parent_module && std::strcmp(parent_module, s.module) == 0) return s.name;
    return std::string(s.module) + ":" + s.name;
}

template <class Node>
void json_object(std::string &out, const Node &n, int depth, bool ops, std::FILE *file);

// The members of n's children; entries of one list become one array.
template <class Node>
void json_members(std::string &out, const Node &n, int depth, bool ops, bool first,
                  std::FILE *file) {
    auto it = kids(n).begin();
    const auto end = kids(n).end();
    while (it != end) {
        const Node &c = node_of(*it);
        if (!first) out += ',';
        first = false;
        indent(out, depth);
        json_string(out, member_name(*c.schema, n.schema->module));
        out += ": ";
        if (c.schema->kind == kind::list || c.schema->kind == kind::leaf_list) {
            out += '[';
            for (bool first_item = true; it != end && node_of(*it).schema == c.schema; ++it) {
                if (!first_item) out += ',';
                first_item = false;
                indent(out, depth + 1);
                if (c.schema->kind == kind::list)
                    json_object(out, node_of(*it), depth + 1, ops, file);
                else
                    json_value(out, node_of(*it));
            }
            indent(out, depth);
            out += ']';
            continue;
        }
        if (c.schema->is_leaf()) {
            json_value(out, c);
            if (has_op(c, ops)) {
                out += ',';
                indent(out, depth);
                json_string(out, "@" + c.schema->name);
                out += ": ";
                json_operation(out, op_of(c));
            }
        } else {
            json_object(out, c, depth, ops, file);
        }
        ++it;
    }
}

template <class Node>
void json_object(std::string &out, const Node &n, int depth, bool ops, std::FILE *file) {
    out += '{';
    bool first = true;
    if (has_op(n, ops)) {
        indent(out, depth + 1);
        out += "\"@\": ";
        json_operation(out, op_of(n));
        first = false;
    }
    json_members(out, n, depth + 1, ops, first, file);
    spill(out, file);
    if (!kids(n).empty() || !first) indent(out, depth);
    out += '}';
}

template <class Node>
void json_document(std::string &out, const Node &root, bool ops, std::FILE *file) {
    out += '{';
    indent(out, 1);
    json_string(out, member_name(*root.schema, nullptr));
    out += ": ";
    json_object(out, root, 1, ops, file);
    out += "\n}\n";
}

template <class Node>
std::string document_text(const Node &root, doc_format f, bool ops) {
    std::string out;
    if (f == doc_format::json)
        json_document(out, root, ops, nullptr);
    else
        xml_document(out, root, ops, nullptr);
    return out;
}

template <class Node>
bool write_to(const Node &root, doc_format f, bool ops, std::FILE *file) {
    std::string out;
    out.reserve(2 << 20);
    if (f == doc_format::json)
        json_document(out, root, ops, file);
    else
        xml_document(out, root, ops, file);
    std::fwrite(out.data(), 1, out.size(), file);
    return std::fflush(file) == 0 && !std::ferror(file);
}

}  // namespace

streamed_document::streamed_document(const schema_node &list, doc_format f, std::FILE *file)
    : format_(f), file_(file) {
    for (const schema_node *s = list.parent; s != nullptr; s = s->parent)
        ancestors_.insert(ancestors_.begin(), s);
    list_ = &list;
    text_.reserve(2 << 20);
}

void streamed_document::open() {
    int depth = 0;
    for (const schema_node *s : ancestors_) {
        if (format_ == doc_format::json) {
            if (depth == 0) {
                text_ += '{';
                indent(text_, 1);
                json_string(text_, member_name(*s, nullptr));
            } else {
                indent(text_, depth + 1);
                json_string(text_, member_name(*s, s->parent->module));
            }
            text_ += ": {";
        } else {
            text_.append(static_cast<size_t>(depth) * 2, ' ');
            text_ += '<';
            text_ += s->name;
            if (depth == 0) {
                // Whether an identity value comes is known only at the end;
                // its prefix is declared up front.
                text_ += " xmlns=\"";
                xml_escape(text_, s->ns, true);
                text_ += "\" xmlns:oc-loc-rt=\"";
                text_ += oc_namespace;
                text_ += '"';
            }
            text_ += ">\n";
        }
        ++depth;
    }
    if (format_ == doc_format::json) {
        indent(text_, depth + 1);
        json_string(text_, member_name(*list_, list_->parent->module));
        text_ += ": [";
    }
    opened_ = true;
}

void streamed_document::write_entry(const out_node &entry) {
    if (!opened_) open();
    const int depth = static_cast<int>(ancestors_.size());
    if (format_ == doc_format::json) {
        if (entries_ > 0) text_ += ',';
        indent(text_, depth + 2);
        json_object(text_, entry, depth + 2, false, nullptr);
    } else {
        xml_node(text_, entry, entry.schema->ns, depth, false, nullptr, nullptr);
    }
    ++entries_;
    spill(text_, file_);
}

bool streamed_document::close() {
    if (opened_) {
        const int depth = static_cast<int>(ancestors_.size());
        if (format_ == doc_format::json) {
            indent(text_, depth + 1);
            text_ += ']';
            for (int d = depth; d >= 1; --d) {
                indent(text_, d);
                text_ += '}';
            }
            text_ += "\n}\n";
        } else {
            for (int d = depth - 1; d >= 0; --d) {
                text_.append(static_cast<size_t>(d) * 2, ' ');
                text_ += "</";
                text_ += ancestors_[static_cast<size_t>(d)]->name;
                text_ += ">\n";
            }
        }
    }
    std::fwrite(text_.data(), 1, text_.size(), file_);
    text_.clear();
    return std::fflush(file_) == 0 && !std::ferror(file_);
}

std::string to_xml(const data_node &root, bool with_operations) {
    return document_text(root, doc_format::xml, with_operations);
}

std::string to_json(const data_node &root, bool with_operations) {
    return document_text(root, doc_format::json, with_operations);
}

std::string write_document(const data_node &root, doc_format f, bool with_operations) {
    return document_text(root, f, with_operations);
}

std::string write_document(const out_node &root, doc_format f, bool with_operations) {
    return document_text(root, f, with_operations);
}

bool write_document(const data_node &root, doc_format f, bool with_operations, std::FILE *file) {
    return write_to(root, f, with_operations, file);
}

bool write_document(const out_node &root, doc_format f, bool with_operations, std::FILE *file) {
    return write_to(root, f, with_operations, file);
}

}  // namespace yfw_host
