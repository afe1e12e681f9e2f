// The output tree: the record of every add and the document they build.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

#include <link.h>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

// Adds mostly continue in the child added last (the entry of a list being
// filled in), so that is tried first; otherwise the children are scanned,
// which stays short because only list entries come in numbers, and the
// lists of the two modules have no siblings of other names.
out_node *out_node::newest_child(std::string_view n) const {
    out_node *last = children.back();
    if (last == nullptr || last->name() == n) return last;
    out_node *found = nullptr;
    for (out_node *c : children)
        if (c->name() == n) found = c;
    return found;
}

namespace {
const out_name no_name{};
}  // namespace

output_tree::output_tree() {
    root_.qname = &no_name;
}

output_tree::output_tree(output_tree &&other) noexcept {
    *this = std::move(other);
}

output_tree &output_tree::operator=(output_tree &&other) noexcept {
    if (this == &other) return *this;
    paths_ = std::move(other.paths_);
    by_address_ = other.by_address_;  // points into paths_, whose entries stay put
    other.by_address_ = {};
    other_ns_paths_ = std::move(other.other_ns_paths_);
    // Nodes live in the arena and stay where they are; only what pointed at
    // the other tree's root must follow it.
    root_ = std::move(other.root_);
    arena_ = std::move(other.arena_);
    interned_ = std::move(other.interned_);
    qnames_ = std::move(other.qnames_);
    qname_index_ = std::move(other.qname_index_);
    last_ns_ = other.last_ns_;
    last_ns_literal_ = other.last_ns_literal_;
    other.last_ns_ = {};
    other.last_ns_literal_ = nullptr;
    adds_ = std::move(other.adds_);
    record_ = other.record_;
    distinct_entries_ = other.distinct_entries_;
    unbound_ = other.unbound_;
    expected_ = other.expected_;
    // The chain points at the other tree's root; the next add starts over.
    last_chain_.clear();
    last_path_ = nullptr;
    key_schema_ = other.key_schema_;
    bound_to_ = other.bound_to_;
    document_ = other.document_;
    other.bound_to_ = nullptr;
    other.document_ = nullptr;
    adopt_root(&other.root_);
    other.root_ = out_node{};
    other.root_.qname = &no_name;
    return *this;
}

void output_tree::clear() {
    root_ = out_node{};
    root_.qname = &no_name;
    arena_.reset();
    adds_.clear();
    last_chain_.clear();
    last_path_ = nullptr;
    unbound_ = false;
    bound_to_ = nullptr;
    document_ = nullptr;
}

void output_tree::adopt_root(const out_node *old_root) {
    for (out_node *c : root_.children) c->parent = &root_;
    for (output_add &a : adds_)
        if (a.node == old_root) a.node = &root_;
}

std::string_view output_tree::intern(std::string_view text) {
    auto it = interned_.find(text);
    if (it == interned_.end()) it = interned_.emplace(text).first;
    return *it;
}

const out_name *output_tree::qualified(std::string_view name, std::string_view ns) {
    auto key = std::make_pair(name.data(), ns.data());
    auto it = qname_index_.find(key);
    if (it != qname_index_.end()) return it->second;
    const out_name *q = &qnames_.emplace_back(out_name{name, ns});
    qname_index_.emplace(key, q);
    return q;
}

std::string_view output_tree::keep(std::string_view text) {
    if (text.empty()) return {"", 0};
    auto *at = static_cast<char *>(arena_.allocate(text.size(), 1));
    std::memcpy(at, text.data(), text.size());
    return {at, text.size()};
}

out_node *output_tree::append_child(out_node *parent, const out_name *qname) {
    // Never destroyed: everything a node owns is in the arena too.
    auto *child = new (arena_.allocate(sizeof(out_node), alignof(out_node))) out_node();
    child->qname = qname;
    child->parent = parent;
    parent->children.push_back(child);
    return child;
}

