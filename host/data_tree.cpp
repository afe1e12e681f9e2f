// Schema-bound data trees: building, editing and looking things up.
#include "data_tree.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;

// Up to this many entries, an entry is found by comparing keys in place:
// cheaper than a hash index, which most nodes (a route's next-hop table
// with a few entries) would never repay.
constexpr std::size_t index_threshold = 16;

// The index key of an entry: its list and its key values, written into a
// buffer the caller reuses, so a look-up allocates nothing.
void index_key(std::string &k, const schema_node *list, const std::vector<std::string_view> &keys) {
    k.assign(reinterpret_cast<const char *>(&list), sizeof list);
    for (std::string_view v : keys) {
        k += v;
        k += '\0';
    }
}

std::vector<std::string_view> &key_scratch() {
    static thread_local std::vector<std::string_view> keys;
    return keys;
}

std::string &index_scratch() {
    static thread_local std::string k;
    return k;
}

bool has_keys(const data_node &e, const std::vector<std::string_view> &keys) {
    const auto &ks = e.schema->keys;
    if (keys.size() != ks.size()) return false;
    for (std::size_t i = 0; i < ks.size(); ++i) {
        const data_node *leaf = e.child(ks[i]);
        if (leaf == nullptr || leaf->value() != keys[i]) return false;
    }
    return true;
}

// The first child at or after schema position `order`.
data_node *first_at(const data_node &n, uint16_t order) {
    data_node *c = n.first;
    while (c != nullptr && c->schema->order < order) c = c->next;
    return c;
}

}  // namespace

struct data_node::entry_index {
    struct text_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_map<std::string, data_node *, text_hash, std::equal_to<>> map;
};

data_node *data_node::child(const schema_node *s) const {
    data_node *c = first_at(*this, s->order);
    return c != nullptr && c->schema == s ? c : nullptr;
}

bool data_node::key_values(std::vector<std::string_view> &out) const {
    out.clear();
    for (const schema_node *k : schema->keys) {
        const data_node *leaf = child(k);
        if (leaf == nullptr) return false;
        out.push_back(leaf->value());
    }
    return true;
}

data_node *data_node::entry(const schema_node *s, const std::vector<std::string_view> &keys) const {
    if (index == nullptr) {
        // The first entry with these keys, as the index would keep it. A
        // list that grows long gets its index from data_tree::index_entry.
        for (data_node *c = first_at(*this, s->order); c != nullptr && c->schema == s; c = c->next)
            if (has_keys(*c, keys)) return c;
        return nullptr;
    }
    std::string &k = index_scratch();
    index_key(k, s, keys);
    auto it = index->map.find(std::string_view(k));
    return it == index->map.end() ? nullptr : it->second;
}

std::string data_node::path() const {
    std::string p = parent ? parent->path() : std::string();
    p += "/" + schema->name;
    if (schema->kind == kind::list) {
        for (const schema_node *k : schema->keys) {
            const data_node *leaf = child(k);
            if (leaf) p += "[" + k->name + "=" + quoted(leaf->value()) + "]";
        }
    }
    return p;
}

// ------------------------------------------------------------------ tree

data_tree::data_tree(data_tree &&other) noexcept {
    *this = std::move(other);
}

data_tree &data_tree::operator=(data_tree &&other) noexcept {
    if (this == &other) return *this;
    root = std::exchange(other.root, nullptr);
    arena_ = std::move(other.arena_);
    free_ = std::exchange(other.free_, nullptr);
    indexes_ = std::move(other.indexes_);
    waste_ = std::exchange(other.waste_, 0);
    return *this;
}

data_tree::~data_tree() = default;

data_node *data_tree::make(const schema_node *s, data_node *parent) {
    data_node *n = free_;
    if (n != nullptr) {
        free_ = n->next;
        waste_ -= sizeof(data_node);
        *n = data_node{};
    } else {
        n = new (arena_.allocate(sizeof(data_node), alignof(data_node))) data_node();
    }
    n->schema = s;
    n->parent = parent;
    return n;
}

data_tree data_tree::empty(const schema_node &root_schema) {
    data_tree t;
    t.root = t.make(&root_schema, nullptr);
    return t;
}

namespace {

void clone_into(data_tree &t, const data_node &from, data_node &to) {
    to.op = from.op;
    if (from.schema->is_leaf()) t.set_value(&to, from.value());
    for (const data_node *c : from.children()) clone_into(t, *c, *t.add(&to, c->schema));
    if (to.schema->kind == kind::list) t.index_entry(&to);
}

}  // namespace

data_tree data_tree::clone() const {
    data_tree t = empty(*root->schema);
    clone_into(t, *root, *t.root);
    return t;
}

data_node *data_tree::add(data_node *parent, const schema_node *s) {
    data_node *n = make(s, parent);
    // After every child of the same or an earlier schema position; new list
    // entries go last among their list's entries. Appending is the common
    // case, so look from the end.
    data_node *after = parent->last;
    while (after != nullptr && after->schema->order > s->order) after = after->prev;
    n->prev = after;
    n->next = after != nullptr ? after->next : parent->first;
    (after != nullptr ? after->next : parent->first) = n;
    (n->next != nullptr ? n->next->prev : parent->last) = n;
    return n;
}

data_node *data_tree::add_entry(data_node *parent, const schema_node *s,
                                const std::vector<std::string_view> &keys) {
    data_node *e = add(parent, s);
    for (std::size_t i = 0; i < s->keys.size() && i < keys.size(); ++i)
        set_value(add(e, s->keys[i]), keys[i]);
    index_entry(e);
    return e;
}

