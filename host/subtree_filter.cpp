// The plug-in's reads name native data by paths that can be wider than the
// filter asked for (a route's tag is read for every route of both address
// families, say). The answer is cut down to the filter here, once, as a
// NETCONF server does, instead of every mapping callback having to be exact.
#include "subtree_filter.h"

#include <cstring>
#include <vector>

namespace yfw_host {

namespace {

bool has_value(const yfw_map_node &f) {
    return f.value != nullptr && f.child_count == 0;
}

const data_node *leaf_named(const data_node &d, const char *name) {
    for (const auto &c : d.children)
        if (c->schema->is_leaf() && c->schema->name == name) return c.get();
    return nullptr;
}

// Content matches of a containment node: every one must find its value.
bool content_matches(const data_node &d, const yfw_map_node &f) {
    for (uint32_t i = 0; i < f.child_count; ++i) {
        const yfw_map_node &c = f.children[i];
        if (!has_value(c)) continue;
        const data_node *leaf = leaf_named(d, c.tag);
        if (leaf == nullptr || leaf->value != c.value) return false;
    }
    return true;
}

bool keep(data_node &d, const yfw_map_node &f);

// Filters d's children by the children of containment node f. True when
// something besides key leaves is left.
bool filter_children(data_node &d, const yfw_map_node &f) {
    bool only_matches = true;
    for (uint32_t i = 0; i < f.child_count && only_matches; ++i)
        only_matches = has_value(f.children[i]);
    // Content matches alone select the whole of what they matched.
    if (only_matches) return true;

    std::vector<data_node *> drop;
    bool kept_any = false;
    for (auto &child : d.children) {
        data_node &c = *child;
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
    for (data_node *c : drop) d.remove(c);
    return kept_any;
}

bool keep(data_node &d, const yfw_map_node &f) {
    if (f.child_count == 0) return f.value == nullptr || d.value == f.value;
    return content_matches(d, f) && filter_children(d, f);
}

}  // namespace

void apply_subtree_filter(data_node &root, const yfw_map_node &filter) {
    if (filter.child_count == 0) return;  // the whole document was asked for
    if (!content_matches(root, filter) || !filter_children(root, filter)) root.clear_content();
}

}  // namespace yfw_host
