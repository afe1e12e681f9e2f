// Schema-bound data trees: the native running configuration, and native
// edits read from documents. Every node knows its schema node, children
// stay in schema order (entries of one list in the order they were added),
// and list entries are found by key through an index, so large
// configurations are edited without scans. A tree owns its nodes and texts
// in an arena: building one is bump allocation, and dropping one is freeing
// a few blocks, where a node and a string apiece would cost more than the
// rest of the work.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "block_arena.h"
#include "yang_schema.h"
#include "yfw_host.h"

namespace yfw_host {

inline constexpr uint8_t no_operation = 0xff;

struct data_node;

// The children of a node, in order.
class data_children {
public:
    class iterator {
    public:
        explicit iterator(data_node *n) : n_(n) {}
        data_node *operator*() const { return n_; }
        iterator &operator++();
        bool operator==(const iterator &o) const { return n_ == o.n_; }
        bool operator!=(const iterator &o) const { return n_ != o.n_; }

    private:
        data_node *n_;
    };
    data_children(data_node *first) : first_(first) {}
    iterator begin() const { return iterator(first_); }
    iterator end() const { return iterator(nullptr); }
    bool empty() const { return first_ == nullptr; }

private:
    data_node *first_;
};

struct data_node {
    const schema_node *schema = nullptr;
    data_node *parent = nullptr;
    data_node *first = nullptr;  // children
    data_node *last = nullptr;
    data_node *next = nullptr;  // siblings
    data_node *prev = nullptr;

    // A leaf's value (NUL-terminated, in the tree's arena).
    std::string_view value() const { return {value_, size_}; }
    const char *c_str() const { return value_; }
    data_children children() const { return data_children(first); }
    bool has_children() const { return first != nullptr; }

    // The child container or leaf of that schema node, or null.
    data_node *child(const schema_node *s) const;
    // The entry of list s with these key values (in key order), or null.
    data_node *entry(const schema_node *s, const std::vector<std::string_view> &keys) const;
    // The values of this entry's keys, in key order; false when one is missing.
    bool key_values(std::vector<std::string_view> &out) const;

    // "/router-static/.../vrf-prefix[prefix='10.0.0.0'][prefix-length='8']".
    std::string path() const;

    uint8_t op = no_operation;  // edit documents: the node's operation attribute
    // What the newest selection (running_store.h) made of this node: valid
    // only while selection_stamp is that selection's. Kept here, in what
    // would be padding, instead of in a map beside a store of millions of
    // nodes.
    mutable uint8_t selection_mark = 0;
    uint32_t size_ = 0;
    mutable uint32_t selection_stamp = 0;
    const char *value_ = "";

    // Entries of the lists among the children, by key, made on the first
    // look-up among many children.
    struct entry_index;
    mutable entry_index *index = nullptr;
};

// A document: its root node (router-static or local-routes), and every
// node and text of it. An empty document has a root without children.
class data_tree {
public:
    data_tree() = default;
    data_tree(data_tree &&other) noexcept;
    data_tree &operator=(data_tree &&other) noexcept;
    data_tree(const data_tree &) = delete;
    data_tree &operator=(const data_tree &) = delete;
    ~data_tree();

    static data_tree empty(const schema_node &root_schema);
    // A copy with nothing of this tree's waste (removed nodes, old values).
    data_tree clone() const;

    data_node *root = nullptr;

    // Inserts a new child at its schema position (after the entries of the
    // same list already present). For lists, the key leaves must be added to
    // the new entry before it is looked up by key.
    data_node *add(data_node *parent, const schema_node *s);
    // Makes a list entry with its key leaves and indexes it.
    data_node *add_entry(data_node *parent, const schema_node *s,
                         const std::vector<std::string_view> &keys);
    // Indexes an entry built with add() once its key leaves are in place.
    void index_entry(data_node *e);
    void set_value(data_node *leaf, std::string_view v);
    // Removes a child and everything below it.
    void remove(data_node *child);
    // Drops every child but the key leaves of an entry.
    void clear_content(data_node *n);

    // Bytes held by nodes and texts no longer in the tree; a long-lived
    // tree compares it with what it holds to know when to clone().
    std::size_t waste() const { return waste_; }

private:
    data_node *make(const schema_node *s, data_node *parent);
    void drop(data_node *n);
    block_arena arena_;
    data_node *free_ = nullptr;  // removed nodes, for reuse
    std::vector<std::unique_ptr<data_node::entry_index>> indexes_;
    std::size_t waste_ = 0;
};

inline data_children::iterator &data_children::iterator::operator++() {
    n_ = n_->next;
    return *this;
}

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

// An answer written as it is made: the ancestors of a list are opened with
// its first entry, each entry is written when it is complete, and close()
// ends the document. For answers of one list's entries (the routes), whose
// entries come one after another and nothing else has content.
class streamed_document {
public:
    streamed_document(const schema_node &list, doc_format f, std::FILE *file);
    void write_entry(const out_node &entry);
    // False when writing failed.
    bool close();
    std::size_t entries() const { return entries_; }

private:
    void open();
    doc_format format_;
    std::FILE *file_;
    std::vector<const schema_node *> ancestors_;  // root first
    const schema_node *list_ = nullptr;
    std::string text_;
    std::size_t entries_ = 0;
    bool opened_ = false;
};

// A data tree holding a copy of an output tree's document, for what edits
// or looks things up in it (a read's selection, tests). Fails (with the
// path in err) when the plug-in wrote a path outside the schema.
std::optional<data_tree> document_of(output_tree &out, const schema_node &root_schema,
                                     std::string &err);

// A request or data tree over the nodes of a data tree, for a root walker.
// It holds copies of the values; names point into the schema.
request_tree request_tree_of(const data_node &root);

// Combines a node's operation with a later one given to it by another add
// of the same node: a removal and an addition, in either order, make a
// replace; otherwise the later wins.
uint32_t combine_operations(uint32_t first, uint32_t later);

}  // namespace yfw_host
