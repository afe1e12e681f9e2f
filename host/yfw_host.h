// The host runtime: what the router's mapping framework does around the
// plug-in. It builds request and data trees, owns the mapping and request
// contexts of one request, records the output tree, and loads the plug-in.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "block_arena.h"
#include "yfw_map.h"

namespace yfw_host {

inline constexpr const char *oc_namespace = "http://openconfig.net/yang/local-routing";
inline constexpr const char *oc_module_prefix = "oc-loc-rt";
inline constexpr const char *native_namespace =
    "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg";
inline constexpr const char *netconf_namespace = "urn:ietf:params:xml:ns:netconf:base:1.0";

// NETCONF error tags of the errors the host reports itself.
namespace error_tag {
inline constexpr const char *malformed_message = "malformed-message";
inline constexpr const char *invalid_value = "invalid-value";
inline constexpr const char *bad_element = "bad-element";
inline constexpr const char *unknown_element = "unknown-element";
inline constexpr const char *unknown_namespace = "unknown-namespace";
inline constexpr const char *unknown_attribute = "unknown-attribute";
inline constexpr const char *bad_attribute = "bad-attribute";
inline constexpr const char *missing_element = "missing-element";
inline constexpr const char *data_exists = "data-exists";
inline constexpr const char *data_missing = "data-missing";
inline constexpr const char *operation_failed = "operation-failed";
inline constexpr const char *operation_not_supported = "operation-not-supported";
inline constexpr const char *too_big = "too-big";
inline constexpr const char *resource_denied = "resource-denied";
}  // namespace error_tag

// What is wrong with a document: the file and position, the document path
// of the offending node when there is one, the NETCONF error tag and a
// sentence saying what is wrong.
struct input_error {
    std::string file;
    unsigned line = 0;
    unsigned column = 0;
    std::string message;
    std::string tag = error_tag::malformed_message;
    std::string path;
    // "FILE:LINE:COLUMN: MESSAGE (tag: TAG)".
    std::string text() const;
    // Malformed: the document cannot be read at all. Otherwise it was read
    // and a value or node in it is refused.
    bool malformed() const { return tag == error_tag::malformed_message; }
};

// A value as messages show it: in single quotes, control characters and
// quotes escaped, cut to a bounded length, so that no value can make a
// message span lines or run to megabytes.
std::string quoted(std::string_view value);
// The same for a whole line of text, without the quotes.
std::string printable(std::string_view text, std::size_t limit = 1000);

const char *operation_name(uint32_t op);

// ------------------------------------------------------------------ trees

// A request or data tree handed to a root walker. Owns every node and text;
// nodes never move once built, so pointers into the tree stay valid for the
// tree's life even when the framework adds a leaf to a node.
class request_tree {
public:
    request_tree() = default;
    request_tree(const request_tree &) = delete;
    request_tree &operator=(const request_tree &) = delete;
    request_tree(request_tree &&) = default;
    request_tree &operator=(request_tree &&) = default;

    yfw_map_node *root() const { return root_; }
    // Appends a leaf to parent (the framework's add into a request node).
    yfw_map_node *add_leaf(yfw_map_node *parent, const char *tag, const char *ns,
                           const char *value);
    const char *keep(std::string_view text);
    yfw_map_node *alloc_nodes(uint32_t count);
    // Keeps something the tree's texts point into alive as long as the tree.
    void hold(std::shared_ptr<const void> owner) { held_.push_back(std::move(owner)); }

    yfw_map_node *root_ = nullptr;

private:
    // Nodes and texts (NUL-terminated), packed into blocks that never move:
    // an allocation per element or per text would cost more than parsing it.
    block_arena arena_;
    std::vector<std::shared_ptr<const void>> held_;
};

// ------------------------------------------------------------------ output

struct out_node;
struct schema_node;

// One add as the plug-in made it. The texts are views into the output
// tree's interned names and text arena.
struct output_add {
    std::string_view path;
    std::string_view ns;
    std::optional<std::string_view> value;
    int flag1 = 0;
    int flag2 = 0;
    std::optional<uint32_t> bound_op;  // the request node's operation at the time of the add
    const out_node *node = nullptr;    // the document node the add reached
};

// The children of an output node in the order they were added, chained
// through the nodes themselves in a ring (the last child links back to the
// first): a document of millions of nodes then needs no child arrays, and
// one pointer finds both ends.
class out_children {
public:
    class iterator {
    public:
        iterator(out_node *n, out_node *last) : n_(n), last_(last) {}
        out_node *operator*() const { return n_; }
        iterator &operator++();
        bool operator==(const iterator &o) const { return n_ == o.n_; }
        bool operator!=(const iterator &o) const { return n_ != o.n_; }

