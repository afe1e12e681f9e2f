// The readers of documents: a front end per format (XML, JSON) that names
// each node by its schema node, one builder that checks and records it, and
// a sink per kind of tree (the walker's request tree, the data tree).
#include "document_reader.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "json_reader.h"
#include "native_store.h"
#include "plugin_limits.h"
#include "value_types.h"
#include "xml_reader.h"

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;

// Real requests are a dozen levels deep; a much deeper document is an
// attack on the stack, not a request.
constexpr unsigned max_depth = 64;

const char *const xml_namespace = "http://www.w3.org/XML/1998/namespace";

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), is_space);
}

bool deletes(uint32_t op) {
    return op == YFW_OP_DELETE || op == YFW_OP_REMOVE;
}

bool parse_operation(std::string_view v, uint32_t &op) {
    static constexpr std::pair<std::string_view, uint32_t> ops[] = {{"merge", YFW_OP_NONE},
                                                                    {"replace", YFW_OP_REPLACE},
                                                                    {"create", YFW_OP_CREATE},
                                                                    {"delete", YFW_OP_DELETE},
                                                                    {"remove", YFW_OP_REMOVE}};
    for (auto [name, code] : ops) {
        if (v == name) {
            op = code;
            return true;
        }
    }
    return false;
}

const schema_node *child_named(const schema_node &s, std::string_view name) {
    for (const auto &c : s.children)
        if (c->name.size() == name.size() &&
            std::memcmp(c->name.data(), name.data(), name.size()) == 0)
            return c.get();
    return nullptr;
}

// Line and column of a byte offset, counted only when an error needs them.
void locate(std::string_view text, std::size_t offset, input_error &err) {
    offset = std::min(offset, text.size());
    std::string_view before = text.substr(0, offset);
    err.line = static_cast<unsigned>(std::count(before.begin(), before.end(), '\n')) + 1;
    std::size_t line_start = before.rfind('\n');
    std::size_t from = line_start == std::string_view::npos ? 0 : line_start + 1;
    // Columns count characters, not the bytes of their UTF-8 encoding.
    err.column = 1;
    for (std::size_t i = from; i < offset; ++i)
        err.column += (static_cast<unsigned char>(text[i]) & 0xc0) != 0x80;
}

// One node being read. The wrapper above the root has no schema node.
// An element's name as messages show it: "<name>", cut like a value.
std::string element_tag(std::string_view qname) {
    return "<" + printable(qname, 80) + ">";
}

// The keys of one list's entries under one parent, for lists too long to
// compare entry by entry.
struct entry_set {
    const schema_node *list;
    entry_set *next;  // the parent's set of another list
    std::unordered_set<std::string> ids;
};

struct frame {
    const schema_node *schema = nullptr;
    uint64_t seen = 0;  // children of single instance given so far, by order
    uint32_t op = YFW_OP_NONE;
    bool has_op = false;
    bool has_value = false;
    std::size_t offset = 0;
    // request trees: where this node's children start in the sink's stack,
    // and the leaf's value
    std::size_t kids = 0;
    const char *value = nullptr;
    uint16_t last_order = 0;  // request trees: of the last child ended
    bool unsorted = false;    // a child ended after one later in schema order
    // data trees
    data_node *node = nullptr;
    // request trees: the keys of the entries of each of its lists that grew
    // long, one set per list (a next-hop table holds several lists)
    entry_set *entries = nullptr;
};

// The walker's input: nodes are packed into arrays when they end, so a
// node's children are gathered on a stack first.
class request_sink {
public:
    // schema_order: each node's children are put in schema order, as a
    // store's own tree keeps them.
    request_sink(bool edit, bool schema_order) : edit_(edit), schema_order_(schema_order) {}

    void enter(frame &f, frame *) { f.kids = kids_.size(); }
    void set_value(frame &f, std::string_view v) {
        f.value = tree_.keep(v);
        f.has_value = true;
    }
    void set_child_operation(frame &parent, const schema_node *s, uint32_t op) {
        for (std::size_t i = parent.kids; i < kids_.size(); ++i)
            if (kids_[i].tag == s->name.c_str()) kids_[i].operation = op;
    }
    // The node's children so far, for checks of the whole entry.
    const yfw_map_node *children(const frame &f) const { return kids_.data() + f.kids; }
    uint32_t child_count(const frame &f) const {
        return static_cast<uint32_t>(kids_.size() - f.kids);
    }
    // Entries are told apart by their keys; one without all of them is the
    // mapping's to refuse. A few entries are compared in place (a route's
    // next-hops); many get a set of their keys (the routes).
    bool unique_entry(frame &f, frame &parent) {
        std::size_t before = 0;
        for (std::size_t i = parent.kids; i < f.kids; ++i) {
            if (kids_[i].tag != f.schema->name.c_str()) continue;
            if (++before > small_list) break;
            if (same_keys(kids_[i], f)) return false;
        }
        entry_set *set = parent.entries;
        while (set != nullptr && set->list != f.schema) set = set->next;
        if (before <= small_list && set == nullptr) return true;
        if (set == nullptr) {
            set = &entry_sets_.emplace_back(entry_set{f.schema, parent.entries, {}});
            parent.entries = set;
            for (std::size_t i = parent.kids; i < f.kids; ++i)
                if (kids_[i].tag == f.schema->name.c_str())
                    set->ids.insert(id_of(kids_[i], *f.schema));
        }
        std::string id;
        for (const schema_node *k : f.schema->keys) {
            const yfw_map_node *leaf = key_leaf(f, k);
            if (leaf == nullptr || leaf->value == nullptr) return true;
            id += leaf->value;
            id += '\0';
        }
        return set->ids.insert(std::move(id)).second;
    }
    static constexpr std::size_t small_list = 16;

