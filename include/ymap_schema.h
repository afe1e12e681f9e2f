// The schema tables the walkers run on. One constant table per tree is
// generated from the YANG modules and the mapping annotations; rows are in
// depth-first schema order and refer to each other by index, so the
// walkers never search by name beyond a node's own children.
#ifndef OC_LR_YMAP_SCHEMA_H
#define OC_LR_YMAP_SCHEMA_H

#include <stdint.h>

#include "yfw_map.h"

namespace ymap {

enum class schema_kind : uint8_t { container, list, leaf };

inline constexpr uint16_t no_node = 0xffff;

struct schema_node {
    const char *tag;       // the YANG node name, as compared with request tags
    schema_kind kind;      // container (state containers too), list or leaf
    uint8_t is_key;        // a key leaf of its parent list
    uint8_t state_only;    // accepted only in requests that read state
    uint8_t depth;         // the root is 1
    uint16_t parent;       // index of the parent row; no_node for the root
    uint16_t first_child;  // offset into the tree's child index array
    uint16_t child_count;
    uint16_t key;           // lists: row of the (first) key leaf; no_node otherwise
    uint16_t key_count;     // lists: number of key leaves
    const char *list_path;  // lists: absolute schema path without keys
    const char *walker;     // the walker's name, shown in trace records
    yfw_map_container_handler_fn container_handler;  // containers only
    yfw_map_walker_fn handler;                       // lists and leaves
    yfw_map_augment_handler_fn augments;             // containers and lists
};

struct schema_tree {
    const schema_node *nodes;
    uint16_t node_count;
    const uint16_t *children;
    uint32_t children_count;
    const char *ns;  // the module's namespace
};

// The row of the child of `parent` that `accept` takes for `tag`, or
// no_node, asking only about rows whose tag starts with the tag's letter.
// The search starts at child position `next` and wraps around; a match moves
// `next` past itself. A node's children mostly arrive in schema order, so
// the first row asked about is usually the one, and the first-letter test
// settles most others without a call.
template <typename Accept>
inline uint16_t child_by_tag(const schema_node *nodes, const uint16_t *children,
                             const schema_node &parent, const char *tag, uint16_t &next,
                             Accept accept) {
    const uint16_t count = parent.child_count;
    uint16_t k = next < count ? next : 0;
    for (uint16_t seen = 0; seen < count; ++seen) {
        const uint16_t row = children[parent.first_child + k];
        if (nodes[row].tag[0] == tag[0] && accept(nodes[row])) {
            next = static_cast<uint16_t>(k + 1);
            return row;
        }
        if (++k == count) k = 0;
    }
    return no_node;
}

// Build-time check of a generated table: every row's children point back
// at it one level deeper, every row but the root is some row's child, and
// list keys are key leaves of their own list. A broken generator fails the build here
// instead of misrouting requests at run time.
constexpr bool schema_is_consistent(const schema_node *nodes, uint16_t node_count,
                                    const uint16_t *children, uint32_t children_count) {
    if (node_count == 0 || nodes[0].parent != no_node || nodes[0].depth != 1) return false;
    uint32_t seen_children = 0;
    for (uint16_t i = 0; i < node_count; ++i) {
        const schema_node &n = nodes[i];
        if (n.tag == nullptr || n.walker == nullptr) return false;
        if (i != 0 && (n.parent >= i || nodes[n.parent].depth + 1 != n.depth)) return false;
        if (uint32_t(n.first_child) + n.child_count > children_count) return false;
        for (uint16_t c = 0; c < n.child_count; ++c) {
            uint16_t ci = children[n.first_child + c];
            if (ci >= node_count || ci <= i || nodes[ci].parent != i) return false;
        }
        seen_children += n.child_count;
        // Handler pointers are not tested here: whether an exported function's
        // address is null is not a constant expression in every build (the
        // sanitizer builds treat it as unknown). The generator fills them by
        // kind.
        switch (n.kind) {
            case schema_kind::container:
                if (n.key != no_node) return false;
                break;
            case schema_kind::list:
                if (n.list_path == nullptr || n.key_count == 0 || n.key >= node_count ||
                    nodes[n.key].parent != i || nodes[n.key].kind != schema_kind::leaf ||
                    !nodes[n.key].is_key)
                    return false;
                break;
            case schema_kind::leaf:
                if (n.child_count != 0) return false;
                break;
        }
    }
    return seen_children + 1 == node_count && children_count + 1 == node_count;
}

}  // namespace ymap

#endif
