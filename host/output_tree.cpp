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
            } else if (last && key_schema_ && value && at->list_entry && next->value &&
                       *next->value != value) {
                if (out_node *other = entry_named_by_key(at, seg, ns)) {
                    at = other;
                    next = append_child(at, seg, ns);
                    created = true;
                }
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

// The mapping names an existing native entry by adding its key leaves
// before a leaf of it (a metric, say) without adding the entry itself. When
// the newest entry of the list already has all its keys, such an add starts
// a fresh entry carrying the keys before this one in key order, which were
// given before it; the document later merges entries with equal keys.
out_node *output_tree::entry_named_by_key(out_node *entry, std::string_view key, const char *ns) {
    std::vector<const out_node *> chain;
    for (const out_node *n = entry; n->parent != nullptr; n = n->parent) chain.push_back(n);
    const schema_node *s = key_schema_;
    if (chain.empty() || chain.back()->name != s->name) return nullptr;
    for (auto it = chain.rbegin() + 1; it != chain.rend() && s != nullptr; ++it)
        s = s->child((*it)->name);
    if (s == nullptr || s->kind != schema_node::node_kind::list) return nullptr;
    size_t position = s->keys.size();
    for (size_t i = 0; i < s->keys.size(); ++i) {
        const out_node *k = entry->newest_child(s->keys[i]->name);
        if (k == nullptr || !k->value) return nullptr;  // still being named
        if (s->keys[i]->name == key) position = i;
    }
    if (position == s->keys.size()) return nullptr;
    out_node *fresh = append_child(entry->parent, entry->name, ns);
    fresh->list_entry = true;
    for (size_t i = 0; i < position; ++i) {
        const out_node *k = entry->newest_child(s->keys[i]->name);
        append_child(fresh, k->name, k->ns.c_str())->value = k->value;
    }
    return fresh;
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