    const yfw_map_node *key_leaf(const frame &f, const schema_node *k) const {
        for (std::size_t i = f.kids; i < kids_.size(); ++i)
            if (kids_[i].tag == k->name.c_str()) return &kids_[i];
        return nullptr;
    }
    static const yfw_map_node *key_leaf(const yfw_map_node &entry, const char *name) {
        for (uint32_t i = 0; i < entry.child_count; ++i)
            if (entry.children[i].tag == name) return &entry.children[i];
        return nullptr;
    }
    // Whether a finished entry has the keys of the one being read.
    bool same_keys(const yfw_map_node &done, const frame &f) const {
        for (const schema_node *k : f.schema->keys) {
            const yfw_map_node *a = key_leaf(done, k->name.c_str()), *b = key_leaf(f, k);
            if (a == nullptr || b == nullptr || a->value == nullptr || b->value == nullptr ||
                std::strcmp(a->value, b->value) != 0)
                return false;
        }
        return true;
    }
    static std::string id_of(const yfw_map_node &entry, const schema_node &list) {
        std::string id;
        for (const schema_node *k : list.keys) {
            const yfw_map_node *leaf = key_leaf(entry, k->name.c_str());
            if (leaf != nullptr && leaf->value != nullptr) id += leaf->value;
            id += '\0';
        }
        return id;
    }

    const schema_node *missing_key(const frame &f) const {
        for (const schema_node *k : f.schema->keys) {
            bool found = false;
            for (std::size_t i = f.kids; i < kids_.size() && !found; ++i)
                found = kids_[i].tag == k->name.c_str();
            if (!found) return k;
        }
        return nullptr;
    }
    // The route's node is packed when it ends; its children are on the
    // stack meanwhile, which is what the check reads.
    std::string route_problem(frame &f, const std::function<std::string()> &path) const {
        yfw_map_node route{};
        route.tag = f.schema->name.c_str();
        route.children = const_cast<yfw_map_node *>(children(f));
        route.child_count = child_count(f);
        return native_route_problem(route, *f.schema, path);
    }
    void route_done(frame &) {}
    void leave(frame &f, frame *parent) {
        yfw_map_node n{};
        n.tag = f.schema->name.c_str();
        n.ns = f.schema->ns;
        n.operation = f.op;
        if (edit_) n.host_bits |= YFW_HOST_EDIT_REQUEST;
        if (f.has_value) {
            n.value = f.value;
            n.flags |= YFW_NODE_HAS_VALUE;
        }
        if (uint32_t count = child_count(f); count > 0) {
            yfw_map_node *kids = tree_.alloc_nodes(count);
            if (f.unsorted) in_schema_order(f);
            std::copy(kids_.begin() + static_cast<std::ptrdiff_t>(f.kids), kids_.end(), kids);
            kids_.resize(f.kids);
            n.children = kids;
            n.child_count = count;
            n.host_capacity = count;
            n.flags |= YFW_NODE_CHILDREN_VALID;
        }
        kids_.push_back(n);
        if (schema_order_ && parent != nullptr) {
            parent->unsorted = parent->unsorted || f.schema->order < parent->last_order;
            parent->last_order = f.schema->order;
        }
    }
    // Entries of one list keep their order among themselves.
    void in_schema_order(const frame &f) {
        auto order = [&f](const yfw_map_node &n) { return f.schema->child(n.tag)->order; };
        std::stable_sort(
            kids_.begin() + static_cast<std::ptrdiff_t>(f.kids), kids_.end(),
            [&](const yfw_map_node &a, const yfw_map_node &b) { return order(a) < order(b); });
    }
    std::string keys_of(const frame &f, std::size_t end) const {
        std::string s;
        for (const schema_node *k : f.schema->keys)
            for (std::size_t i = f.kids; i < end && i < kids_.size(); ++i)
                if (kids_[i].tag == k->name.c_str() && kids_[i].value)
                    s += "[" + k->name + "=" + quoted(kids_[i].value) + "]";
        return s;
    }
    std::size_t mark(const frame &f) const { return f.kids; }