void data_tree::index_entry(data_node *e) {
    data_node *parent = e->parent;
    if (parent->index == nullptr) {
        // Made once the list has grown past what a scan finds quickly.
        std::size_t entries = 0;
        for (data_node *c = first_at(*parent, e->schema->order);
             c != nullptr && entries <= index_threshold; c = c->next)
            entries += c->schema->kind == kind::list;
        if (entries <= index_threshold) return;
        indexes_.push_back(std::make_unique<data_node::entry_index>());
        parent->index = indexes_.back().get();
        for (data_node *c : parent->children())
            if (c->schema->kind == kind::list && c != e) index_entry(c);
    }
    auto &keys = key_scratch();
    if (!e->key_values(keys)) return;
    std::string &k = index_scratch();
    index_key(k, e->schema, keys);
    parent->index->map.emplace(k, e);
}

void data_tree::set_value(data_node *leaf, std::string_view v) {
    if (leaf->value() == v) return;
    waste_ += leaf->size_ > 0 ? leaf->size_ + 1 : 0;
    auto *at = static_cast<char *>(arena_.allocate(v.size() + 1, 1));
    if (!v.empty()) std::memcpy(at, v.data(), v.size());  // an empty view may have no data
    at[v.size()] = '\0';
    leaf->value_ = at;
    leaf->size_ = static_cast<uint32_t>(v.size());
}

void data_tree::drop(data_node *n) {
    for (data_node *c = n->first; c != nullptr;) {
        data_node *next = c->next;
        drop(c);
        c = next;
    }
    waste_ += sizeof(data_node) + (n->size_ > 0 ? n->size_ + 1 : 0);
    n->next = free_;
    free_ = n;
}

void data_tree::remove(data_node *c) {
    data_node *parent = c->parent;
    if (c->schema->kind == kind::list && parent->index != nullptr) {
        auto &keys = key_scratch();
        if (c->key_values(keys)) {
            std::string &k = index_scratch();
            index_key(k, c->schema, keys);
            auto it = parent->index->map.find(std::string_view(k));
            if (it != parent->index->map.end() && it->second == c) parent->index->map.erase(it);
        }
    }
    (c->prev != nullptr ? c->prev->next : parent->first) = c->next;
    (c->next != nullptr ? c->next->prev : parent->last) = c->prev;
    drop(c);
}

void data_tree::clear_content(data_node *n) {
    for (data_node *c = n->first; c != nullptr;) {
        data_node *next = c->next;
        if (!c->schema->is_key) remove(c);
        c = next;
    }
    if (n->index != nullptr) {
        n->index->map.clear();
        n->index = nullptr;
    }
}

// ------------------------------------------------------------------ output

// One edit may reach the same node twice with opposite meanings. Removed
// and then added again is a replace. Added and then removed is one too: the
// mapping removes an entry it found stored (an entry moved to another list,
// a next-hop deleted), never one this edit writes, so the removal clears what
// was stored and what the edit asked for stays. Taking the later operation
// there would silently drop a next-hop the edit asked for whenever another
// next-hop of the same edit moved away from the same native entry.
uint32_t combine_operations(uint32_t first, uint32_t later) {
    auto removes = [](uint32_t op) { return op == YFW_OP_DELETE || op == YFW_OP_REMOVE; };
    if (removes(first) != removes(later)) return YFW_OP_REPLACE;
    return later;
}

namespace {

void copy_children(data_tree &t, const out_node &from, data_node &to) {
    for (const out_node *c : from.children) {
        data_node *n = t.add(&to, c->schema);
        if (c->op()) n->op = static_cast<uint8_t>(*c->op());
        if (c->schema->is_leaf()) {
            if (c->value()) t.set_value(n, *c->value());
        } else {
            copy_children(t, *c, *n);
        }
    }
}

}  // namespace

std::optional<data_tree> document_of(output_tree &out, const schema_node &root_schema,
                                     std::string &err) {
    const out_node *doc = out.document_of(root_schema, err);
    if (doc == nullptr) return std::nullopt;
    data_tree t = data_tree::empty(root_schema);
    if (doc->op()) t.root->op = static_cast<uint8_t>(*doc->op());
    copy_children(t, *doc, *t.root);
    return t;
}

// ------------------------------------------------------------------ requests

namespace {

void fill(request_tree &t, const data_node &from, yfw_map_node &to) {
    to = yfw_map_node{};
    to.tag = from.schema->name.c_str();
    to.ns = from.schema->ns;
    if (from.schema->is_leaf()) {
        // A copy: the native walk writes into values (it cuts the
        // subinterface off an interface name).
        if (from.size_ > 0) {
            to.value = t.keep(from.value());
            to.flags |= YFW_NODE_HAS_VALUE;
        }
        return;
    }
    uint32_t count = 0;
    for (const data_node *c = from.first; c != nullptr; c = c->next) ++count;
    if (count == 0) return;
    yfw_map_node *kids = t.alloc_nodes(count);
    uint32_t i = 0;
    for (const data_node *c = from.first; c != nullptr; c = c->next) fill(t, *c, kids[i++]);
    to.children = kids;
    to.child_count = count;
    to.host_capacity = count;
    to.flags |= YFW_NODE_CHILDREN_VALID;
}

}  // namespace

request_tree request_tree_of(const data_node &root) {
    request_tree t;
    t.root_ = t.alloc_nodes(1);
    fill(t, root, *t.root_);
    return t;
}

}  // namespace yfw_host
