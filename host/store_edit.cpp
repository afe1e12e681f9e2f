// Applying a native edit to the configuration: one merge of the edit
// document into the store's tree, with NETCONF's operations (merge,
// replace, create, delete, remove) taken from each node of the edit.
#include <unordered_set>

#include "native_store.h"
#include "running_store.h"

namespace yfw_host {

namespace {

using kind = schema_node::node_kind;

// How the merge reads either kind of edit: an output tree's document (the
// plug-in's native edit) or a data tree read from a native edit document.
struct out_edit {
    using node = out_node;
    static std::optional<uint32_t> op(const node &n) { return n.op(); }
    static std::optional<std::string_view> value(const node &n) { return n.value(); }
    static const node *parent(const node &n) { return n.parent; }
    // Whether an add made this entry, as opposed to passing through it to
    // something below: replaying the adds makes an entry for the first
    // only, and so does the merge.
    static bool named(const node &n) { return n.list_entry; }
    template <class Fn>
    static bool each_child(const node &n, const Fn &fn) {
        for (const out_node *c : n.children)
            if (!fn(*c)) return false;
        return true;
    }
};

struct data_edit {
    using node = data_node;
    static std::optional<uint32_t> op(const node &n) {
        if (n.op == no_operation) return std::nullopt;
        return n.op;
    }
    static std::optional<std::string_view> value(const node &n) { return n.value(); }
    static const node *parent(const node &n) { return n.parent; }
    static bool named(const node &) { return true; }
    template <class Fn>
    static bool each_child(const node &n, const Fn &fn) {
        for (const data_node *c : n.children())
            if (!fn(*c)) return false;
        return true;
    }
};

bool removes(uint32_t op) {
    return op == YFW_OP_DELETE || op == YFW_OP_REMOVE;
}

template <class E>
class merger {
public:
    using node = typename E::node;

    merger(data_tree &config, apply_error &err, std::unordered_set<const data_node *> &routes)
        : config_(config), err_(err), routes_(routes) {}

    bool root(const node &edit) {
        data_node &r = *config_.root;
        // The root is there when it holds anything: a missing store file and
        // an empty router-static are the same configuration.
        bool exists = r.has_children();
        switch (E::op(edit).value_or(YFW_OP_NONE)) {
            case YFW_OP_CREATE:
                if (exists)
                    return fail(error_tag::data_exists, edit, "create of",
                                ", which already exists");
                break;
            case YFW_OP_DELETE:
                if (!exists)
                    return fail(error_tag::data_missing, edit, "delete of",
                                ", which does not exist");
                [[fallthrough]];
            case YFW_OP_REMOVE: config_.clear_content(&r); return true;
            case YFW_OP_REPLACE: config_.clear_content(&r); break;
            default: break;
        }
        return children(edit, r);
    }

private:
    bool children(const node &edit, data_node &target) {
        return E::each_child(edit, [&](const node &c) { return child(c, target); });
    }

    // One node of the edit under the store node it belongs to.
    bool child(const node &n, data_node &parent) {
        const schema_node *s = n.schema;
        // Key leaves name their entry, which the entry's own merge handles.
        if (s->is_key && parent.schema->kind == kind::list) return true;
        if (s->kind == kind::leaf_list)
            return fail(error_tag::unknown_element, n, "leaf-lists cannot be edited:", "");
        data_node *found = nullptr;
        if (s->kind == kind::list) {
            if (!key_values(n)) return false;
            found = parent.entry(s, keys_);
        } else {
            found = parent.child(s);
        }
        uint32_t op = E::op(n).value_or(YFW_OP_NONE);
        switch (op) {
            case YFW_OP_CREATE:
                if (found != nullptr)
                    return fail(error_tag::data_exists, n, "create of", ", which already exists");
                return content(n, *make(parent, s), true);
            case YFW_OP_DELETE:
                if (found == nullptr)
                    return fail(error_tag::data_missing, n, "delete of", ", which does not exist");
                [[fallthrough]];
            case YFW_OP_REMOVE:
                // What a removal names below it only names what goes.
                if (found != nullptr) config_.remove(found);
                return true;
            case YFW_OP_REPLACE:
                if (found != nullptr && !s->is_leaf()) config_.clear_content(found);
                break;
            default:
                if (found == nullptr && !creates(n)) return true;
                break;
        }
        bool fresh = found == nullptr;
        if (fresh) found = make(parent, s);
        return content(n, *found, fresh);
    }

