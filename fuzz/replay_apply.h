// The apply as it was before the merge: each recorded add replayed in call
// order. Kept beside the fuzz pipeline to check that the merge gives the
// same store for every edit the plug-in writes.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "native_store.h"
#include "running_store.h"

namespace oclr_fuzz {

using namespace yfw_host;
using kind = schema_node::node_kind;

struct replay_applier {
    data_tree &tree;
    data_node &config;
    apply_error &err;
    // The operation each edit node was last given by a bound add is kept
    // in the node (out_node::applied_op), cleared when the applier starts.
    // Scratch of apply(), kept across adds: an edit has millions of them.
    std::vector<const out_node *> chain_;
    std::vector<const schema_node *> schemas_;
    std::vector<std::string_view> keys_;

    bool fail(std::string tag, std::string path, std::string message) {
        err.tag = std::move(tag);
        err.path = std::move(path);
        err.message = std::move(message);
        return false;
    }

    static std::optional<std::string_view> key_of(const out_node &entry, const schema_node *key) {
        std::optional<std::string_view> v;
        for (const out_node *c : entry.children)
            if (c->name() == key->name && c->value()) v = c->value();
        return v;
    }

    // The edit node's path with the keys its entries carry.
    static std::string edit_path(const std::vector<const out_node *> &chain,
                                 const std::vector<const schema_node *> &schemas, size_t upto) {
        std::string p;
        for (size_t i = 0; i <= upto && i < chain.size(); ++i) {
            p += '/';
            p += chain[i]->name();
            if (i < schemas.size() && schemas[i] && schemas[i]->kind == kind::list)
                for (const schema_node *k : schemas[i]->keys)
                    if (std::optional<std::string_view> v = key_of(*chain[i], k))
                        p += "[" + k->name + "=" + quoted(*v) + "]";
        }
        return p;
    }

    // The operation an unbound add works under: that of the nearest node
    // on its path an earlier bound add reached.
    std::optional<uint32_t> inherited(const out_node *n) const {
        for (; n; n = n->parent) {
            if (n->applied_op != out_node::no_op) return n->applied_op;
        }
        return std::nullopt;
    }

    // The path of the node an add reaches, built only for an error: every
    // add building it would cost more than applying the add.
    struct lazy_path {
        const std::vector<const out_node *> &chain;
        const std::vector<const schema_node *> &schemas;
        std::string operator()() const { return edit_path(chain, schemas, chain.size() - 1); }
    };

    bool set_value(data_node &leaf, const output_add &a, const lazy_path &path) {
        std::string_view v = a.value ? *a.value : std::string_view();
        std::string why = yang_schema::get().check_value(*leaf.schema, v);
        if (!why.empty())
            return fail(error_tag::invalid_value, path(),
                        "invalid value " + quoted(v) + " of " + path() + ": " + why);
        tree.set_value(&leaf, v);
        return true;
    }

