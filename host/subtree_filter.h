// NETCONF subtree filtering (RFC 6241, section 6) of an answer document.
#pragma once

#include <vector>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

// Prunes the document under root to what the filter rooted at the same node
// selects: a filter leaf with a value is a content match (its entry or
// container stays only when the data leaf has that value), a node without
// children and value selects its whole subtree, a node with children is a
// containment node filtered recursively. Key leaves of a kept list entry are
// always kept. The root itself is never removed.
void apply_subtree_filter(data_tree &doc, const yfw_map_node &filter);

// What a filter asks of the entries of one list below the root, for
// answers filtered entry by entry as they are written: every entry whole,
// or what these filter nodes of the list select (none: no entry).
struct list_filter {
    bool all = false;
    std::vector<const yfw_map_node *> nodes;
};
list_filter filter_for_list(const yfw_map_node &filter, const schema_node &list);
// Cuts an entry down to what the filter selects; false when nothing of it
// is selected.
bool filter_entry(out_node &entry, const list_filter &f);
void apply_subtree_filter(out_node &root, const yfw_map_node &filter);

}  // namespace yfw_host
