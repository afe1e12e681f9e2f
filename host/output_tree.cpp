// The output tree: the record of every add and the document they build.
#include <cstring>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

out_node *out_node::newest_child(std::string_view n) const {
    for (const auto &[name, node] : newest)
        if (name == n) return node;
    return nullptr;
}

output_tree::output_tree() {
    root_.name = "";
}

namespace {

out_node *append_child(out_node *parent, std::string_view name, const char *ns) {
    auto child = std::make_unique<out_node>();
    child->name = std::string(name);
    child->ns = ns ? ns : "";
    child->parent = parent;
    out_node *raw = child.get();
    parent->children.push_back(std::move(child));
    // The index's view must point at storage that lives as long as the node.
    std::string_view key = raw->name;
    for (auto &entry : parent->newest) {
        if (entry.first == name) {
            entry = {key, raw};
            return raw;
        }
    }
    parent->newest.emplace_back(key, raw);
    return raw;
}

}  // namespace

ymap_result output_tree::add(const char *path, const char *ns, const char *value,
                             const yfw_map_node *req_node, int flag1, int flag2) {
    if (path == nullptr || path[0] != '/') return YMAP_ERR_INVALID_ARGS;
    if (record_) {
        output_add a;
        a.path = path;
        a.ns = ns ? ns : "";
        if (value) a.value = value;
        a.flag1 = flag1;
        a.flag2 = flag2;
        if (req_node) a.bound_op = req_node->operation;
        adds_.push_back(std::move(a));
    }

    out_node *at = &root_;
    std::string_view rest(path + 1);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view seg = rest.substr(0, slash);
        bool last = slash == std::string_view::npos;
        rest = last ? std::string_view() : rest.substr(slash + 1);
        if (seg.empty()) continue;
        out_node *next = nullptr;
        bool created = false;
        if (last && flag1 == 1) {
            next = append_child(at, seg, ns);
            next->list_entry = true;
            created = true;
        } else {
            next = at->newest_child(seg);
            if (next == nullptr) {
                next = append_child(at, seg, ns);
                created = true;
            }
        }
        if (last) {
            if (value) next->value = value;
            // A node reached again by another bound add keeps both meanings:
            // removed and then added again is a replace.
            if (req_node)
                next->op = created || !next->op
                               ? req_node->operation
                               : combine_operations(*next->op, req_node->operation);
        }
        at = next;
    }
    if (record_) adds_.back().node = at;
    return YMAP_OK;
}

void xml_escape(std::string &out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"':
                if (attribute)
                    out += "&quot;";
                else
                    out += c;
                break;
            default: out += c;
        }
    }
}

std::string format_add(const output_add &a) {
    std::string s = "add " + a.path;
    if (a.value) s += " = " + *a.value;
    if (a.flag1 == 1) s += " entry";
    if (a.bound_op) s += std::string(" bound:") + operation_name(*a.bound_op);
    return s;
}

namespace {

void render(std::string &out, const out_node &n, const std::string &parent_ns, int depth,
            bool with_operations) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += "<" + n.name;
    if (n.ns != parent_ns) {
        out += " xmlns=\"";
        xml_escape(out, n.ns, true);
        out += "\"";
    }
    if (with_operations && n.op && *n.op != YFW_OP_NONE) {
        out += " xmlns:nc=\"";
        out += netconf_namespace;
        out += "\" nc:operation=\"";
        out += operation_name(*n.op);
        out += "\"";
    }
    if (n.children.empty()) {
        if (n.value && !n.value->empty()) {
            out += ">";
            xml_escape(out, *n.value, false);
            out += "</" + n.name + ">\n";
        } else {
            out += "/>\n";
        }
        return;
    }
    out += ">\n";
    for (const auto &c : n.children) render(out, *c, n.ns, depth + 1, with_operations);
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += "</" + n.name + ">\n";
}

}  // namespace

std::string output_tree::to_xml(bool with_operations) const {
    std::string out;
    for (const auto &c : root_.children) render(out, *c, std::string(), 0, with_operations);
    return out;
}

}  // namespace yfw_host