    request_tree take() {
        tree_.root_ = tree_.alloc_nodes(1);
        *tree_.root_ = kids_.front();
        return std::move(tree_);
    }

private:
    bool edit_;
    bool schema_order_;
    request_tree tree_;
    std::vector<yfw_map_node> kids_;
    std::deque<entry_set> entry_sets_;
};

// Data trees: nodes go into place as they start.
class data_sink {
public:
    data_sink(const schema_node &root, const route_visitor &each_route)
        : tree_(data_tree::empty(root)), each_route_(each_route) {}

    void enter(frame &f, frame *parent) {
        f.node = parent == nullptr || parent->node == nullptr ? tree_.root
                                                              : tree_.add(parent->node, f.schema);
    }
    void set_value(frame &f, std::string_view v) {
        tree_.set_value(f.node, v);
        f.has_value = true;
    }
    void set_child_operation(frame &parent, const schema_node *s, uint32_t op) {
        if (data_node *c = parent.node->child(s)) c->op = static_cast<uint8_t>(op);
    }
    const schema_node *missing_key(const frame &f) const {
        for (const schema_node *k : f.schema->keys)
            if (f.node->child(k) == nullptr) return k;
        return nullptr;
    }
    // Entries of one list with equal keys are one entry twice.
    bool unique_entry(frame &f, frame &parent) {
        f.node->key_values(keys_);
        data_node *first = parent.node->entry(f.schema, keys_);
        // A short list is scanned, and the scan finds the entry itself.
        if (first != nullptr && first != f.node) return false;
        tree_.index_entry(f.node);
        return true;
    }
    std::string route_problem(frame &f, const std::function<std::string()> &) const {
        return native_route_problem(*f.node);
    }
    void route_done(frame &f) {
        if (each_route_) each_route_(*f.node);
    }
    void leave(frame &f, frame *) {
        if (f.has_op) f.node->op = static_cast<uint8_t>(f.op);
    }
    std::string keys_of(const frame &f, std::size_t) const {
        std::string s;
        for (const schema_node *k : f.schema->keys)
            if (const data_node *leaf = f.node->child(k); leaf != nullptr && leaf->size_ > 0)
                s += "[" + k->name + "=" + quoted(leaf->value()) + "]";
        return s;
    }
    std::size_t mark(const frame &) const { return 0; }

    data_tree take() { return std::move(tree_); }

private:
    data_tree tree_;
    const route_visitor &each_route_;
    std::vector<std::string_view> keys_;
};

// Checks and records the nodes the front ends name. Every method returns
// false once the document is refused, with err filled in.
template <class Sink>
class builder {
public:
    builder(Sink &sink, const schema_node &root, document_role role, std::string_view text,
            const std::string &file, input_error &err)
        : sink_(sink), root_(root), role_(role), text_(text), file_(file), err_(err) {
        // The readers stop at max_depth, so frames never move: sinks keep
        // pointers to a node's parent frame.
        frames_.reserve(max_depth + 2);
    }

    document_role role() const { return role_; }
    const schema_node &root() const { return root_; }
    std::size_t depth() const { return frames_.size(); }
    bool in_wrapper() const { return !frames_.empty() && frames_.back().schema == nullptr; }
    bool root_done() const { return root_count_ > 0; }
    const schema_node *current() const { return frames_.empty() ? nullptr : frames_.back().schema; }

    bool enter_wrapper(std::size_t offset) {
        frames_.push_back(frame{});
        frames_.back().offset = offset;
        return true;
    }

    bool enter_root(std::size_t offset, std::string_view name) {
        if (root_count_++ > 0)
            return fail(error_tag::malformed_message, offset, "more than one " + element_tag(name));
        return push(&root_, offset);
    }

    bool enter(const schema_node *s, std::size_t offset) {
        frame &parent = frames_.back();
        if (s->kind == kind::container || s->kind == kind::leaf) {
            uint64_t bit = uint64_t{1} << s->order;
            if ((parent.seen & bit) && role_ != document_role::filter)
                return fail(error_tag::bad_element, offset,
                            "<" + s->name + "> is given twice in " + path());
            parent.seen |= bit;
        }
        return push(s, offset);
    }

    bool set_operation(std::string_view value, std::size_t offset) {
        frame &f = frames_.back();
        if (role_ != document_role::edit)
            return fail(error_tag::unknown_attribute, offset,
                        "operations belong in edits, not in " + role_name() + " (" + path() + ")");
        if (!parse_operation(value, f.op))
            return fail(error_tag::bad_attribute, offset,
                        "invalid operation " + quoted(value) + " on " + path() +
                            " (expected merge, replace, create, delete or remove)");
        // Two prefixes of the NETCONF namespace, or two "@" members, would
        // otherwise let the last one win unseen.
        if (f.has_op)
            return fail(error_tag::bad_attribute, offset,
                        "the operation is given twice on " + path());
        f.has_op = true;
        return true;
    }