    private:
        out_node *n_;
        out_node *last_;
    };
    iterator begin() const { return iterator(front(), last_); }
    iterator end() const { return iterator(nullptr, nullptr); }
    bool empty() const { return last_ == nullptr; }
    std::size_t size() const { return count_; }
    out_node *front() const;
    out_node *back() const { return last_; }
    // The i-th child, found by walking: for the odd look-up, not for loops.
    out_node *operator[](std::size_t i) const;
    void push_back(out_node *child);
    // Empties the list and returns its children as a chain ending in null,
    // for code that moves them elsewhere one by one.
    out_node *take();

private:
    out_node *last_ = nullptr;
    uint32_t count_ = 0;
};

// A node's name and namespace (empty when the add gave none), interned by
// its tree: a document uses a few dozen pairs.
struct out_name {
    std::string_view name;
    std::string_view ns;
};

// A node of the document an output tree builds. Names and values live in
// the tree (interned, or in its text arena) and nodes never move once made.
// A large answer is tens of millions of these, so the node is kept to 64
// bytes: it is most of what such a run holds.
struct out_node {
    const schema_node *schema = nullptr;  // set when the tree is bound
    out_node *parent = nullptr;
    out_children children;
    out_node *next_sibling = nullptr;  // the ring of the parent's children
    const out_name *qname = nullptr;

    std::string_view name() const { return qname->name; }
    std::string_view ns() const { return qname->ns; }
    std::optional<std::string_view> value() const {
        if (!has_value_) return std::nullopt;
        return std::string_view(value_data_, value_size_);
    }
    void set_value(std::string_view v) {
        value_data_ = v.data();
        value_size_ = static_cast<uint32_t>(v.size());
        has_value_ = true;
    }
    std::optional<uint32_t> op() const {
        if (op_ == no_op) return std::nullopt;
        return op_;
    }
    void set_op(uint32_t op) { op_ = static_cast<uint8_t>(op); }

    // The newest child of that name (the last one added), or null.
    out_node *newest_child(std::string_view n) const;