std::size_t output_tree::path_hash::operator()(std::string_view s) const noexcept {
    uint64_t h = s.size() * 0x9e3779b97f4a7c15ull;
    auto word = [&s](std::size_t at) {
        uint64_t w;
        std::memcpy(&w, s.data() + at, 8);
        return w;
    };
    if (s.size() >= 8) {
        h ^= word(0) + (h << 6) + (h >> 2);
        h ^= word(s.size() / 2 - s.size() / 8) * 0xff51afd7ed558ccdull;
        h ^= word(s.size() - 8) * 0xc4ceb9fe1a85ec53ull;
    } else {
        for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
}

namespace {

// The read-only segments of the loaded objects (the plug-in's literals),
// taken when first asked: the plug-in is loaded before any add.
struct read_only_ranges {
    std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
    read_only_ranges() {
        dl_iterate_phdr(
            [](dl_phdr_info *info, size_t, void *data) {
                auto &r = static_cast<read_only_ranges *>(data)->ranges;
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    const ElfW(Phdr) &ph = info->dlpi_phdr[i];
                    if (ph.p_type == PT_LOAD && !(ph.p_flags & PF_W))
                        r.emplace_back(info->dlpi_addr + ph.p_vaddr,
                                       info->dlpi_addr + ph.p_vaddr + ph.p_memsz);
                }
                return 0;
            },
            this);
        std::sort(ranges.begin(), ranges.end());
    }
    bool contains(const void *p) const {
        auto a = reinterpret_cast<uintptr_t>(p);
        auto after = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(a, UINTPTR_MAX));
        return after != ranges.begin() && a < std::prev(after)->second;
    }
};

bool read_only(const void *p) {
    // Objects loaded after the first look (a plug-in loaded again) are
    // simply not found: their paths are then looked up by text.
    static const read_only_ranges ranges;
    return ranges.contains(p);
}

}  // namespace

const output_tree::path_info &output_tree::path_of(const char *path, std::string_view ns) {
    // A few neighbouring slots per address, so that two paths used in turn
    // that hash alike do not keep evicting each other.
    constexpr std::size_t ways = 4;
    const auto a = reinterpret_cast<uintptr_t>(path);
    const std::size_t first = ((a * 0x9e3779b97f4a7c15ull) >> 56) & ~(ways - 1);
    by_address *free_slot = nullptr;
    for (std::size_t i = first; i < first + ways; ++i) {
        by_address &slot = by_address_[i];
        if (slot.path == nullptr && free_slot == nullptr) free_slot = &slot;
        if (slot.path != path || slot.ns != ns.data()) continue;
        // A path the plug-in built in a buffer may have changed since.
        if (slot.literal || std::strcmp(path, slot.info->text.data()) == 0) return *slot.info;
        slot.info = &path_by_text(path, ns);
        return *slot.info;
    }
    const path_info &info = path_by_text(path, ns);
    by_address &slot = free_slot != nullptr ? *free_slot : by_address_[first + (evict_++ % ways)];
    slot = {path, ns.data(), &info, read_only(path)};
    return info;
}

const output_tree::path_info &output_tree::path_by_text(const char *path, std::string_view ns) {
    std::string_view text(path);
    auto it = paths_.find(text);
    if (it != paths_.end() && it->second->ns.data() == ns.data()) return *it->second;
    auto make = [&] {
        auto info = std::make_unique<path_info>();
        info->text = intern(text);
        info->ns = ns;
        std::string_view rest = info->text.substr(1);
        while (!rest.empty()) {
            size_t slash = rest.find('/');
            std::string_view seg = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            if (!seg.empty()) info->segments.push_back(qualified(intern(seg), ns));
        }
        resolve(*info);
        return info;
    };
    if (it == paths_.end()) {
        auto info = make();
        std::string_view key = info->text;
        return *paths_.emplace(key, std::move(info)).first->second;
    }
    std::string key = std::string(ns) + '\0' + std::string(text);
    auto other = other_ns_paths_.find(std::string_view(key));
    if (other == other_ns_paths_.end()) other = other_ns_paths_.emplace(key, make()).first;
    return *other->second;
}