    // JSON names a leaf's operation beside the leaf, before or after it.
    bool set_child_operation(const schema_node *s, std::string_view value, std::size_t offset) {
        uint32_t op = YFW_OP_NONE;
        if (role_ != document_role::edit)
            return fail(error_tag::unknown_attribute, offset,
                        "operations belong in edits, not in " + role_name() + " (" + path() + ")");
        if (!parse_operation(value, op))
            return fail(error_tag::bad_attribute, offset,
                        "invalid operation " + quoted(value) + " on " + path() + "/" + s->name +
                            " (expected merge, replace, create, delete or remove)");
        sink_.set_child_operation(frames_.back(), s, op);
        return true;
    }

    // The text of the current node: a leaf's value, or white space around
    // the children of anything else.
    bool text(const lexical_value &v, std::size_t offset) {
        frame &f = frames_.back();
        const schema_node *s = f.schema;
        if (s == nullptr || !s->is_leaf()) {
            if (v.kind != lexical_kind::xml_text || blank(v.text)) return true;
            if (s == nullptr) return true;  // a wrapper's text is not ours to judge
            return fail(error_tag::bad_element, offset,
                        "<" + s->name + "> holds text; it takes child elements (" + path() + ")");
        }
        bool selection = role_ == document_role::filter &&
                         ((v.kind == lexical_kind::xml_text && blank(v.text)) ||
                          (v.kind == lexical_kind::json_string && v.text.empty()) ||
                          v.kind == lexical_kind::json_empty);
        if (selection) return true;
        if (role_ == document_role::edit && f.has_op && deletes(f.op) &&
            v.kind == lexical_kind::xml_text && v.text.empty())
            return true;  // a leaf to delete is named, not valued
        std::string_view canonical;
        if (!canonical_value(*s->type, v, s->module, scratch_, canonical, why_))
            return fail(error_tag::invalid_value, offset,
                        "invalid value " + quoted(v.text) + " of " + path() + ": " + why_);
        if (role_ != document_role::filter && s->config) {
            std::string why = leaf_limit_problem(s->limit, canonical);
            if (!why.empty())
                return fail(error_tag::invalid_value, offset,
                            "invalid value " + quoted(v.text) + " of " + path() + ": " + why);
        }
        sink_.set_value(f, canonical);
        return true;
    }

    bool leave(std::size_t offset) {
        frame &f = frames_.back();
        frame *parent = frames_.size() > 1 ? &frames_[frames_.size() - 2] : nullptr;
        if (f.schema == nullptr) {
            frames_.pop_back();
            return true;
        }
        if (f.schema->kind == kind::list && !entry_complete(f, *parent, offset)) return false;
        if (role_ != document_role::filter && !entry_limits(f, offset)) return false;
        sink_.leave(f, parent);
        frames_.pop_back();
        return true;
    }

    // The document path of the current node, keys as far as they are known.
    std::string path() const {
        std::string p;
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            const frame &f = frames_[i];
            if (f.schema == nullptr) continue;
            p += "/" + f.schema->name;
            if (f.schema->kind == kind::list) {
                std::size_t end =
                    i + 1 < frames_.size() ? sink_.mark(frames_[i + 1]) : std::size_t(-1);
                p += sink_.keys_of(f, end);
            }
        }
        return p.empty() ? "/" : p;
    }

    bool fail(const char *tag, std::size_t offset, std::string message) {
        err_.file = file_;
        locate(text_, offset, err_);
        err_.tag = tag;
        err_.path = path();
        err_.message = std::move(message);
        return false;
    }

private:
    std::string role_name() const { return role_ == document_role::filter ? "filters" : "data"; }

    bool push(const schema_node *s, std::size_t offset) {
        frame *parent = frames_.empty() ? nullptr : &frames_.back();
        frames_.push_back(frame{});
        frame &f = frames_.back();
        f.schema = s;
        f.offset = offset;
        sink_.enter(f, parent);
        return true;
    }

    bool entry_complete(frame &f, frame &parent, std::size_t offset) {
        // Keys are required where the entry must be found or stored by
        // them; an edit's missing key is the mapping's to report. An edit
        // names an entry once: the mapping reads what is stored for each
        // entry before the edit, so a second mention would not see the
        // first and the result would be neither.
        if (role_ == document_role::filter) return true;
        if (role_ == document_role::data)
            if (const schema_node *k = sink_.missing_key(f))
                return fail(error_tag::missing_element, offset,
                            "entry " + path() + " has no key '" + k->name + "'");
        if (!sink_.unique_entry(f, parent))
            return fail(error_tag::bad_element, offset,
                        "duplicate entry " + path() + " (each entry is given once)");
        return true;
    }

    bool entry_limits(frame &f, std::size_t offset) {
        std::string why;
        switch (f.schema->entry) {
            case entry_limit::none: return true;
            case entry_limit::oc_interface_ref:
                if constexpr (std::is_same_v<Sink, request_sink>)
                    why = interface_ref_problem(sink_.children(f), sink_.child_count(f));
                break;
            case entry_limit::oc_static:
                if constexpr (std::is_same_v<Sink, request_sink>)
                    why = static_route_problem(sink_.children(f), sink_.child_count(f));
                break;
            case entry_limit::native_route:
                // Its sentences name the route and next-hops themselves.
                if (role_ != document_role::data) return true;
                why = sink_.route_problem(f, [this] { return path(); });
                if (!why.empty()) return fail(error_tag::invalid_value, offset, why);
                sink_.route_done(f);
                break;
        }
        if (why.empty()) return true;
        return fail(error_tag::invalid_value, offset, path() + ": " + why);
    }

    Sink &sink_;
    const schema_node &root_;
    document_role role_;
    std::string_view text_;
    const std::string &file_;
    input_error &err_;
    std::vector<frame> frames_;
    unsigned root_count_ = 0;
    std::string scratch_, why_;
};

