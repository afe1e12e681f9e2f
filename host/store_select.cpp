// What a read's native paths select from the configuration, and the
// selection as the native walker's input.
#include <atomic>
#include <cstring>

#include "running_store.h"

namespace yfw_host {

using kind = schema_node::node_kind;

namespace {

// A query node selects its whole subtree when it names nothing below it but
// the keys of its entry. An entry of a list without lists below (a
// next-hop) is selected whole whatever the query names in it: the native
// walk turns the whole entry into one OpenConfig entry, and a filter that
// asks for part of that entry (its index, its config) is answered from the
// whole of it, which the subtree filter then cuts.
bool selects_whole(const data_node &q) {
    if (q.schema->is_leaf()) return true;
    if (q.schema->kind == kind::list && !q.schema->lists_below) return true;
    for (const data_node *c : q.children())
        if (!c->schema->is_key) return false;
    return true;
}

}  // namespace

namespace {
std::atomic<uint32_t> last_stamp{0};
}  // namespace

selection::selection(const data_node &config, const data_node &query)
    : config_(config), stamp_(++last_stamp) {
    if (stamp_ == 0) stamp_ = ++last_stamp;  // 0 is every node's "never selected"
    if (query.schema == config.schema) visit(query, config);
}

void selection::set(const data_node &s, mark m) {
    if (s.selection_stamp != stamp_ && s.parent != nullptr) picked_[s.parent].push_back(&s);
    s.selection_mark = static_cast<uint8_t>(m);
    s.selection_stamp = stamp_;
}

void selection::visit(const data_node &q, const data_node &s) {
    if (selects_whole(q)) {
        set(s, mark::whole);
        return;
    }
    mark m;
    if (!selected(s, m))
        set(s, mark::path);
    else if (m == mark::whole)
        return;
    for (const data_node *qc : q.children()) {
        const schema_node *cs = qc->schema;
        if (cs->is_key && q.schema->kind == kind::list) continue;  // restricts q, handled above
        if (cs->kind != kind::list) {
            if (const data_node *sc = s.child(cs)) visit(*qc, *sc);
            continue;
        }
        // Entries of the list whose keys match the valued keys of the query.
        std::vector<std::pair<const schema_node *, std::string_view>> want;
        for (const schema_node *k : cs->keys) {
            const data_node *qk = qc->child(k);
            if (qk && qk->size_ > 0) want.emplace_back(k, qk->value());
        }
        if (want.size() == cs->keys.size()) {
            std::vector<std::string_view> keys;
            for (const auto &w : want) keys.push_back(w.second);
            if (const data_node *e = s.entry(cs, keys)) visit(*qc, *e);
            continue;
        }
        for (const data_node *sc : s.children()) {
            if (sc->schema != cs) continue;
            bool match = true;
            for (const auto &[k, v] : want) {
                const data_node *sk = sc->child(k);
                match = match && sk && sk->value() == v;
            }
            if (match) visit(*qc, *sc);
        }
    }
}

bool selection::selected(const data_node &s, mark &m) const {
    if (s.selection_stamp != stamp_ || s.selection_mark == 0) return false;
    m = static_cast<mark>(s.selection_mark);
    return true;
}

void selection::fill(request_tree &t, const data_node &s, bool whole, yfw_map_node &to) const {
    to = yfw_map_node{};
    to.tag = s.schema->name.c_str();
    to.ns = s.schema->ns;
    if (s.schema->is_leaf()) {
        if (s.size_ > 0) {
            to.value = t.keep(s.value());
            to.flags |= YFW_NODE_HAS_VALUE;
        }
        return;
    }
    // The children to keep, and whether each is selected whole.
    auto take = [&](const data_node &c, bool &child_whole) {
        child_whole = whole;
        if (whole) return true;
        mark m;
        if (selected(c, m)) {
            child_whole = m == mark::whole;
            return true;
        }
        // An entry on a selected path keeps its keys, which name it.
        return c.schema->is_key && s.schema->kind == kind::list;
    };
    // Below a container only marked children are kept, and they were
    // recorded as they were marked: a read of one route among a million
    // visits that route, not every entry of the list around it. They come
    // in the order the query named them (a list's entries looked up by key
    // in the query's order, the others in the store's).
    static const std::vector<const data_node *> none;
    const std::vector<const data_node *> *marked = nullptr;
    if (!whole && s.schema->kind != kind::list) {
        auto it = picked_.find(&s);
        marked = it != picked_.end() ? &it->second : &none;
    }
    bool child_whole = false;
    uint32_t count = 0;
    auto each_child = [&](const auto &visit) {
        if (marked != nullptr) {
            for (const data_node *c : *marked) visit(*c);
        } else {
            for (const data_node *c : s.children()) visit(*c);
        }
    };
    each_child([&](const data_node &c) { count += take(c, child_whole) ? 1 : 0; });
    if (count == 0) return;
    yfw_map_node *kids = t.alloc_nodes(count);
    uint32_t i = 0;
    each_child([&](const data_node &c) {
        if (take(c, child_whole)) fill(t, c, child_whole || c.schema->is_key, kids[i++]);
    });
    to.children = kids;
    to.child_count = count;
    to.host_capacity = count;
    to.flags |= YFW_NODE_CHILDREN_VALID;
}

namespace {

bool named(const yfw_map_node &n, const schema_node &s) {
    return n.tag != nullptr && s.name == n.tag && (n.ns == nullptr || std::strcmp(n.ns, s.ns) == 0);
}

const yfw_map_node *child_named(const yfw_map_node &n, const schema_node &s) {
    for (uint32_t i = 0; i < n.child_count; ++i)
        if (named(n.children[i], s)) return &n.children[i];
    return nullptr;
}

// The same rules as selection::visit, the marks kept in the nodes' host bits.
void mark_selected(const data_node &q, yfw_map_node &r) {
    if (selects_whole(q)) {
        r.host_bits |= YFW_HOST_SELECTED_WHOLE;
        return;
    }
    if (r.host_bits & YFW_HOST_SELECTED_WHOLE) return;
    r.host_bits |= YFW_HOST_SELECTED_PATH;
    for (const data_node *qc : q.children()) {
        const schema_node *cs = qc->schema;
        if (cs->is_key && q.schema->kind == kind::list) continue;  // restricts q
        std::vector<std::pair<const schema_node *, std::string_view>> want;
        if (cs->kind == kind::list)
            for (const schema_node *k : cs->keys)
                if (const data_node *qk = qc->child(k); qk && qk->size_ > 0)
                    want.emplace_back(k, qk->value());
        for (uint32_t i = 0; i < r.child_count; ++i) {
            yfw_map_node &rc = r.children[i];
            if (!named(rc, *cs)) continue;
            bool match = true;
            for (const auto &[k, v] : want) {
                const yfw_map_node *rk = child_named(rc, *k);
                match = match && rk != nullptr && rk->value != nullptr && v == rk->value;
            }
            if (match) mark_selected(*qc, rc);
            if (cs->kind != kind::list) break;  // one node of that name
        }
    }
}

// Drops the children that are neither selected nor keys of a selected
// entry; moving the kept ones to the front of the children array.
void drop_unselected(yfw_map_node &r, const schema_node &s) {
    if (s.is_leaf() || (r.host_bits & YFW_HOST_SELECTED_WHOLE)) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < r.child_count; ++i) {
        yfw_map_node &c = r.children[i];
        const schema_node *cs = s.child(c.tag != nullptr ? c.tag : "");
        bool keep =
            cs != nullptr && ((c.host_bits & (YFW_HOST_SELECTED_PATH | YFW_HOST_SELECTED_WHOLE)) ||
                              (cs->is_key && s.kind == kind::list));
        if (!keep) continue;
        drop_unselected(c, *cs);
        if (kept != i) r.children[kept] = c;
        ++kept;
    }
    r.child_count = kept;
    if (kept == 0) r.flags &= static_cast<uint8_t>(~YFW_NODE_CHILDREN_VALID);
}

}  // namespace

void keep_selected(yfw_map_node &data, const data_node &query) {
    const schema_node &root = *query.schema;
    if (named(data, root)) mark_selected(query, data);
    if (!(data.host_bits & (YFW_HOST_SELECTED_PATH | YFW_HOST_SELECTED_WHOLE))) {
        data.child_count = 0;
        data.flags &= static_cast<uint8_t>(~YFW_NODE_CHILDREN_VALID);
        return;
    }
    drop_unselected(data, root);
}

request_tree selection::request() const {
    // Built straight from the configuration, in the store's order: a data
    // tree copy first would double what the read costs.
    request_tree r;
    r.root_ = r.alloc_nodes(1);
    mark m;
    if (!selected(config_, m)) {
        *r.root_ = yfw_map_node{};
        r.root_->tag = config_.schema->name.c_str();
        r.root_->ns = config_.schema->ns;
        return r;
    }
    fill(r, config_, m == mark::whole, *r.root_);
    return r;
}

}  // namespace yfw_host