// The same test as bind makes: the name among the parent's children, and
// the namespace when the add gave one.
void output_tree::resolve(path_info &info) const {
    if (expected_ == nullptr) return;
    const schema_node *s = nullptr;
    for (std::size_t i = 0; i < info.segments.size(); ++i) {
        const out_name *q = info.segments[i];
        if (i == 0)
            s = q->name == expected_->name ? expected_ : nullptr;
        else
            s = s == nullptr || s->is_leaf() ? nullptr : s->child(q->name);
        if (s != nullptr && !q->ns.empty() && q->ns != s->ns) s = nullptr;
        info.schemas.push_back(s);
    }
}

namespace {

// The newest child of that (interned) name: adds mostly continue in the
// child added last (the entry of a list being filled in), so that is
// tried first.
out_node *newest_named(const out_node &at, const char *name) {
    out_node *last = at.children.back();
    if (last == nullptr || last->qname->name.data() == name) return last;
    out_node *found = nullptr;
    for (out_node *c : at.children)
        if (c->qname->name.data() == name) found = c;
    return found;
}

}  // namespace

ymap_result output_tree::add(const char *path, const char *ns, const char *value,
                             const yfw_map_node *req_node, int flag1, int flag2) {
    if (path == nullptr || path[0] != '/') return YMAP_ERR_INVALID_ARGS;
    // The plug-in passes one of two namespaces with almost every add:
    // comparing with the last one is cheaper than hashing it again.
    std::string_view ns_text;
    if (ns != nullptr) {
        if (ns != last_ns_literal_) {
            if (last_ns_.empty() || std::strcmp(ns, last_ns_.data()) != 0) last_ns_ = intern(ns);
            last_ns_literal_ = read_only(ns) ? ns : nullptr;
        }
        ns_text = last_ns_;
    }
    const path_info &pi = path_of(path, ns_text);
    std::optional<std::string_view> value_text;
    if (value) value_text = keep(value);
    if (record_) {
        output_add a;
        a.path = pi.text;
        a.ns = ns_text;
        a.value = value_text;
        a.flag1 = flag1;
        a.flag2 = flag2;
        if (req_node) a.bound_op = req_node->operation;
        adds_.push_back(a);
    }

    const std::size_t n = pi.segments.size();
    // Segments shared with the previous add, all but this add's last, lead
    // to the nodes that add went through.
    std::size_t reuse = 0;
    if (last_path_ != nullptr && n > 0) {
        const std::size_t limit = std::min(n - 1, last_chain_.size());
        const auto &before = last_path_->segments;
        while (reuse < limit && before[reuse] == pi.segments[reuse]) ++reuse;
    }
    last_chain_.resize(reuse);
    out_node *at = reuse == 0 ? &root_ : last_chain_.back();
    for (std::size_t i = reuse; i < n; ++i) {
        const out_name *q = pi.segments[i];
        const bool last = i + 1 == n;
        out_node *next = nullptr;
        bool created = false;
        if (last && flag1 == 1) {
            next = append_child(at, q);
            next->list_entry = true;
            created = true;
        } else {
            next = newest_named(*at, q->name.data());
            if (next == nullptr) {
                next = append_child(at, q);
                created = true;
            } else if (last && key_schema_ && value && at->list_entry && next->value() &&
                       *next->value() != value) {
                if (out_node *other = entry_named_by_key(at, q->name, ns_text)) {
                    at = other;
                    last_chain_.back() = other;
                    next = append_child(at, qualified(next->name(), ns_text));
                    created = true;
                }
            }
        }
        if (created) {
            next->schema = pi.schemas.empty() ? nullptr : pi.schemas[i];
            unbound_ = unbound_ || next->schema == nullptr;
        }
        if (last) {
            if (value) next->set_value(*value_text);
            // A node reached again by another bound add keeps both meanings:
            // removed and then added again is a replace.
            if (req_node)
                next->set_op(created || !next->op()
                                 ? req_node->operation
                                 : combine_operations(*next->op(), req_node->operation));
        }
        last_chain_.push_back(next);
        at = next;
    }
    last_path_ = &pi;
    if (record_) adds_.back().node = at;
    return YMAP_OK;
}