    static constexpr uint8_t no_op = 0xff;

private:
    const char *value_data_ = nullptr;
    uint32_t value_size_ = 0;
    uint8_t op_ = no_op;
    bool has_value_ = false;

public:
    bool list_entry = false;  // made by an add that starts a list entry
    // The store's apply: the operation the latest bound add it has applied
    // gave this node (no_op when none). Kept here, in what would be
    // padding, instead of in a map beside an edit of millions of nodes.
    mutable uint8_t applied_op = no_op;
};
static_assert(sizeof(void *) != 8 || sizeof(out_node) == 64, "out_node outgrew 64 bytes");

inline out_node *out_children::front() const {
    return last_ == nullptr ? nullptr : last_->next_sibling;
}

inline out_children::iterator &out_children::iterator::operator++() {
    n_ = n_ == last_ ? nullptr : n_->next_sibling;
    return *this;
}

inline out_node *out_children::operator[](std::size_t i) const {
    if (i >= count_) return nullptr;
    out_node *n = front();
    for (; i > 0; --i) n = n->next_sibling;
    return n;
}

inline void out_children::push_back(out_node *child) {
    if (last_ == nullptr) {
        child->next_sibling = child;
    } else {
        child->next_sibling = last_->next_sibling;
        last_->next_sibling = child;
    }
    last_ = child;
    ++count_;
}

inline out_node *out_children::take() {
    out_node *first = front();
    if (last_ != nullptr) last_->next_sibling = nullptr;
    *this = out_children();
    return first;
}

// Where the plug-in's adds go: the output tree, or a writer that streams
// an answer as it is made.
class add_target {
public:
    // An add with the first flag 1 starts a new instance of its list path
    // under the newest instances of its ancestor lists; other adds go into
    // the newest instance of each path element.
    virtual ymap_result add(const char *path, const char *ns, const char *value,
                            const yfw_map_node *req_node, int flag1, int flag2) = 0;

protected:
    ~add_target() = default;
};

// The output tree: every add in call order and the document they build.
class output_tree final : public add_target {
public:
    output_tree();
    output_tree(const output_tree &) = delete;
    output_tree &operator=(const output_tree &) = delete;
    output_tree(output_tree &&other) noexcept;
    output_tree &operator=(output_tree &&other) noexcept;
    ymap_result add(const char *path, const char *ns, const char *value,
                    const yfw_map_node *req_node, int flag1, int flag2) override;
    // Drops every node and add, keeping the memory for what comes next.
    void clear();
    const std::deque<output_add> &adds() const { return adds_; }
    const out_node &document() const { return root_; }
    // Recording the adds (for --adds and for applying an edit) costs more
    // than building the document; callers that need neither turn it off.
    void record_adds(bool on) { record_ = on; }
    // Native edits and read paths (schema root given): the keys of an entry
    // never change there, so a key leaf given another value for an entry
    // whose keys are all set names another entry and starts one. Without it
    // (OpenConfig data) such an add renames the entry, as the native index
    // does with an OpenConfig next-hop's key.
    void keys_name_entries(const schema_node *root) { key_schema_ = root; }
    // The adds are meant to build a document under root: each node is tied
    // to its schema node when it is made (each distinct path is resolved
    // once), so that bind(root) has nothing left to do but confirm it.
    void expect_root(const schema_node &root) { expected_ = &root; }
    // OpenConfig answers: every list entry the plug-in starts is one entry
    // of the answer, so two that end with the same keys are refused by
    // document_of instead of being merged into one (and one of them lost).
    void entries_are_distinct(bool on) { distinct_entries_ = on; }

    std::string to_xml(bool with_operations) const;

    // Ties every node to its schema node under root (named and in the
    // namespace its add gave) without changing the tree, so the record of
    // adds still describes it: an edit is applied from that record after
    // this and before document_of. False, with the path in err, when the
    // plug-in wrote outside the schema.
    bool bind(const schema_node &root, std::string &err);
    // Turns the tree into the document it stands for, in place, and returns
    // its root (made when nothing reached it): entries of one list with
    // equal keys and repeated containers and leaves become one node (later
    // values win, operations combine), leaf-list values and entries without
    // all their keys stand alone, and children go into schema order. After
    // this the tree takes no more adds and its record no longer matches it.
    // Null, with err set, when binding fails.
    out_node *document_of(const schema_node &root, std::string &err);

private:
    // A path as the plug-in writes it, split and interned once: it writes a
    // few dozen distinct paths millions of times.
    struct path_info {
        std::string_view text;  // interned
        std::string_view ns;    // interned
        std::vector<const out_name *> segments;
        // With an expected root: the schema node of each segment, null from
        // the first one outside the schema.
        std::vector<const schema_node *> schemas;
    };
    void resolve(path_info &info) const;
    const path_info &path_of(const char *path, std::string_view ns);
    const path_info &path_by_text(const char *path, std::string_view ns);
    out_node *entry_named_by_key(out_node *entry, std::string_view key, std::string_view ns);
    out_node *append_child(out_node *parent, const out_name *qname);
    std::string_view intern(std::string_view text);
    // The pair of an interned name and namespace.
    const out_name *qualified(std::string_view name, std::string_view ns);
    void adopt_root(const out_node *old_root);
    std::string_view keep(std::string_view text);