    bool apply(const output_add &a) {
        const out_node *target = a.node;
        if (target == nullptr || target->parent == nullptr) return true;  // the document itself
        std::vector<const out_node *> &chain = chain_;
        chain.clear();
        for (const out_node *n = target; n->parent; n = n->parent) chain.push_back(n);
        std::reverse(chain.begin(), chain.end());

        // Bind the path to the schema first: a path outside it is refused
        // whatever its operation.
        std::vector<const schema_node *> &schemas = schemas_;
        schemas.assign(chain.size(), nullptr);
        const schema_node *s = config.schema;
        for (size_t i = 0; i < chain.size(); ++i) {
            const schema_node *cs =
                i == 0 ? (chain[0]->name() == s->name ? s : nullptr) : s->child(chain[i]->name());
            if (cs == nullptr || (!chain[i]->ns().empty() && chain[i]->ns() != cs->ns))
                return fail("unknown-element", edit_path(chain, schemas, i),
                            "the edit names " + edit_path(chain, schemas, i) +
                                ", which is not in the native schema");
            schemas[i] = s = cs;
        }
        lazy_path path{chain, schemas};

        uint32_t op = YFW_OP_NONE;
        if (a.bound_op) {
            op = *a.bound_op;
            target->applied_op = static_cast<uint8_t>(op);
        } else if (auto up = inherited(target);
                   up && (*up == YFW_OP_DELETE || *up == YFW_OP_REMOVE)) {
            return true;  // names part of what an earlier add deleted
        }
        if (s->is_key && chain.size() > 1 && schemas[chain.size() - 2]->kind == kind::list)
            return true;  // identifies its entry, which the entry's own add handles

        data_node *at = &config;
        for (size_t i = 1; i < chain.size(); ++i) {
            const schema_node *cs = schemas[i];
            std::vector<std::string_view> &keys = keys_;
            keys.clear();
            data_node *found = nullptr;
            if (cs->kind == kind::list) {
                for (const schema_node *k : cs->keys) {
                    std::optional<std::string_view> v = key_of(*chain[i], k);
                    if (!v)
                        return fail("missing-element", edit_path(chain, schemas, i),
                                    "the edit's entry " + edit_path(chain, schemas, i) +
                                        " has no key '" + k->name + "'");
                    std::string why = yang_schema::get().check_value(*k, *v);
                    if (!why.empty())
                        return fail(error_tag::invalid_value, edit_path(chain, schemas, i),
                                    "invalid key value " + quoted(*v) + " of " +
                                        edit_path(chain, schemas, i) + ": " + why);
                    keys.push_back(*v);
                }
                found = at->entry(cs, keys);
            } else if (cs->kind == kind::leaf_list) {
                return fail("unknown-element", path(), "leaf-lists cannot be edited: " + path());
            } else {
                found = at->child(cs);
            }
            bool last = i + 1 == chain.size();
            if (found == nullptr && !last) {
                if (op == YFW_OP_REMOVE) return true;
                if (op == YFW_OP_DELETE)
                    return fail("data-missing", path(),
                                "delete of " + path() + ", which does not exist (" +
                                    edit_path(chain, schemas, i) + " is missing)");
                found = cs->kind == kind::list ? tree.add_entry(at, cs, keys) : tree.add(at, cs);
            }
            if (last) return finish(at, found, cs, keys, op, a, path);
            at = found;
        }
        // The root itself.
        return finish(nullptr, &config, config.schema, {}, op, a, path);
    }

    bool finish(data_node *parent, data_node *found, const schema_node *s,
                const std::vector<std::string_view> &keys, uint32_t op, const output_add &a,
                const lazy_path &path) {
        // The root is there when it holds anything: a missing store file and
        // an empty router-static are the same configuration.
        bool exists = found != nullptr && (parent != nullptr || found->has_children());
        auto make = [&]() -> data_node * {
            if (parent == nullptr) return found;
            return s->kind == kind::list ? tree.add_entry(parent, s, keys) : tree.add(parent, s);
        };
        switch (op) {
            case YFW_OP_CREATE:
                if (exists)
                    return fail("data-exists", path(),
                                "create of " + path() + ", which already exists");
                found = make();
                return !s->is_leaf() || set_value(*found, a, path);
            case YFW_OP_DELETE:
                if (!exists)
                    return fail("data-missing", path(),
                                "delete of " + path() + ", which does not exist");
                [[fallthrough]];
            case YFW_OP_REMOVE:
                if (!exists) return true;
                if (parent == nullptr)
                    tree.clear_content(found);
                else
                    tree.remove(found);
                return true;
            case YFW_OP_REPLACE:
                if (exists && !s->is_leaf()) tree.clear_content(found);
                if (!exists) found = make();
                return !s->is_leaf() || set_value(*found, a, path);
            default:  // merge
                if (!exists) found = make();
                if (s->is_leaf() && (a.value || !exists)) return set_value(*found, a, path);
                return true;
        }
    }
};

inline void clear_applied(const out_node &n) {
    n.applied_op = out_node::no_op;
    for (const out_node *c : n.children) clear_applied(*c);
}

inline bool replay_edit(data_tree &config, const output_tree &edit, apply_error &err) {
    clear_applied(edit.document());
    replay_applier ap{config, *config.root, err, {}, {}, {}};
    for (const output_add &a : edit.adds())
        if (!ap.apply(a)) return false;
    prune_empty_containers(config);
    // The merge checks the routes it reached; checking all of them here
    // refuses the same edits, the others having loaded before.
    input_error ierr;
    if (!load_native_store(*config.root, "replayed.xml", ierr)) {
        err.tag = "invalid-value";
        err.message = ierr.message;
        return false;
    }
    return true;
}

}  // namespace oclr_fuzz