// Namespaces are compared by pointer: the schema's own, the NETCONF
// namespace, and every other one a document declares, each kept once.
class namespace_table {
public:
    const char *intern(std::string_view uri) {
        for (const char *known : known_)
            if (uri == known) return known;
        for (const std::string &u : others_)
            if (uri == u) return u.c_str();
        return others_.emplace_back(uri).c_str();
    }

private:
    const char *known_[3] = {yang_schema::get().oc_root().ns, yang_schema::get().native_root().ns,
                             netconf_namespace};
    std::deque<std::string> others_;
};

// ------------------------------------------------------------------ XML

template <class Sink>
class xml_front final : public xml_handler, public prefix_scope {
public:
    explicit xml_front(builder<Sink> &b) : b_(b) {}

    const char *namespace_of(std::string_view prefix) const override {
        for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
            if (it->first == prefix) return it->second;
        return prefix == "xml" ? xml_namespace : nullptr;
    }

    bool start_element(std::string_view qname, std::span<const xml_attribute> attributes,
                       std::size_t offset) override {
        std::size_t before = scope_.size();
        for (const xml_attribute &a : attributes) {
            if (a.name == "xmlns")
                scope_.emplace_back(std::string_view(), intern(a.value));
            else if (a.name.starts_with("xmlns:"))
                scope_.emplace_back(a.name.substr(6), intern(a.value));
        }
        pushed_.push_back(scope_.size() - before);
        auto [prefix, local] = split(qname);
        const char *ns = namespace_of(prefix);
        if (ns == nullptr && !prefix.empty())
            return b_.fail(
                error_tag::malformed_message, offset,
                "undeclared namespace prefix " + quoted(prefix) + " on " + element_tag(qname));
        if (!name(qname, local, ns, offset)) return false;
        for (const xml_attribute &a : attributes) {
            if (a.name == "xmlns" || a.name.starts_with("xmlns:")) continue;
            auto [ap, al] = split(a.name);
            const char *ans = ap.empty() ? nullptr : namespace_of(ap);
            if (b_.current() == nullptr) continue;  // the wrapper's, such as type="subtree"
            if (ans == netconf_namespace && al == "operation") {
                if (!b_.set_operation(a.value, a.offset)) return false;
                continue;
            }
            return b_.fail(error_tag::unknown_attribute, a.offset,
                           "unknown attribute " + quoted(a.name) + " on " + element_tag(qname) +
                               " (" + b_.path() + ")");
        }
        return true;
    }

    bool text(std::string_view text, std::size_t offset) override {
        return b_.text({text, lexical_kind::xml_text, this}, offset);
    }

    bool end_element(std::size_t offset) override {
        bool wrapper = b_.in_wrapper();
        if (!b_.leave(offset)) return false;
        scope_.resize(scope_.size() - pushed_.back());
        pushed_.pop_back();
        if (wrapper && b_.depth() == 0 && !b_.root_done()) return no_root(offset);
        return true;
    }

    bool no_root(std::size_t offset) {
        return b_.fail(error_tag::malformed_message, offset,
                       "no <" + b_.root().name + "> in namespace " + b_.root().ns +
                           " at the top or under <" + std::string(wrapper_name_) + ">");
    }

private:
    static std::pair<std::string_view, std::string_view> split(std::string_view qname) {
        size_t colon = qname.find(':');
        if (colon == std::string_view::npos) return {{}, qname};
        return {qname.substr(0, colon), qname.substr(colon + 1)};
    }

    const char *intern(std::string_view uri) { return names_.intern(uri); }