// The mapping names an existing native entry by adding its key leaves
// before a leaf of it (a metric, say) without adding the entry itself. When
// the newest entry of the list already has all its keys, such an add starts
// a fresh entry carrying the keys before this one in key order, which were
// given before it; the document later merges entries with equal keys.
out_node *output_tree::entry_named_by_key(out_node *entry, std::string_view key,
                                          std::string_view ns) {
    std::vector<const out_node *> chain;
    for (const out_node *n = entry; n->parent != nullptr; n = n->parent) chain.push_back(n);
    const schema_node *s = key_schema_;
    if (chain.empty() || chain.back()->name() != s->name) return nullptr;
    for (auto it = chain.rbegin() + 1; it != chain.rend() && s != nullptr; ++it)
        s = s->child((*it)->name());
    if (s == nullptr || s->kind != schema_node::node_kind::list) return nullptr;
    size_t position = s->keys.size();
    for (size_t i = 0; i < s->keys.size(); ++i) {
        const out_node *k = entry->newest_child(s->keys[i]->name);
        if (k == nullptr || !k->value()) return nullptr;  // still being named
        if (s->keys[i]->name == key) position = i;
    }
    if (position == s->keys.size()) return nullptr;
    out_node *fresh = append_child(entry->parent, qualified(entry->name(), ns));
    fresh->list_entry = true;
    fresh->schema = entry->schema;
    for (size_t i = 0; i < position; ++i) {
        const out_node *k = entry->newest_child(s->keys[i]->name);
        out_node *copy = append_child(fresh, k->qname);
        copy->set_value(*k->value());
        copy->schema = k->schema;
    }
    return fresh;
}

// ------------------------------------------------------------------ document

namespace {

using kind = schema_node::node_kind;

// The path of n as the plug-in wrote it, for errors only: building it for
// every node would cost more than binding.
std::string written_path(const out_node &n) {
    std::string p;
    for (const out_node *at = &n; at && at->parent; at = at->parent)
        p.insert(0, "/" + std::string(at->name()));
    return p;
}

bool bind_children(out_node &n, std::string &err) {
    for (out_node *c : n.children) {
        const schema_node *s = n.schema->child(c->name());
        if (s == nullptr || (!c->ns().empty() && c->ns() != s->ns)) {
            err = "the plug-in wrote " + written_path(*c) +
                  (s == nullptr ? std::string() : " in namespace " + std::string(c->ns())) +
                  ", which is not in the schema of " + n.schema->path();
            return false;
        }
        c->schema = s;
        // Whatever hangs below a leaf is not part of the document.
        if (!s->is_leaf() && !bind_children(*c, err)) return false;
    }
    return true;
}

// Merges the nodes of a bound tree that stand for the same document node.
// A node's identity among its siblings is its schema node and, for list
// entries, its key values; leaf-list values and entries missing a key have
// none and stand alone.
class normaliser {
public:
    explicit normaliser(bool distinct_entries) : distinct_(distinct_entries) {}

    // Set when two entries started apart ended with the same keys.
    const std::string &collision() const { return collision_; }

    void children_of(out_node &n) {
        if (n.schema->is_leaf()) return;
        for (out_node *c = n.children.take(); c != nullptr;) {
            out_node *next = c->next_sibling;
            place(n, c);
            c = next;
        }
    }

    // Later values win; an earlier removal and a later addition make a
    // replace.
    void merge_into(out_node &e, out_node &c) {
        if (c.op()) e.set_op(e.op() ? combine_operations(*e.op(), *c.op()) : *c.op());
        if (e.schema->is_leaf()) {
            if (c.value()) e.set_value(*c.value());
            return;
        }
        for (out_node *k = c.children.take(); k != nullptr;) {
            out_node *next = k->next_sibling;
            place(e, k);
            k = next;
        }
    }

private:
    static std::string keys_text(const out_node &e) {
        std::string s;
        for (const schema_node *k : e.schema->keys)
            for (const out_node *kc : e.children)
                if (kc->schema == k && kc->value())
                    s += "[" + k->name + "=" + quoted(*kc->value()) + "]";
        return s;
    }

