// The OpenConfig request walker: carries every edit and read of
// local-routes through the schema, calling each node's handler, keeping the
// framework's node hierarchy in step and dispatching children by tag. One
// walker per node kind, driven by the generated table; trace records carry
// each visited node's own walker name.
//
// Four mechanisms run through the whole tree and are what the mapping
// callbacks rely on:
//  - subtree filtering in reads (the filter word: selection leaves, content
//    matches, select-all),
//  - expansion: a node given without children in a read or a delete stands
//    for its whole subtree, so every walker below it runs in walk-all mode
//    with that same node and each handler produces its whole part,
//  - replace in two passes: first everything below is removed (children
//    detached, operation remove), then the given children are added,
//  - list deletes: one entry named by its key (mode 2, one handler call) or
//    a whole list (mode 1, for the length of the entry's expansion).
// All walk state lives in the request context; nothing is allocated here.
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"
#include "ymap_ox_schema.h"

namespace {

using ymap::schema_kind;
using ymap::schema_node;
namespace table = ymap::ox_schema;

// Filter word bits.
constexpr uint32_t select_all = 0x1;
constexpr uint32_t selection_seen = 0x2;
constexpr uint32_t content_match_seen = 0x4;
constexpr uint32_t content_match_recorded = 0x10000;
constexpr uint32_t filter_reset_mask = 0x11111110;
// Replace bits.
constexpr uint32_t replace_delete_pass = 0x40;
constexpr uint32_t replace_readd_pass = 0x80;

ymap_result walk(yfw_map_ctx *ctx, uint16_t row, yfw_map_node *node, yfw_map_datatree *tree);

bool is_read(const yfw_map_ctx *ctx) {
    return ctx->req_ctx->req_type == YFW_REQ_READ_CONFIG ||
           ctx->req_ctx->req_type == YFW_REQ_READ_STATE;
}
// Only a true edit validates keys; unknown kinds are walked like edits
// without those checks.
bool is_strict_edit(const yfw_map_ctx *ctx) {
    return ctx->req_ctx->req_type == YFW_REQ_EDIT;
}
bool reads_state(const yfw_map_ctx *ctx) {
    return ctx->req_ctx->req_type == YFW_REQ_READ_STATE;
}

bool has_value(const yfw_map_node *n) {
    return (n->flags & YFW_NODE_HAS_VALUE) != 0;
}

void set_operation(yfw_map_node *n, uint32_t op) {
    n->operation = op;
    n->flags |= YFW_NODE_OP_REWRITTEN;
}

void set_kind(yfw_map_node *n, uint32_t kind) {
    n->node_kind = kind;
    n->node_kind_flags |= YFW_KIND_SET_BIT;
}

void mark_key(yfw_map_node *n) {
    n->key_marker = 1;
    n->flags2 |= YFW_NODE_KEY_BIT;
}

void reset_filter(yfw_map_ctx *ctx) {
    ctx->req_ctx->filter &= filter_reset_mask;
}

// A state subtree exists only for requests that read state; anywhere else
// its tag is as unknown as any other.
bool visible(const yfw_map_ctx *ctx, const schema_node &n) {
    return !n.state_only || reads_state(ctx);
}

uint16_t child_row(const schema_node &parent, uint16_t k) {
    return table::children[parent.first_child + k];
}

// The visible child schema node whose tag is the given one, by the
// framework's comparison. Only the rows with the tag's first letter are
// compared, from the caller's position hint `next` on; a tag that none of
// them matches is compared with every child in schema order, so that the
// framework's comparison alone decides what it matches.
uint16_t schema_child(const yfw_map_ctx *ctx, const schema_node &parent, const char *tag,
                      uint16_t &next) {
    auto visible_tag = [ctx, tag](const schema_node &c) {
        return visible(ctx, c) && yfw_map_do_these_match(tag, c.tag) != 0;
    };
    const uint16_t row =
        ymap::child_by_tag(table::nodes, table::children, parent, tag, next, visible_tag);
    if (row != ymap::no_node) return row;
    for (uint16_t k = 0; k < parent.child_count; ++k) {
        const uint16_t other = child_row(parent, k);
        if (yfw_map_do_these_match(tag, table::nodes[other].tag) &&
            visible(ctx, table::nodes[other]))
            return other;
    }
    return ymap::no_node;
}

// Children of the node as the walker may use them. Returns false when the
// node claims children it does not have.
bool take_children(ymap::frame &fr, yfw_map_node *node, yfw_map_node *&children, uint32_t &count) {
    children = nullptr;
    count = 0;
    if ((node->flags & YFW_NODE_CHILDREN_VALID) == 0) return true;
    if (node->child_count != 0 && node->children == nullptr) {
        YMAP_ERR(fr, "Failed to get subtrees!");
        return false;
    }
    children = node->children;
    count = node->child_count;
    return true;
}

// One child that is not a walked schema child: refused in our own
// namespace, handed to the augmentation handler in any other.
ymap_result dispatch_other(ymap::frame &fr, const schema_node &parent, yfw_map_node *child,
                           yfw_map_datatree *tree) {
    if (yfw_map_do_these_match(table::ns, child->ns)) {
        YMAP_ERR(fr, "Unsupported tag is specified in the request.");
        ymap::set_error_tag(fr.ctx, child->tag);
        return YMAP_ERR_UNSUPPORTED_TAG;
    }
    return parent.augments(fr.ctx, child, tree);
}

ymap_result dispatch_children(ymap::frame &fr, const schema_node &parent, yfw_map_node *children,
                              uint32_t count, yfw_map_datatree *tree) {
    ymap_result rc = YMAP_OK;
    uint16_t next = 0;
    for (uint32_t i = 0; i < count && rc == YMAP_OK; ++i) {
        yfw_map_node *child = &children[i];
        if (child->tag == nullptr) {
            YMAP_ERR(fr, "Tag name is not available!");
            return YMAP_ERR_BAD_REQUEST;
        }
        uint16_t row = schema_child(fr.ctx, parent, child->tag, next);
        rc = row != ymap::no_node ? walk(fr.ctx, row, child, tree)
                                  : dispatch_other(fr, parent, child, tree);
    }
    return rc;
}

// Walks the schema children of `parent` with `node` itself, ignoring their
// results, then the augmentation handler. The state child is walked only
// when the request reads state: in schema order for an entry named by its
// key, otherwise after the others (and after `restore_delete` has its
// delete operation back, when given). The key leaf is walked only when
// `with_key` is set.
enum class state_order { in_schema_order, last };

void walk_subtree_with(yfw_map_ctx *ctx, const schema_node &parent, yfw_map_node *node,
                       yfw_map_datatree *tree, bool with_key, state_order order,
                       yfw_map_node *restore_delete) {
    const bool state_now = order == state_order::in_schema_order && reads_state(ctx);
    for (uint16_t k = 0; k < parent.child_count; ++k) {
        const schema_node &c = table::nodes[child_row(parent, k)];
        if ((c.state_only && !state_now) || (c.is_key && !with_key)) continue;
        walk(ctx, child_row(parent, k), node, tree);
    }
    if (restore_delete != nullptr) set_operation(restore_delete, YFW_OP_DELETE);
    if (order == state_order::last && reads_state(ctx))
        for (uint16_t k = 0; k < parent.child_count; ++k)
            if (table::nodes[child_row(parent, k)].state_only)
                walk(ctx, child_row(parent, k), node, tree);
    parent.augments(ctx, node, tree);
}

// Expansion of a container: the node stands for its whole subtree.
void expand_container(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                      yfw_map_datatree *tree) {
    req_ctx *req = ctx->req_ctx;
    const bool set_walk_all = req->walk_all == 0;
    if (set_walk_all) req->walk_all = 1;
    const bool was_delete = yfw_map_is_request_delete(node) && node->operation == YFW_OP_DELETE;
    if (was_delete) set_operation(node, YFW_OP_REMOVE);
    walk_subtree_with(ctx, n, node, tree, true, state_order::last, nullptr);
    if (was_delete) set_operation(node, YFW_OP_DELETE);
    if (set_walk_all) req->walk_all = 0;
    reset_filter(ctx);
    req->filter &= ~(content_match_seen | selection_seen);
}

ymap_result walk_container(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                           yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    req_ctx *req = ctx->req_ctx;
    yfw_map_node *children;
    uint32_t count;
    if (!take_children(fr, node, children, count)) {
        YMAP_END(fr);
        return YMAP_ERR_BAD_REQUEST;
    }
    const bool in_hierarchy = req->walk_all == 0;
    if (in_hierarchy) {
        yfw_map_add_to_node_hierarchy(ctx, node, 1);
        set_kind(node, YFW_KIND_CONTAINER);
        if (is_read(ctx)) reset_filter(ctx);
    } else if (req->filter & select_all) {
        count = 0;
    }

    // A replace first removes everything below (children detached), then
    // adds what was given.
    const bool replace = node->operation == YFW_OP_REPLACE;
    yfw_map_node *saved_children = children;
    const uint32_t saved_count = count;
    if (replace) {
        set_operation(node, YFW_OP_REMOVE);
        req->replace_bits |= replace_delete_pass;
        node->children = nullptr;
        node->child_count = 0;
        node->flags &= ~YFW_NODE_CHILDREN_VALID;
        count = 0;
    }
    // State subtrees expand only in reads; their leaves exist only there.
    const bool may_expand_delete = !n.state_only;

    ymap_result rc = YMAP_OK;
    for (int pass = 0; pass < (replace ? 2 : 1); ++pass) {
        if (rc == YMAP_OK) {
            rc = n.container_handler(ctx, node, count, tree);
            if (rc == YMAP_OK && count != 0)
                rc = dispatch_children(fr, n, node->children, count, tree);
        }
        if ((req->filter & content_match_seen) && !(req->filter & selection_seen)) {
            // Only content matches below: the whole container is selected.
            req->filter |= select_all;
            req->filter &= ~(content_match_seen | selection_seen);
        }
        if ((count == 0 || (req->filter & select_all)) &&
            (is_read(ctx) || (may_expand_delete && yfw_map_is_request_delete(node))))
            expand_container(n, ctx, node, tree);
        if (replace && pass == 0) {
            set_operation(node, YFW_OP_NONE);
            req->replace_bits |= replace_readd_pass;
            req->replace_bits &= ~replace_delete_pass;
            node->children = saved_children;
            node->child_count = saved_count;
            node->flags |= YFW_NODE_CHILDREN_VALID;
            count = saved_count;
        }
    }
    if (replace) req->replace_bits &= ~(replace_delete_pass | replace_readd_pass);
    if (in_hierarchy) yfw_map_remove_from_node_hierarchy(ctx, node);
    YMAP_END(fr);
    return rc;
}

// What the key scan of a list entry found among its children.
struct key_notes {
    uint32_t key_children = 0;
    uint32_t valued_keys = 0;
    bool key_without_value = false;
    bool non_key_child = false;
};

// Walks one entry's children (or one instance's): the key through its leaf
// walker after the key checks, the inner containers unless this is the
// delete pass of a replace, anything else as in the child dispatch.
ymap_result dispatch_entry(ymap::frame &fr, const schema_node &n, yfw_map_node *entry,
                           yfw_map_datatree *tree, key_notes &notes) {
    yfw_map_ctx *ctx = fr.ctx;
    const schema_node &key = table::nodes[n.key];
    const bool delete_pass = (ctx->req_ctx->replace_bits & replace_delete_pass) != 0;
    yfw_map_node *children;
    uint32_t count;
    if (!take_children(fr, entry, children, count)) return YMAP_ERR_BAD_REQUEST;
    ymap_result rc = YMAP_OK;
    uint16_t next = 0;
    for (uint32_t i = 0; i < count && rc == YMAP_OK; ++i) {
        yfw_map_node *child = &children[i];
        if (child->tag == nullptr) {
            YMAP_ERR(fr, "Tag name is not available!");
            return YMAP_ERR_BAD_REQUEST;
        }
        if (yfw_map_do_these_match(child->tag, key.tag)) {
            if (is_strict_edit(ctx) && !has_value(child)) {
                YMAP_ERR(fr, "Empty list key specified.");
                ymap::set_error_tag(ctx, child->tag);
                return YMAP_ERR_LIST_KEY;
            }
            if (yfw_map_is_request_delete(child)) {
                YMAP_ERR(fr, "The key node should not have delete operation.");
                return YMAP_ERR_KEY_DELETE;
            }
            rc = walk(ctx, n.key, child, tree);
            if (has_value(child))
                ++notes.valued_keys;
            else
                notes.key_without_value = true;
            mark_key(child);
            continue;
        }
        if (delete_pass) continue;
        uint16_t row = schema_child(ctx, n, child->tag, next);
        if (row != ymap::no_node) {
            rc = walk(ctx, row, child, tree);
            notes.non_key_child = true;
        } else {
            rc = dispatch_other(fr, n, child, tree);
        }
    }
    return rc;
}

// One list entry's walk: what its steps below share.
struct list_walk {
    ymap::frame &fr;
    const schema_node &n;
    yfw_map_node *node;
    yfw_map_datatree *tree;
    req_ctx *req;
    yfw_map_node *children = nullptr;
    uint32_t count = 0;
    // In walk-all mode with select-all the node is an ancestor's whose
    // children are not this list's entries.
    bool ancestor = false;
    bool in_hierarchy = false;
    bool replace = false;
    key_notes scan;
    bool list_delete_used = false;
    bool whole_list_delete = false;  // mode 1 set here, cleared when the entry ends
    // A copy: the framework's stack may move while entries are expanded.
    yfw_itree_set taken{};
    const yfw_itree_set *instances = nullptr;