    // Finds the schema node an element stands for and enters it.
    bool name(std::string_view qname, std::string_view local, const char *ns, std::size_t offset) {
        const schema_node &root = b_.root();
        bool is_root = local == root.name && ns == root.ns;
        if (b_.depth() == 0) {
            if (is_root) return b_.enter_root(offset, local);
            wrapper_name_.assign(qname);
            return b_.enter_wrapper(offset);
        }
        const schema_node *parent = b_.current();
        if (parent == nullptr) {
            if (is_root) return b_.enter_root(offset, local);
            return b_.fail(
                local == root.name ? error_tag::unknown_namespace : error_tag::unknown_element,
                offset,
                element_tag(qname) + " in namespace " + quoted(ns ? ns : "") + " is not <" +
                    root.name + "> in " + root.ns + ", the only element accepted under <" +
                    wrapper_name_ + ">");
        }
        if (parent->is_leaf())
            return b_.fail(error_tag::bad_element, offset,
                           "leaf " + b_.path() + " holds the element " + element_tag(qname));
        const schema_node *s = child_named(*parent, local);
        if (s == nullptr || ns != s->ns) {
            bool ours = ns == parent->ns;
            return b_.fail(
                ours ? error_tag::unknown_element : error_tag::unknown_namespace, offset,
                (ours ? "unknown element " + element_tag(qname)
                      : "element " + element_tag(qname) + " in namespace " + quoted(ns ? ns : "")) +
                    " under " + b_.path());
        }
        return b_.enter(s, offset);
    }

    builder<Sink> &b_;
    namespace_table names_;
    std::vector<std::pair<std::string_view, const char *>> scope_;
    std::vector<std::size_t> pushed_;
    std::string wrapper_name_;
};

// ------------------------------------------------------------------ JSON

constexpr std::string_view operation_member = "ietf-netconf:operation";

template <class Sink>
class json_front final : public json_handler {
public:
    explicit json_front(builder<Sink> &b) : b_(b) { stack_.reserve(2 * max_depth); }

    bool begin_object(std::size_t offset) override {
        if (stack_.empty()) {
            push(level::top);
            return true;
        }
        level &l = stack_.back();
        switch (l.kind) {
            case level::top:
            case level::wrapper:
                if (l.pending_root) {
                    l.pending_root = false;
                    if (!b_.enter_root(offset, b_.root().name)) return false;
                    push(level::node);
                    return true;
                }
                if (l.kind == level::top && l.pending_wrapper) {
                    l.pending_wrapper = false;
                    if (!b_.enter_wrapper(offset)) return false;
                    push(level::wrapper);
                    return true;
                }
                break;
            case level::node:
                if (l.meta != meta_kind::none) {
                    meta_kind m = std::exchange(l.meta, meta_kind::none);
                    const schema_node *target = l.meta_for;
                    push(level::metadata);  // l is not to be used after this
                    stack_.back().meta = m;
                    stack_.back().meta_for = target;
                    return true;
                }
                if (l.pending != nullptr && l.pending->kind == kind::container) {
                    const schema_node *s = std::exchange(l.pending, nullptr);
                    if (!enter(s, offset)) return false;
                    push(level::node);
                    return true;
                }
                if (l.pending != nullptr) return shape(offset, expected_for(*l.pending));
                break;
            case level::list:
                if (!enter(l.entries_of, offset)) return false;
                push(level::node);
                return true;
            default: break;
        }
        return shape(offset, "an object here");
    }

    bool member(std::string_view name, std::size_t offset) override {
        level &l = stack_.back();
        if (name.find('\0') != std::string_view::npos)
            return b_.fail(error_tag::malformed_message, offset,
                           "a member name must not contain a NUL character (\\u0000)");
        switch (l.kind) {
            case level::top:
            case level::wrapper: {
                if (l.members++ > 0)
                    return b_.fail(
                        l.kind == level::top ? error_tag::malformed_message
                                             : error_tag::unknown_element,
                        offset,
                        "unexpected member " + quoted(name) +
                            ": the document holds "
                            "one member, " +
                            root_member() +
                            (l.kind == level::top ? " or one wrapper object holding it" : ""));
                if (name == root_member())
                    l.pending_root = true;
                else if (l.kind == level::top)
                    l.pending_wrapper = true;
                else
                    return b_.fail(error_tag::unknown_element, offset,
                                   "no member \"" + root_member() +
                                       "\" at the top or inside a single wrapper object");
                return true;
            }
            case level::metadata:
                if (name != operation_member)
                    return b_.fail(error_tag::unknown_attribute, offset,
                                   "unknown metadata " + quoted(name) + " on " + b_.path());
                l.pending_operation = true;
                return true;
            case level::node: break;
            default: return b_.fail(error_tag::malformed_message, offset, "unexpected member");
        }
        const schema_node *parent = b_.current();
        if (name == "@") {
            l.meta = meta_kind::self;
            return true;
        }
        if (name.starts_with("@")) {
            const schema_node *s = resolve(*parent, name.substr(1), offset);
            if (s == nullptr) return false;
            if (!s->is_leaf())
                return b_.fail(error_tag::unknown_attribute, offset,
                               "metadata " + quoted(name) + " names no leaf of " + b_.path());
            l.meta = meta_kind::leaf;
            l.meta_for = s;
            return true;
        }
        const schema_node *s = resolve(*parent, name, offset);
        if (s == nullptr) return false;
        uint64_t bit = uint64_t{1} << s->order;
        if (l.seen & bit)
            return b_.fail(error_tag::bad_element, offset,
                           "member " + quoted(name) + " is given twice in " + b_.path());
        l.seen |= bit;
        l.pending = s;
        return true;
    }

