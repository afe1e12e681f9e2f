// Schema-bound data trees: the native running configuration, the selection
// a read hands to the native walker, and the documents ocmap prints. Every
// node knows its schema node, children stay in schema order (entries of one
// list in the order they were added), and list entries are found by key
// through an index, so large configurations are edited without scans.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "yang_schema.h"
#include "yfw_host.h"

namespace yfw_host {

inline constexpr uint8_t no_operation = 0xff;

struct data_node {
    data_node();
    ~data_node();
    data_node(const data_node &) = delete;
    data_node &operator=(const data_node &) = delete;
    // Nodes come from a pool of fixed-size blocks: a large configuration is
    // millions of them, and the allocator's work for each (and for freeing
    // each again) costs more than building it.
    static void *operator new(std::size_t size);
    static void operator delete(void *p, std::size_t size) noexcept;
    // Hands the pool's blocks back to the allocator when no node is alive,
    // so that a large configuration, once dropped, makes room for what comes
    // next; false (and nothing done) while some node lives. No other thread
    // may be making or freeing nodes meanwhile.
    static bool release_pool();

    const schema_node *schema = nullptr;
    data_node *parent = nullptr;
    std::string value;          // leaves
    uint8_t op = no_operation;  // edit documents: the node's operation attribute
    // What the newest selection (running_store.h) made of this node: valid
    // only while selection_stamp is that selection's. Kept here, in what
    // would be padding, instead of in a map beside a store of millions of
    // nodes.
    mutable uint8_t selection_mark = 0;
    mutable uint32_t selection_stamp = 0;
    std::vector<std::unique_ptr<data_node>> children;

    // The child container or leaf of that schema node, or null.
    data_node *child(const schema_node *s) const;
    // The entry of list s with these key values (in key order), or null.
    data_node *entry(const schema_node *s, const std::vector<std::string_view> &keys) const;
    // The values of this entry's keys, in key order; false when one is missing.
    bool key_values(std::vector<std::string_view> &out) const;

    // Inserts a new child at its schema position (after the entries of the
    // same list already present). For lists, the key leaves must be added to
    // the new entry before it is looked up by key.
    data_node *add(const schema_node *s);
    // Makes a list entry with its key leaves and indexes it.
    data_node *add_entry(const schema_node *s, const std::vector<std::string_view> &keys);
    // Indexes an entry built with add() once its key leaves are in place.
    void index_entry(data_node *e) const { index_insert(e); }
    // Removes and destroys a child.
    void remove(data_node *child);
    // Drops every child but the key leaves of an entry.
    void clear_content();

    // "/router-static/.../vrf-prefix[prefix='10.0.0.0'][prefix-length='8']".
    std::string path() const;

private:
    // Entries of each list child, by key text, built on first look-up.
    struct entry_index;
    mutable std::unique_ptr<entry_index> index_;
    void index_insert(data_node *e) const;
    void index_erase(data_node *e) const;
};

// A document: its root node (router-static or local-routes). An empty
// document has a root without children.
struct data_tree {
    std::unique_ptr<data_node> root;
    static data_tree empty(const schema_node &root_schema);
    std::unique_ptr<data_node> clone_root() const;
};

enum class doc_format { xml, json };

// Writes a document: a data tree, or an output tree's document
// (output_tree::document_of). XML: two-space indentation, the operation
// attribute in the NETCONF namespace when with_operations; JSON: RFC 7951
// with operations as ietf-netconf:operation metadata.
std::string to_xml(const data_node &root, bool with_operations);
std::string to_json(const data_node &root, bool with_operations);
std::string write_document(const data_node &root, doc_format f, bool with_operations);
std::string write_document(const out_node &root, doc_format f, bool with_operations);
// The same straight to a file, in pieces; false when writing failed.
bool write_document(const data_node &root, doc_format f, bool with_operations, std::FILE *file);
bool write_document(const out_node &root, doc_format f, bool with_operations, std::FILE *file);

// A data tree holding a copy of an output tree's document, for what edits
// or looks things up in it (a read's selection, tests). Fails (with the
// path in err) when the plug-in wrote a path outside the schema.
std::optional<data_tree> document_of(output_tree &out, const schema_node &root_schema,
                                     std::string &err);

// A request or data tree over the nodes of a data tree, for a root walker.
// It holds copies of the values; names point into the schema.
request_tree request_tree_of(const data_node &root);

// Combines a node's operation with a later one given to it by another add
// of the same node: a removal followed by an addition is a replace; otherwise
// the later wins.
uint32_t combine_operations(uint32_t first, uint32_t later);

}  // namespace yfw_host