    list_walk(ymap::frame &f, const schema_node &row, yfw_map_node *entry, yfw_map_datatree *out)
        : fr(f), n(row), node(entry), tree(out), req(f.ctx->req_ctx) {}
    yfw_map_ctx *ctx() const { return fr.ctx; }
    const schema_node &key() const { return table::nodes[n.key]; }
};

// An entry without children stands for the whole list in reads, deletes and
// expansions; an edit must name one. Then the entry joins the node
// hierarchy and becomes its list's current entry. False: refused, rc set.
bool enter_entry(list_walk &w, ymap_result &rc) {
    yfw_map_ctx *ctx = w.ctx();
    w.ancestor = w.req->walk_all != 0 && (w.req->filter & select_all);
    if (w.ancestor) w.count = 0;
    if (w.count == 0) {
        YMAP_ERR(w.fr, "No keys specified with a list node.");
        if (w.req->walk_all == 0 && w.req->list_delete_mode == 0 && !is_read(ctx)) {
            YMAP_ERR(w.fr, "No keys specified with a list node.");
            rc = YMAP_ERR_BAD_REQUEST;
            return false;
        }
    }
    w.in_hierarchy = w.req->walk_all == 0;
    if (w.in_hierarchy) {
        yfw_map_add_to_node_hierarchy(ctx, w.node, 2);
        set_kind(w.node, YFW_KIND_LIST_ENTRY);
        if (is_read(ctx)) reset_filter(ctx);
    }
    rc = yfw_map_update_current_list_node(ctx, w.n.list_path);
    return true;
}

// Key scan and key check of the entry as given. False: the key's leafref
// check refused it (rc set, the entry out of the hierarchy again).
bool check_entry_keys(list_walk &w, ymap_result &rc) {
    yfw_map_ctx *ctx = w.ctx();
    const schema_node &key = w.key();
    const bool scan_keys = w.count != 0 && w.req->walk_all == 0 && w.req->list_delete_mode == 0;
    if (rc == YMAP_OK && scan_keys) {
        for (uint32_t i = 0; i < w.count; ++i) {
            yfw_map_node *child = &w.children[i];
            if (!yfw_map_do_these_match(child->tag, key.tag)) {
                w.scan.non_key_child = true;
                continue;
            }
            ++w.scan.key_children;
            if (is_strict_edit(ctx)) {
                ymap_result lr =
                    yfw_map_check_oc_leafref(ctx, w.n.list_path, "config", key.tag, w.node);
                if (lr != YMAP_OK) {
                    YMAP_ERR(w.fr, "leafref value check fail");
                    if (w.in_hierarchy) yfw_map_remove_from_node_hierarchy(ctx, w.node);
                    rc = lr;
                    return false;
                }
            }
            mark_key(child);
            if (has_value(child))
                ++w.scan.valued_keys;
            else
                w.scan.key_without_value = true;
        }
    }
    if (scan_keys && ((w.scan.valued_keys == 0 && is_strict_edit(ctx)) || w.scan.valued_keys >= 2 ||
                      w.scan.key_children >= 2)) {
        YMAP_ERR(w.fr, "List key node error.");
        ymap::set_error_tag(ctx, key.tag);
        rc = YMAP_ERR_LIST_KEY;
    }
    return true;
}

// A replace removes the entry's content (first pass), then adds what was
// given (second pass); the key scan's findings do not hold for the first.
void begin_replace(list_walk &w) {
    w.replace = w.node->operation == YFW_OP_REPLACE;
    if (!w.replace) return;
    set_operation(w.node, YFW_OP_REMOVE);
    w.req->replace_bits |= replace_delete_pass;
    w.scan.key_without_value = false;
    w.scan.non_key_child = false;
}

// The list handler, in the list-delete mode the entry asks for, and the
// instance set it may have pushed.
ymap_result call_list_handler(list_walk &w) {
    yfw_map_ctx *ctx = w.ctx();
    req_ctx *req = w.req;
    ymap_result rc;
    const uint16_t stack_before = yfw_map_util_itree_stack_size(ctx);
    const bool is_delete = yfw_map_is_request_delete(w.node);
    if (is_delete && !w.scan.non_key_child && w.scan.key_children >= 1 &&
        req->list_delete_mode == 0) {
        // Delete of one entry named by its key.
        req->list_delete_mode = 2;
        rc = w.n.handler(ctx, w.node, w.tree);
        req->list_delete_mode = 0;
        w.list_delete_used = true;
    } else {
        if (is_delete && w.count == 0 && req->list_delete_mode == 0 && req->walk_all == 1) {
            req->list_delete_mode = 1;
            w.whole_list_delete = true;
            w.list_delete_used = true;
        }
        rc = w.n.handler(ctx, w.node, w.tree);
    }
    if (static_cast<uint16_t>(yfw_map_util_itree_stack_size(ctx)) >
        static_cast<uint16_t>(stack_before)) {
        yfw_itree_set *top = nullptr;
        if (yfw_map_util_itree_stack_peak(ctx, &top) == YMAP_OK && top != nullptr) {
            w.taken = *top;
            w.instances = &w.taken;
        }
    }
    if (rc == YMAP_OK)
        ctx->cur_list_op = (w.node->flags & YFW_NODE_OP_REWRITTEN) ? w.node->operation : 0;
    return rc;
}

// Keyed expansion: the entry named only by its key stands for everything
// in it, walked with its children hidden on the instance stack.
void expand_named_entry(list_walk &w, yfw_map_node *inst) {
    yfw_map_ctx *ctx = w.ctx();
    req_ctx *req = w.req;
    const uint32_t saved_walk_all = req->walk_all;
    const uint32_t saved_mode = req->list_delete_mode;
    req->walk_all = 1;
    if (w.list_delete_used) req->list_delete_mode = 1;
    if (yfw_map_is_request_delete(w.node)) set_operation(inst, YFW_OP_REMOVE);
    yfw_map_node *inst_children = inst->children;
    const uint32_t inst_count = inst->child_count;
    const uint8_t inst_flags = inst->flags;
    yfw_map_util_itree_stack_push(ctx, inst_children, inst_count, nullptr);
    inst->children = nullptr;
    inst->child_count = 0;
    inst->flags &= ~YFW_NODE_CHILDREN_VALID;
    walk_subtree_with(ctx, w.n, inst, w.tree, false, state_order::in_schema_order, nullptr);
    req->walk_all = saved_walk_all;
    req->list_delete_mode = saved_mode;
    inst->children = inst_children;
    inst->child_count = inst_count;
    if (inst_flags & YFW_NODE_CHILDREN_VALID) inst->flags |= YFW_NODE_CHILDREN_VALID;
    yfw_map_util_itree_stack_pop(ctx);
}

// Expansion without children: the key, config and inner container with
// the node itself, state after the delete operation is restored.
void expand_bare_entry(list_walk &w) {
    req_ctx *req = w.req;
    const uint32_t saved_walk_all = req->walk_all;
    const uint32_t saved_mode = req->list_delete_mode;
    req->walk_all = 1;
    yfw_map_node *restore = nullptr;
    if (yfw_map_is_request_delete(w.node)) {
        if (w.node->operation == YFW_OP_DELETE) {
            set_operation(w.node, YFW_OP_REMOVE);
            restore = w.node;
        }
        if (req->list_delete_mode == 0) req->list_delete_mode = 1;
    }
    walk_subtree_with(w.ctx(), w.n, w.node, w.tree, true, state_order::last, restore);
    req->walk_all = saved_walk_all;
    req->list_delete_mode = saved_mode;
}

// One instance the framework produced, or the entry itself: its children,
// then its expansion when it names no more than its key or nothing.
void visit_instance(list_walk &w, yfw_map_node *inst, bool added, ymap_result &rc) {
    yfw_map_ctx *ctx = w.ctx();
    if (added) {
        yfw_map_add_to_node_hierarchy(ctx, inst, 2);
        yfw_map_update_current_list_node(ctx, w.n.list_path);
    }
    if (w.instances != nullptr && w.instances->callback != nullptr) {
        if (yfw_map_is_request_delete(w.node)) set_operation(inst, YFW_OP_REMOVE);
        w.instances->callback(ctx, inst, w.tree, 0);
    }
    key_notes given;
    const bool own_children = !(w.ancestor && inst == w.node);
    if (rc == YMAP_OK && own_children) rc = dispatch_entry(w.fr, w.n, inst, w.tree, given);

    const bool read_or_delete = is_read(ctx) || yfw_map_is_request_delete(w.node);
    if (rc == YMAP_OK && given.valued_keys >= 1 && !given.key_without_value &&
        !given.non_key_child && read_or_delete)
        expand_named_entry(w, inst);
    const bool inst_empty =
        !own_children || (inst->flags & YFW_NODE_CHILDREN_VALID) == 0 || inst->child_count == 0;
    if (inst_empty && read_or_delete) expand_bare_entry(w);
    if (added) yfw_map_remove_from_node_hierarchy(ctx, inst);
}

// A read that names an entry by other leaves only: the key is added to the
// request so the answer can carry it.
ymap_result add_read_key(list_walk &w) {
    yfw_map_node *key_leaf = nullptr;
    ymap_result rc = yfw_map_datatree_add_path_flagged(w.ctx(), w.node, w.key().tag, w.node->ns,
                                                       nullptr, nullptr, &key_leaf, 0, 0);
    if (key_leaf != nullptr) mark_key(key_leaf);
    return rc;
}

// One pass over the entry: the list handler, then each instance it
// produced (or the entry itself).
void walk_entry_pass(list_walk &w, int pass, ymap_result &rc) {
    if (rc == YMAP_OK) rc = call_list_handler(w);
    const bool has_instances = w.instances != nullptr && w.instances->count != 0;
    const uint32_t n_instances = has_instances ? w.instances->count : 1;
    for (uint32_t idx = 0; idx < n_instances; ++idx) {
        yfw_map_node *inst = has_instances ? &w.instances->instances[idx] : w.node;
        visit_instance(w, inst, idx >= 1, rc);
    }
    if (rc == YMAP_OK && is_read(w.ctx()) && w.req->walk_all == 0 && w.scan.key_children == 0 &&
        w.scan.non_key_child)
        rc = add_read_key(w);
    if (w.replace && pass == 0) {
        set_operation(w.node, YFW_OP_NONE);
        w.req->replace_bits &= ~replace_delete_pass;
    }
}

// Undoes what the entry's walk set up, in every way out past its checks.
void leave_entry(list_walk &w) {
    if (w.replace) w.req->replace_bits &= ~(replace_delete_pass | replace_readd_pass);
    if (w.instances != nullptr && w.instances->count != 0) yfw_map_util_itree_stack_pop(w.ctx());
    if (w.whole_list_delete) w.req->list_delete_mode = 0;
    if (w.in_hierarchy) yfw_map_remove_from_node_hierarchy(w.ctx(), w.node);
}

ymap_result walk_list(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                      yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    list_walk w(fr, n, node, tree);
    if (!take_children(fr, node, w.children, w.count)) {
        YMAP_END(fr);
        return YMAP_ERR_BAD_REQUEST;
    }
    ymap_result rc = YMAP_OK;
    if (!enter_entry(w, rc) || !check_entry_keys(w, rc)) {
        YMAP_END(fr);
        return rc;
    }
    begin_replace(w);
    for (int pass = 0; pass < (w.replace ? 2 : 1); ++pass) walk_entry_pass(w, pass, rc);
    leave_entry(w);
    YMAP_END(fr);
    return rc;
}

ymap_result walk_leaf(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                      yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    req_ctx *req = ctx->req_ctx;
    ymap_result rc = n.handler(ctx, node, tree);
    // In walk-all mode the node is an ancestor's and is left alone.
    if (req->walk_all == 0 && req->list_delete_mode == 0) {
        set_kind(node, YFW_KIND_SELECTION_LEAF);
        if (!n.is_key && is_read(ctx)) {
            if (has_value(node)) {
                req->filter |= content_match_seen | content_match_recorded;
                set_kind(node, YFW_KIND_CONTENT_MATCH);
            } else {
                req->filter |= selection_seen;
            }
        }
    }
    YMAP_END(fr);
    return rc;
}

// Recursion depth is the schema's depth, fixed at build time.
ymap_result walk(yfw_map_ctx *ctx, uint16_t row, yfw_map_node *node, yfw_map_datatree *tree) {
    const schema_node &n = table::nodes[row];
    switch (n.kind) {
        case schema_kind::container: return walk_container(n, ctx, node, tree);
        case schema_kind::list: return walk_list(n, ctx, node, tree);
        case schema_kind::leaf: return walk_leaf(n, ctx, node, tree);
    }
    return YMAP_ERR_INVALID_ARGS;
}

}  // namespace

extern "C" YMAP_EXPORT ymap_result ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return walk(ctx, 0, node, tree);
}