    bool end_object(std::size_t offset) override {
        level l = stack_.back();
        stack_.pop_back();
        switch (l.kind) {
            case level::node: {
                if (!l.later_ops.empty())
                    return b_.fail(error_tag::unknown_attribute, offset,
                                   "metadata for " + l.later_ops.front().first->name +
                                       ", which is not in " + b_.path());
                return b_.leave(offset);
            }
            case level::wrapper:
                if (!b_.leave(offset)) return false;
                [[fallthrough]];
            case level::top:
                if (!b_.root_done())
                    return b_.fail(error_tag::malformed_message, offset,
                                   "no member \"" + root_member() +
                                       "\" at the top or inside a single wrapper object");
                return true;
            case level::metadata: return true;
            default: return shape(offset, "the end of an object");
        }
    }

    bool begin_array(std::size_t offset) override {
        if (stack_.empty()) return shape(offset, "an object at the top");
        level &l = stack_.back();
        if (l.kind == level::list)
            return shape(offset, "an object for each entry of the list " + l.entries_of->name);
        if (l.kind == level::top || l.kind == level::wrapper)
            return shape(offset, "an object holding " + root_member());
        if (l.kind == level::node && l.pending != nullptr && l.meta == meta_kind::none) {
            const schema_node *s = std::exchange(l.pending, nullptr);
            if (s->kind == kind::list) {
                push(level::list);
                stack_.back().entries_of = s;
                return true;
            }
            // [null]: the value of a leaf of type empty, or in a filter the
            // selection of any leaf.
            if (s->is_leaf() &&
                (s->type->kind == value_type::base::empty || b_.role() == document_role::filter)) {
                if (!enter(s, offset)) return false;
                push(level::empty_value);
                return true;
            }
            return shape(offset, expected_for(*s));
        }
        return shape(offset, "an array");
    }

    bool end_array(std::size_t offset) override {
        level l = stack_.back();
        stack_.pop_back();
        if (l.kind == level::list) return true;
        if (l.kind == level::empty_value) {
            if (l.members != 1) return shape(offset, "exactly one null in [null]");
            return b_.leave(offset);
        }
        return shape(offset, "the end of an array");
    }

    bool scalar(json_kind k, std::string_view text, std::size_t offset) override {
        if (stack_.empty()) return shape(offset, "an object at the top");
        level &l = stack_.back();
        if (l.kind == level::metadata && l.pending_operation) {
            l.pending_operation = false;
            if (k != json_kind::string) return shape(offset, "an operation name");
            if (l.meta == meta_kind::self) return b_.set_operation(text, offset);
            return leaf_operation(l.meta_for, text, offset);
        }
        if (l.kind == level::empty_value) {
            if (k != json_kind::null_value || l.members++ > 0)
                return shape(offset, "[null], the value of an empty leaf");
            return b_.text({{}, lexical_kind::json_empty, nullptr}, offset);
        }
        if (l.kind != level::node || l.pending == nullptr || l.meta != meta_kind::none ||
            !l.pending->is_leaf())
            return shape(offset, l.kind == level::node && l.pending != nullptr
                                     ? expected_for(*l.pending)
                                     : "a member");
        const schema_node *s = std::exchange(l.pending, nullptr);
        if (text.find('\0') != std::string_view::npos)
            return b_.fail(error_tag::invalid_value, offset,
                           "a value must not contain a NUL character (\\u0000)");
        static constexpr lexical_kind kinds[] = {
            lexical_kind::json_string, lexical_kind::json_number, lexical_kind::json_boolean,
            lexical_kind::json_boolean, lexical_kind::json_empty};
        if (k == json_kind::null_value) return shape(offset, "a value (null is not one)");
        if (!enter(s, offset)) return false;
        // A leaf's operation given before the leaf itself.
        for (auto it = l.later_ops.begin(); it != l.later_ops.end(); ++it) {
            if (it->first != s) continue;
            if (!b_.set_operation(it->second, offset)) return false;
            l.later_ops.erase(it);
            break;
        }
        if (!b_.text({text, kinds[static_cast<int>(k)], nullptr}, offset)) return false;
        l.done |= uint64_t{1} << s->order;
        return b_.leave(offset);
    }

private:
    enum class meta_kind : uint8_t { none, self, leaf };
    struct level {
        enum kind_t : uint8_t { top, wrapper, node, list, empty_value, metadata } kind = top;
        const schema_node *pending = nullptr;     // node: the member whose value comes next
        const schema_node *entries_of = nullptr;  // list: the list its objects are entries of
        meta_kind meta = meta_kind::none;         // node: metadata comes next / metadata: for what
        const schema_node *meta_for = nullptr;
        bool pending_root = false, pending_wrapper = false, pending_operation = false;
        unsigned members = 0;
        uint64_t seen = 0, done = 0;
        std::vector<std::pair<const schema_node *, std::string>> later_ops;
    };

