// Schema-bound data trees: building, editing, reading and writing them.
#include "data_tree.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;

bool by_order(const std::unique_ptr<data_node> &n, uint16_t order) {
    return n->schema->order < order;
}

// Up to this many children, an entry is found by comparing keys in place:
// cheaper than a hash index, which most nodes (a route's next-hop table
// with a few entries) would never repay.
constexpr std::size_t index_threshold = 16;

// The index key of an entry: the list's name and its key values, written
// into a buffer the caller reuses, so a look-up allocates nothing.
void index_key(std::string &k, const schema_node *list, const std::vector<std::string_view> &keys) {
    k.assign(list->name);
    for (std::string_view v : keys) {
        k += '\0';
        k += v;
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
        if (leaf == nullptr || leaf->value != keys[i]) return false;
    }
    return true;
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

namespace {

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every node is its own allocation, so a node used
// after it was freed is still caught.
constexpr bool pooled = false;
#else
constexpr bool pooled = true;
#endif

// Free nodes of this thread, and the rest of the block being carved. A node
// freed by another thread than the one that made it simply joins that
// thread's list.
struct node_pool {
    struct free_node {
        free_node *next;
    };
    free_node *free = nullptr;
    char *next = nullptr;
    char *end = nullptr;
    unsigned generation = 0;  // of the blocks this state refers to
};
thread_local node_pool pool;

// Blocks stay until release_pool finds no node alive (nodes are reused, not
// returned), held here so they remain reachable.
std::mutex blocks_mutex;
auto *blocks = new std::vector<std::unique_ptr<char[]>>;
std::atomic<std::size_t> live_nodes{0};
// Advanced by each release: a thread's pool state from before it points
// into freed blocks and is dropped on its next use.
std::atomic<unsigned> blocks_generation{0};

node_pool &current_pool() {
    node_pool &p = pool;
    unsigned g = blocks_generation.load(std::memory_order_relaxed);
    if (p.generation != g) p = node_pool{nullptr, nullptr, nullptr, g};
    return p;
}

}  // namespace

void *data_node::operator new(std::size_t size) {
    if (size != sizeof(data_node)) return ::operator new(size);
    if (!pooled) {
        void *at = ::operator new(size);
        live_nodes.fetch_add(1, std::memory_order_relaxed);
        return at;
    }
    node_pool &p = current_pool();
    if (p.free != nullptr) {
        node_pool::free_node *f = p.free;
        p.free = f->next;
        live_nodes.fetch_add(1, std::memory_order_relaxed);
        return f;
    }
    if (p.next == p.end) {
        constexpr std::size_t block_bytes = 4096 * sizeof(data_node);
        std::unique_ptr<char[]> block(new char[block_bytes]);
        p.next = block.get();
        p.end = p.next + block_bytes;
        std::lock_guard<std::mutex> hold(blocks_mutex);
        blocks->push_back(std::move(block));
    }
    void *at = p.next;
    p.next += sizeof(data_node);
    live_nodes.fetch_add(1, std::memory_order_relaxed);
    return at;
}

void data_node::operator delete(void *ptr, std::size_t size) noexcept {
    if (size != sizeof(data_node)) {
        ::operator delete(ptr);
        return;
    }
    live_nodes.fetch_sub(1, std::memory_order_relaxed);
    if (!pooled) {
        ::operator delete(ptr);
        return;
    }
    node_pool &p = current_pool();
    auto *f = static_cast<node_pool::free_node *>(ptr);
    f->next = p.free;
    p.free = f;
}

bool data_node::release_pool() {
    std::lock_guard<std::mutex> hold(blocks_mutex);
    if (live_nodes.load() != 0) return false;
    if (!pooled) return true;
    blocks->clear();
    blocks->shrink_to_fit();
    blocks_generation.fetch_add(1);
    return true;
}

data_node::data_node() = default;
data_node::~data_node() = default;

data_node *data_node::child(const schema_node *s) const {
    auto it = std::lower_bound(children.begin(), children.end(), s->order, by_order);
    return it != children.end() && (*it)->schema == s ? it->get() : nullptr;
}

bool data_node::key_values(std::vector<std::string_view> &out) const {
    out.clear();
    for (const schema_node *k : schema->keys) {
        const data_node *leaf = child(k);
        if (leaf == nullptr) return false;
        out.push_back(leaf->value);
    }
    return true;
}

void data_node::index_insert(data_node *e) const {
    if (!index_) return;
    auto &keys = key_scratch();
    if (!e->key_values(keys)) return;
    std::string &k = index_scratch();
    index_key(k, e->schema, keys);
    index_->map.emplace(k, e);
}

void data_node::index_erase(data_node *e) const {
    if (!index_) return;
    auto &keys = key_scratch();
    if (!e->key_values(keys)) return;
    std::string &k = index_scratch();
    index_key(k, e->schema, keys);
    auto it = index_->map.find(std::string_view(k));
    if (it != index_->map.end() && it->second == e) index_->map.erase(it);
}

data_node *data_node::entry(const schema_node *s, const std::vector<std::string_view> &keys) const {
    if (!index_ && children.size() <= index_threshold) {
        // The first entry with these keys, as the index would keep it.
        auto it = std::lower_bound(children.begin(), children.end(), s->order, by_order);
        for (; it != children.end() && (*it)->schema == s; ++it)
            if (has_keys(**it, keys)) return it->get();
        return nullptr;
    }
    if (!index_) {
        index_ = std::make_unique<entry_index>();
        for (const auto &c : children)
            if (c->schema->kind == kind::list) index_insert(c.get());
    }
    std::string &k = index_scratch();
    index_key(k, s, keys);
    auto it = index_->map.find(std::string_view(k));
    return it == index_->map.end() ? nullptr : it->second;
}

data_node *data_node::add(const schema_node *s) {
    auto n = std::make_unique<data_node>();
    n->schema = s;
    n->parent = this;
    data_node *raw = n.get();
    // After every child of the same or an earlier schema position; new list
    // entries go last among their list's entries. Appending is the common
    // case, so look from the end.
    auto pos = children.end();
    while (pos != children.begin() && (*(pos - 1))->schema->order > s->order) --pos;
    children.insert(pos, std::move(n));
    return raw;
}

data_node *data_node::add_entry(const schema_node *s, const std::vector<std::string_view> &keys) {
    data_node *e = add(s);
    for (std::size_t i = 0; i < s->keys.size() && i < keys.size(); ++i)
        e->add(s->keys[i])->value.assign(keys[i]);
    index_insert(e);
    return e;
}

void data_node::remove(data_node *c) {
    if (c->schema->kind == kind::list) index_erase(c);
    auto first = std::lower_bound(children.begin(), children.end(), c->schema->order, by_order);
    auto it = std::find_if(first, children.end(), [c](const auto &p) { return p.get() == c; });
    if (it != children.end()) children.erase(it);
}

void data_node::clear_content() {
    std::erase_if(children, [](const auto &c) { return !c->schema->is_key; });
    index_.reset();
}

std::string data_node::path() const {
    std::string p = parent ? parent->path() : std::string();
    p += "/" + schema->name;
    if (schema->kind == kind::list) {
        for (const schema_node *k : schema->keys) {
            const data_node *leaf = child(k);
            if (leaf) p += "[" + k->name + "=" + quoted(leaf->value) + "]";
        }
    }
    return p;
}

data_tree data_tree::empty(const schema_node &root_schema) {
    data_tree t;
    t.root = std::make_unique<data_node>();
    t.root->schema = &root_schema;
    return t;
}

namespace {

void clone_into(const data_node &from, data_node &to) {
    to.schema = from.schema;
    to.value = from.value;
    to.op = from.op;
    to.children.reserve(from.children.size());
    for (const auto &c : from.children) {
        auto n = std::make_unique<data_node>();
        n->parent = &to;
        clone_into(*c, *n);
        to.children.push_back(std::move(n));
    }
}

}  // namespace

std::unique_ptr<data_node> data_tree::clone_root() const {
    auto n = std::make_unique<data_node>();
    clone_into(*root, *n);
    return n;
}

// ------------------------------------------------------------------ output

uint32_t combine_operations(uint32_t first, uint32_t later) {
    bool removed = first == YFW_OP_DELETE || first == YFW_OP_REMOVE;
    bool added = later == YFW_OP_NONE || later == YFW_OP_CREATE || later == YFW_OP_REPLACE;
    if (removed && added) return YFW_OP_REPLACE;
    return later;
}

namespace {

void copy_children(const out_node &from, data_node &to) {
    for (const out_node *c : from.children) {
        data_node *n = to.add(c->schema);
        if (c->op()) n->op = static_cast<uint8_t>(*c->op());
        if (c->schema->is_leaf()) {
            if (c->value()) n->value.assign(*c->value());
        } else {
            copy_children(*c, *n);
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
    copy_children(*doc, *t.root);
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
        if (!from.value.empty()) {
            to.value = t.keep(from.value);
            to.flags |= YFW_NODE_HAS_VALUE;
        }
        return;
    }
    if (from.children.empty()) return;
    auto count = static_cast<uint32_t>(from.children.size());
    yfw_map_node *kids = t.alloc_nodes(count);
    for (uint32_t i = 0; i < count; ++i) fill(t, *from.children[i], kids[i]);
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
