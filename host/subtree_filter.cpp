// The plug-in's reads name native data by paths that can be wider than the
// filter asked for (a route's tag is read for every route of both address
// families, say). The answer is cut down to the filter here, once, as a
// NETCONF server does, instead of every mapping callback having to be exact.
#include "subtree_filter.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace yfw_host {

namespace {

std::string_view value_of(const data_node &n) {
    return n.value();
}
std::string_view value_of(const out_node &n) {
    return n.value().value_or(std::string_view());
}
data_node &node_of(data_node *p) {
    return *p;
}
data_children kids(const data_node &n) {
    return n.children();
}
out_children &kids(out_node &n) {
    return n.children;
}
const out_children &kids(const out_node &n) {
    return n.children;
}
out_node &node_of(out_node *p) {
    return *p;
}

// The tree data nodes are removed from; output nodes need none.
thread_local data_tree *removing_from = nullptr;

void remove_children(data_node &, const std::vector<data_node *> &drop) {
    for (data_node *c : drop) removing_from->remove(c);
}

// Both lists are in child order.
void remove_children(out_node &d, const std::vector<out_node *> &drop) {
    auto gone = drop.begin();
    for (out_node *c = d.children.take(); c != nullptr;) {
        out_node *next = c->next_sibling;
        if (gone != drop.end() && *gone == c)
            ++gone;
        else
            d.children.push_back(c);
        c = next;
    }
}

bool has_value(const yfw_map_node &f) {
    return f.value != nullptr && f.child_count == 0;
}

template <class Node>
const Node *leaf_named(const Node &d, const char *name) {
    for (const auto &c : kids(d))
        if (node_of(c).schema->is_leaf() && node_of(c).schema->name == name) return &node_of(c);
    return nullptr;
}

// Content matches of a containment node: every one must find its value.
template <class Node>
bool content_matches(const Node &d, const yfw_map_node &f) {
    for (uint32_t i = 0; i < f.child_count; ++i) {
        const yfw_map_node &c = f.children[i];
        if (!has_value(c)) continue;
        const Node *leaf = leaf_named(d, c.tag);
        if (leaf == nullptr || value_of(*leaf) != c.value) return false;
    }
    return true;
}

template <class Node>
bool keep(Node &d, const yfw_map_node &f);

// Filters d's children by the children of containment node f. True when
// something besides key leaves is left.
template <class Node>
bool filter_children(Node &d, const yfw_map_node &f) {
    bool only_matches = true;
    for (uint32_t i = 0; i < f.child_count && only_matches; ++i)
        only_matches = has_value(f.children[i]);
    // Content matches alone select the whole of what they matched.
    if (only_matches) return true;

    std::vector<Node *> drop;
    bool kept_any = false;
    for (const auto &child : kids(d)) {
        Node &c = node_of(child);
        bool stays = false;
        for (uint32_t i = 0; i < f.child_count && !stays; ++i) {
            const yfw_map_node &fc = f.children[i];
            if (c.schema->name != fc.tag) continue;
            // A list entry meets the first filter entry whose content
            // matches it; the others name other entries.
            if (!has_value(fc) && !content_matches(c, fc)) continue;
            stays = keep(c, fc);
        }
        if (stays)
            kept_any = true;
        else if (!c.schema->is_key)
            drop.push_back(&c);
    }
    remove_children(d, drop);
    return kept_any;
}

template <class Node>
bool keep(Node &d, const yfw_map_node &f) {
    if (f.child_count == 0) return f.value == nullptr || value_of(d) == f.value;
    return content_matches(d, f) && filter_children(d, f);
}

// Nothing of the root is selected: it stays, empty.
void clear(data_node &root) {
    removing_from->clear_content(&root);
}
void clear(out_node &root) {
    root.children.take();
}

template <class Node>
void filter_document(Node &root, const yfw_map_node &filter) {
    if (filter.child_count == 0) return;  // the whole document was asked for
    if (!content_matches(root, filter) || !filter_children(root, filter)) clear(root);
}

}  // namespace

void apply_subtree_filter(data_tree &doc, const yfw_map_node &filter) {
    removing_from = &doc;
    filter_document(*doc.root, filter);
    removing_from = nullptr;
}

void apply_subtree_filter(out_node &root, const yfw_map_node &filter) {
    filter_document(root, filter);
}

list_filter filter_for_list(const yfw_map_node &filter, const schema_node &list) {
    std::vector<const schema_node *> path;
    for (const schema_node *s = &list; s->parent != nullptr; s = s->parent)
        path.insert(path.begin(), s);
    list_filter f;
    std::vector<const yfw_map_node *> at{&filter};
    for (const schema_node *level : path) {
        std::vector<const yfw_map_node *> below;
        for (const yfw_map_node *n : at) {
            // A node that names nothing below it, or only content matches
            // (the containers above the list have no leaves for them to
            // match), selects everything or nothing.
            if (n->child_count == 0) {
                f.all = true;
                return f;
            }
            bool only_matches = true;
            for (uint32_t i = 0; i < n->child_count; ++i) {
                const yfw_map_node &c = n->children[i];
                only_matches = only_matches && has_value(c);
                if (!has_value(c) && level->name == c.tag) below.push_back(&c);
            }
            if (only_matches && level->kind != schema_node::node_kind::list) return f;
        }
        at = std::move(below);
    }
    f.nodes = std::move(at);
    return f;
}

bool filter_entry(out_node &entry, const list_filter &f) {
    if (f.all) return true;
    for (const yfw_map_node *n : f.nodes) {
        if (n->child_count == 0) return true;
        // The entry meets the first filter entry whose content matches it.
        if (!content_matches(entry, *n)) continue;
        if (keep(entry, *n)) return true;
    }
    return false;
}

}  // namespace yfw_host