    bool distinct_;
    std::string collision_;
    // Parents with more children than this get an index instead of a scan:
    // the list of all routes has hundreds of thousands.
    static constexpr std::size_t scan_limit = 16;
    using index = std::unordered_map<std::string, out_node *>;
    std::unordered_map<const out_node *, index> indexes_;

    static bool identity(const out_node &c, std::string &id) {
        const schema_node *s = c.schema;
        if (s->kind == kind::leaf_list || (s->kind == kind::list && s->keys.empty())) return false;
        id.assign(reinterpret_cast<const char *>(&s), sizeof s);
        for (const schema_node *k : s->keys) {
            std::optional<std::string_view> v;
            for (const out_node *kc : c.children)
                if (kc->schema == k && kc->value()) v = kc->value();
            if (!v) return false;
            id.append(*v);
            id += '\0';
        }
        return true;
    }

    // The value of an entry's key leaf.
    static const out_node *key_leaf(const out_node &e, const schema_node *k) {
        const out_node *v = nullptr;
        for (const out_node *c : e.children)
            if (c->schema == k && c->value()) v = c;
        return v;
    }

    static bool same_node(const out_node &a, const out_node &b) {
        if (a.schema != b.schema) return false;
        for (const schema_node *k : a.schema->keys) {
            const out_node *ka = key_leaf(a, k), *kb = key_leaf(b, k);
            if (ka == nullptr || kb == nullptr || *ka->value() != *kb->value()) return false;
        }
        return true;
    }

    out_node *find(out_node &parent, const out_node &c, std::string &id) {
        // Few siblings: compared in place, without making their identities
        // (an index exists only for a parent that once had more).
        if (parent.children.size() <= scan_limit) {
            for (out_node *e : parent.children)
                if (same_node(*e, c)) return e;
            return nullptr;
        }
        auto it = indexes_.find(&parent);
        if (it == indexes_.end()) {
            it = indexes_.emplace(&parent, index{}).first;
            std::string other;
            for (out_node *e : parent.children)
                if (identity(*e, other)) it->second.emplace(other, e);
        }
        if (!identity(c, id)) return nullptr;
        auto e = it->second.find(id);
        return e == it->second.end() ? nullptr : e->second;
    }

    void place(out_node &parent, out_node *c) {
        std::string id;
        const schema_node *s = c->schema;
        bool named = s->kind != kind::leaf_list && !(s->kind == kind::list && s->keys.empty());
        for (const schema_node *k : s->keys) named = named && key_leaf(*c, k) != nullptr;
        if (out_node *e = named ? find(parent, *c, id) : nullptr) {
            if (distinct_ && e->list_entry && c->list_entry && collision_.empty())
                collision_ = "two entries of " + e->schema->path() + " have the keys " +
                             keys_text(*e) + ": one of them would be lost";
            merge_into(*e, *c);
            return;
        }
        c->parent = &parent;
        parent.children.push_back(c);
        if (named && parent.children.size() > scan_limit + 1)
            if (auto it = indexes_.find(&parent); it != indexes_.end()) {
                if (id.empty()) identity(*c, id);
                it->second.emplace(id, c);
            }
        children_of(*c);
    }
};

// Stable, so that entries of one list keep the order they were added in.
void sort_children(out_node &n) {
    if (n.schema->is_leaf()) return;
    bool sorted = true;
    uint16_t last = 0;
    for (out_node *c : n.children) {
        sorted = sorted && c->schema->order >= last;
        last = c->schema->order;
        sort_children(*c);
    }
    if (sorted) return;
    std::vector<out_node *> all;
    all.reserve(n.children.size());
    for (out_node *c = n.children.take(); c != nullptr; c = c->next_sibling) all.push_back(c);
    std::stable_sort(all.begin(), all.end(), [](const out_node *a, const out_node *b) {
        return a->schema->order < b->schema->order;
    });
    for (out_node *c : all) n.children.push_back(c);
}

}  // namespace