    out_node root_;
    // Nodes, their child arrays and values come from one arena, released
    // whole with the tree: millions of small allocations and frees are most
    // of what building a large document would otherwise cost.
    block_arena arena_;
    // Interned paths, names and namespaces: the plug-in uses a few dozen.
    struct text_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_set<std::string, text_hash, std::equal_to<>> interned_;
    std::string_view last_ns_;               // interned, so NUL-terminated
    const char *last_ns_literal_ = nullptr;  // the plug-in's read-only text of it
    std::deque<out_name> qnames_;
    std::map<std::pair<const char *, const char *>, const out_name *> qname_index_;
    // Paths by their text (and, for one written in another namespace too,
    // by namespace and text). Hashed from their length and a few words:
    // paths differ in length or near their ends, and hashing every byte of
    // every add would cost more than the rest of it.
    struct path_hash {
        std::size_t operator()(std::string_view s) const noexcept;
    };
    std::unordered_map<std::string_view, std::unique_ptr<path_info>, path_hash> paths_;
    // The plug-in writes its paths as literals: a path in read-only memory
    // cannot change, so it is found again by its address alone.
    struct by_address {
        const char *path = nullptr;
        const char *ns = nullptr;
        const path_info *info = nullptr;
        bool literal = false;  // in read-only memory
    };
    std::array<by_address, 256> by_address_{};
    unsigned evict_ = 0;
    std::unordered_map<std::string, std::unique_ptr<path_info>, text_hash, std::equal_to<>>
        other_ns_paths_;
    // A deque: an edit of a million routes records tens of millions of adds,
    // and a vector would hold its old and its new array at once each time
    // it grows.
    std::deque<output_add> adds_;
    // The nodes the previous add went through, root first, and its path:
    // the next add mostly shares all but the last segment, and those are
    // still the newest nodes of their names (an add only appends below
    // them), so it need not look them up again.
    std::vector<out_node *> last_chain_;
    const path_info *last_path_ = nullptr;
    bool record_ = true;
    bool distinct_entries_ = false;
    // A node was made without its schema node (no expected root, or a path
    // outside it): bind must look them all up.
    bool unbound_ = false;
    const schema_node *expected_ = nullptr;
    const schema_node *key_schema_ = nullptr;
    const schema_node *bound_to_ = nullptr;
    out_node *document_ = nullptr;
};

// Formats one add as `ocmap --adds` prints it.
std::string format_add(const output_add &a);
// Appends text to an XML document, escaped for element text or, with
// attribute set, for a double-quoted attribute value.
void xml_escape(std::string &out, std::string_view text, bool attribute);

// ------------------------------------------------------------------ session

struct session_data;

// The contexts of one request. The framework calls find their session from
// the mapping context, which is the first member of a standard-layout
// record, so no global state is needed.
struct session_record {
    yfw_map_ctx ctx;
    req_ctx rctx;
    yfw_map_datatree *tree;
    session_data *data;
};

struct log_settings {
    bool debug = false;           // debug log levels 0 and 3 printed
    bool trace = false;           // trace buffer
    bool capture_errors = false;  // level 0 on, so the host learns the error text
};

class session {
public:
    session(uint32_t request_kind, add_target &out, request_tree *req, log_settings logs);
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    yfw_map_ctx *ctx() { return &rec_.ctx; }
    req_ctx *rctx() { return &rec_.rctx; }
    yfw_map_datatree *tree() { return rec_.tree; }
    std::string error_tag() const;

    // Introspection for tests.
    std::size_t hierarchy_depth() const;
    std::size_t output_list_size() const;

    ymap_result run(yfw_map_walker_fn walker, yfw_map_node *root);

private:
    session_record rec_{};
};

session_data *session_of(yfw_map_ctx *ctx);

// Trace numbers are the framework's shared counter.
void reset_trace_index();

// ------------------------------------------------------------------ plug-in

class plugin {
public:
    // Loads the library and runs its registration call. On failure returns
    // nullopt with the reason in err.
    static std::optional<plugin> load(const std::string &path, std::string &err);
    plugin(plugin &&) noexcept;
    plugin &operator=(plugin &&) noexcept;
    ~plugin();

    const yfw_map_reg &record() const { return reg_; }
    int32_t registration_status() const { return reg_status_; }
    void *symbol(const char *name) const;

private:
    plugin() = default;
    void *handle_ = nullptr;
    yfw_map_reg reg_{};
    int32_t reg_status_ = 0;
};

// Where the plug-in is when nothing else is said: beside the tool's lib/.
std::string default_plugin_path();

}  // namespace yfw_host