    std::string root_member() const { return std::string(b_.root().module) + ":" + b_.root().name; }

    static std::string expected_for(const schema_node &s) {
        switch (s.kind) {
            case kind::container: return "an object for " + s.name;
            case kind::list: return "an array of objects for the list " + s.name;
            default: return "a single value for the leaf " + s.name;
        }
    }

    bool shape(std::size_t offset, const std::string &expected) {
        return b_.fail(error_tag::malformed_message, offset,
                       "expected " + expected + " in " + b_.path() +
                           " (RFC 7951 encodes containers as objects, lists as arrays of "
                           "objects and leaves as single values)");
    }

    bool enter(const schema_node *s, std::size_t offset) { return b_.enter(s, offset); }

    void push(typename level::kind_t k) {
        stack_.emplace_back();
        stack_.back().kind = k;
    }

    // "module:name" or, in the parent's module, "name".
    const schema_node *resolve(const schema_node &parent, std::string_view name,
                               std::size_t offset) {
        std::string_view local = name;
        const char *ns = parent.ns;
        if (size_t colon = name.find(':'); colon != std::string_view::npos) {
            ns = namespace_of_module(name.substr(0, colon));
            local = name.substr(colon + 1);
            if (ns == nullptr || ns == netconf_namespace) {
                b_.fail(error_tag::unknown_namespace, offset,
                        "unknown module " + quoted(name.substr(0, colon)) + " in member " +
                            quoted(name) + " under " + b_.path());
                return nullptr;
            }
        }
        const schema_node *s = child_named(parent, local);
        if (s == nullptr || std::strcmp(ns, s->ns) != 0) {
            bool ours = std::strcmp(ns, parent.ns) == 0;
            b_.fail(ours ? error_tag::unknown_element : error_tag::unknown_namespace, offset,
                    (ours ? "unknown member " : "member of another module ") + quoted(name) +
                        " under " + b_.path());
            return nullptr;
        }
        return s;
    }

    bool leaf_operation(const schema_node *s, std::string_view op, std::size_t offset) {
        level &parent = stack_[stack_.size() - 2];
        if (parent.done & (uint64_t{1} << s->order)) return b_.set_child_operation(s, op, offset);
        parent.later_ops.emplace_back(s, std::string(op));
        return true;
    }

    builder<Sink> &b_;
    std::vector<level> stack_;
};

void reader_failed(const reader_error &re, std::string_view text, const std::string &file,
                   input_error &err) {
    err.file = file;
    locate(text, re.offset, err);
    if (re.out_of_memory) err.line = err.column = 0;  // no place in the document is at fault
    err.tag = re.out_of_memory ? error_tag::resource_denied : error_tag::malformed_message;
    err.path.clear();
    err.message = re.message;
}

template <class Sink>
bool read_into(Sink &sink, std::string_view text, const std::string &file, const schema_node &root,
               document_role role, input_error &err) {
    builder<Sink> b(sink, root, role, text, file, err);
    reader_error re;
    bool json = is_json_document(text);
    bool ok;
    if (json) {
        json_front<Sink> front(b);
        ok = read_json(text, front, max_depth, re);
    } else {
        xml_front<Sink> front(b);
        ok = read_xml(text, front, max_depth, re);
        if (ok && !b.root_done()) ok = front.no_root(text.size());
    }
    if (!ok && !re.message.empty()) reader_failed(re, text, file, err);
    return ok;
}

}  // namespace

bool is_json_document(std::string_view text) {
    if (text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);
    size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
}

std::optional<request_tree> read_request_document(std::string_view text, const std::string &file,
                                                  const schema_node &root, document_role role,
                                                  input_error &err, bool in_schema_order) {
    request_sink sink(role == document_role::edit, in_schema_order);
    if (!read_into(sink, text, file, root, role, err)) return std::nullopt;
    return sink.take();
}

std::optional<data_tree> read_data_document(std::string_view text, const std::string &file,
                                            const schema_node &root, document_role role,
                                            input_error &err, const route_visitor &each_route) {
    data_sink sink(root, each_route);
    if (!read_into(sink, text, file, root, role, err)) return std::nullopt;
    return sink.take();
}

}  // namespace yfw_host