bool output_tree::bind(const schema_node &root, std::string &err) {
    if (bound_to_ == &root) return true;
    if (expected_ == &root && !unbound_) {
        // Every node got its schema node when it was made.
        bound_to_ = &root;
        return true;
    }
    for (out_node *top : root_.children) {
        if (top->name() != root.name || (!top->ns().empty() && top->ns() != root.ns)) {
            err = "the plug-in wrote /" + std::string(top->name()) + ", outside /" + root.name;
            return false;
        }
        top->schema = &root;
        if (!bind_children(*top, err)) return false;
    }
    bound_to_ = &root;
    return true;
}

out_node *output_tree::document_of(const schema_node &root, std::string &err) {
    if (document_ != nullptr && bound_to_ == &root) return document_;
    if (!bind(root, err)) return nullptr;
    normaliser merge(distinct_entries_);
    for (out_node *top = root_.children.take(); top != nullptr;) {
        out_node *next = top->next_sibling;
        if (document_ == nullptr) {
            document_ = top;
            root_.children.push_back(top);
            merge.children_of(*top);
        } else {
            merge.merge_into(*document_, *top);
        }
        top = next;
    }
    if (document_ == nullptr) {
        document_ = append_child(&root_, qualified(intern(root.name), intern(root.ns)));
        document_->schema = &root;
    }
    if (!merge.collision().empty()) {
        err = merge.collision();
        return nullptr;
    }
    sort_children(*document_);
    return document_;
}

namespace {

// Characters that need a reference in element text (1) and in attribute
// values (2). A carriage return is one: a reader turns a raw one into a
// line feed.
constexpr std::array<uint8_t, 256> escapes = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned char c : {'&', '<', '>', '\r'}) t[c] = 3;
    for (unsigned char c : {'"', '\t', '\n'}) t[c] = 2;
    return t;
}();

}  // namespace

void xml_escape(std::string &out, std::string_view text, bool attribute) {
    // Most texts need no escaping: copy the runs between special characters
    // whole.
    const uint8_t need = attribute ? 2 : 1;
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!(escapes[c] & need)) continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\r': out += "&#13;"; break;
            case '\t': out += "&#9;"; break;
            default: out += "&#10;"; break;
        }
    }
    out.append(text.data() + run, text.size() - run);
}

std::string format_add(const output_add &a) {
    std::string s = "add ";
    s += a.path;
    if (a.value) {
        s += " = ";
        s += *a.value;
    }
    if (a.flag1 == 1) s += " entry";
    if (a.bound_op) {
        s += " bound:";
        s += operation_name(*a.bound_op);
    }
    return s;
}

namespace {

void render(std::string &out, const out_node &n, std::string_view parent_ns, int depth,
            bool with_operations) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += '<';
    out += n.name();
    if (n.ns() != parent_ns) {
        out += " xmlns=\"";
        xml_escape(out, n.ns(), true);
        out += '"';
    }
    if (with_operations && n.op() && *n.op() != YFW_OP_NONE) {
        out += " xmlns:nc=\"";
        out += netconf_namespace;
        out += "\" nc:operation=\"";
        out += operation_name(*n.op());
        out += '"';
    }
    if (n.children.empty()) {
        if (n.value() && !n.value()->empty()) {
            out += '>';
            xml_escape(out, *n.value(), false);
            out += "</";
            out += n.name();
            out += ">\n";
        } else {
            out += "/>\n";
        }
        return;
    }
    out += ">\n";
    for (const out_node *c : n.children) render(out, *c, n.ns(), depth + 1, with_operations);
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += "</";
    out += n.name();
    out += ">\n";
}

}  // namespace

std::string output_tree::to_xml(bool with_operations) const {
    std::string out;
    for (const out_node *c : root_.children) render(out, *c, {}, 0, with_operations);
    return out;
}

}  // namespace yfw_host