    bool content(const node &n, data_node &target, bool fresh) {
        const schema_node *s = n.schema;
        if (s->entry == entry_limit::native_route) routes_.insert(&target);
        if (!s->is_leaf()) return children(n, target);
        std::optional<std::string_view> v = E::value(n);
        if (!v && !fresh && E::op(n).value_or(YFW_OP_NONE) != YFW_OP_REPLACE) return true;
        std::string_view text = v.value_or(std::string_view());
        std::string why = yang_schema::get().check_value(*s, text);
        if (!why.empty())
            return fail(error_tag::invalid_value, n, "invalid value " + quoted(text) + " of",
                        ": " + why);
        config_.set_value(&target, text);
        return true;
    }

    // Whether merging n into a store without it makes anything: an entry an
    // add named, a leaf, or something below that is made. Paths that lead
    // only to removals make nothing, as replaying their adds would not.
    bool creates(const node &n) {
        std::optional<uint32_t> op = E::op(n);
        if (op && removes(*op)) return false;
        if (n.schema->is_leaf() || (n.schema->kind == kind::list && E::named(n))) return true;
        if (n.schema->kind == kind::container) return true;  // pruned again when left empty
        bool any = false;
        E::each_child(n, [&](const node &c) {
            any = any || (!c.schema->is_key && creates(c));
            return !any;
        });
        return any;
    }

    data_node *make(data_node &parent, const schema_node *s) {
        if (s->kind == kind::list) return config_.add_entry(&parent, s, keys_);
        return config_.add(&parent, s);
    }

    // The keys of an entry of the edit, checked, into keys_.
    bool key_values(const node &entry) {
        keys_.clear();
        for (const schema_node *k : entry.schema->keys) {
            std::optional<std::string_view> v;
            E::each_child(entry, [&](const node &c) {
                if (c.schema == k && E::value(c)) v = E::value(c);
                return true;
            });
            if (!v)
                return fail(error_tag::missing_element, entry, "the edit's entry",
                            " has no key '" + k->name + "'");
            std::string why = yang_schema::get().check_value(*k, *v);
            if (!why.empty())
                return fail(error_tag::invalid_value, entry,
                            "invalid key value " + quoted(*v) + " of", ": " + why);
            keys_.push_back(*v);
        }
        return true;
    }

    // The edit node's path with the keys its entries carry.
    static std::string path_of(const node &n) {
        std::string p;
        for (const node *at = &n; at != nullptr; at = E::parent(*at)) {
            if (at->schema == nullptr) continue;
            std::string here = "/" + at->schema->name;
            if (at->schema->kind == kind::list)
                for (const schema_node *k : at->schema->keys)
                    E::each_child(*at, [&](const node &c) {
                        if (c.schema == k && E::value(c))
                            here += "[" + k->name + "=" + quoted(*E::value(c)) + "]";
                        return true;
                    });
            p.insert(0, here);
        }
        return p;
    }

    bool fail(const char *tag, const node &n, const std::string &before, const std::string &after) {
        err_.tag = tag;
        err_.path = path_of(n);
        err_.message = before + " " + err_.path + after;
        return false;
    }

    data_tree &config_;
    apply_error &err_;
    std::unordered_set<const data_node *> &routes_;
    std::vector<std::string_view> keys_;
};

template <class E>
bool merge_and_check(const std::string &name, data_tree &config, const typename E::node &edit,
                     apply_error &err) {
    const std::string prefix = name.empty() ? std::string() : name + ": ";
    std::unordered_set<const data_node *> routes;
    merger<E> m(config, err, routes);
    if (!m.root(edit)) {
        err.message = prefix + err.message;
        return false;
    }
    prune_empty_containers(config);
    // The schema types alone let through values the configuration database
    // cannot hold (a next-hop address that is no address, say). A store that
    // the next run cannot load is worse than a refused edit, so the routes
    // the edit reached must load before the result replaces the old store;
    // the others loaded when the store was read.
    std::string why = check_native_routes(*config.root, routes);
    if (!why.empty()) {
        err.tag = error_tag::invalid_value;
        err.message = prefix + "the edit would leave a configuration that cannot be loaded: " + why;
        return false;
    }
    return true;
}

void prune(data_tree &t, data_node &n) {
    for (data_node *c = n.first; c != nullptr;) {
        data_node *next = c->next;
        if (!c->schema->is_leaf()) prune(t, *c);
        if (c->schema->kind == kind::container && !c->has_children()) t.remove(c);
        c = next;
    }
}

}  // namespace

void prune_empty_containers(data_tree &config) {
    prune(config, *config.root);
}

bool apply_checked(const std::string &name, data_tree &config, const out_node &edit,
                   apply_error &err) {
    return merge_and_check<out_edit>(name, config, edit, err);
}

bool apply_checked(const std::string &name, data_tree &config, const data_node &edit,
                   apply_error &err) {
    return merge_and_check<data_edit>(name, config, edit, err);
}

}  // namespace yfw_host
