// The next-hop list entry: which native list an OpenConfig next-hop goes to.
//
// OpenConfig keys a route's next-hops by a free-text index; the native model
// keeps them in three lists keyed by what they are (interface only, address
// only, both), each entry carrying the OpenConfig index in its own leaf. An
// edit can therefore change the native key of an entry: the entry then moves
// (new entry with its carried-over attributes, old entry removed). The index
// lookup tells what exists today; the decisions are left in the working
// record for the leaf callbacks that run after this one.
#include <stdio.h>
#include <string.h>

#include "ymap_ocstatic_openconfig_local_routing_man.h"
#include "ymap_ocstatic_openconfig_local_routing_man_util.h"

using namespace oc_lr;

namespace {

// One next-hop list entry being decided.
struct nexthop_entry {
    ymap::frame &fr;
    yfw_map_ctx *ctx;
    yfw_map_node *node;
    yfw_map_datatree *tree;
    oc_lr_prefix_type &rec;
    native_path table;                // the family's next-hop table
    char intf[OC_LR_INTF_NAME_TEXT];  // the request's interface text
};

bool is_null0(const char *intf) {
    return same_text(intf, OC_LR_NULL_INTF);
}

// ---------------------------------------------------------------- native adds

ymap_result add_list_entry(nexthop_entry &e, const char *list) {
    native_path path;
    join_path(path, e.table, list);
    return add_native(e.ctx, e.tree, path, nullptr, e.node, true);
}

ymap_result add_leaf(nexthop_entry &e, const char *list, const char *leaf, const char *value,
                     yfw_map_node *bound) {
    native_path path;
    join_path(path, e.table, list, leaf);
    return add_native(e.ctx, e.tree, path, value, bound);
}

// The key leaves of an entry of `list`; the combined list's address comes
// first unless intf_first.
ymap_result add_keys(nexthop_entry &e, const char *list, const char *addr, const char *intf,
                     yfw_map_node *bound, bool intf_first = false) {
    if (strcmp(list, OC_LR_LIST_ADDR) == 0) return add_leaf(e, list, OC_LR_LEAF_ADDR, addr, bound);
    if (strcmp(list, OC_LR_LIST_INTF) == 0) return add_leaf(e, list, OC_LR_LEAF_INTF, intf, bound);
    if (intf_first) {
        add_leaf(e, list, OC_LR_LEAF_INTF, intf, bound);
        return add_leaf(e, list, OC_LR_LEAF_ADDR, addr, bound);
    }
    add_leaf(e, list, OC_LR_LEAF_ADDR, addr, bound);
    return add_leaf(e, list, OC_LR_LEAF_INTF, intf, bound);
}

// The list the existing entry is in.
const char *old_list(const oc_lr_prefix_type &r) {
    if (r.old_has_addr && r.old_has_intf) return OC_LR_LIST_BOTH;
    if (r.old_has_addr) return OC_LR_LIST_ADDR;
    return OC_LR_LIST_INTF;
}

// The existing entry and its keys.
ymap_result add_old_entry(nexthop_entry &e, yfw_map_node *keys_bound, bool intf_first = false) {
    const char *list = old_list(e.rec);
    add_list_entry(e, list);
    return add_keys(e, list, e.rec.old_addr, e.rec.old_intf, keys_bound, intf_first);
}

// ---------------------------------------------------------------- procedures

// The list a new entry goes to, by what the request gives (null: none).
const char *chosen_list(const oc_lr_prefix_type &r) {
    if (r.nexthop_set && r.intf_set) return OC_LR_LIST_BOTH;
    if (r.nexthop_set) return r.is_drop ? OC_LR_LIST_INTF : OC_LR_LIST_ADDR;
    if (r.intf_set) return OC_LR_LIST_INTF;
    return nullptr;
}

// Create path: the list entry only; its keys, index and metric come from
// the leaf callbacks. The route's tag goes onto every entry it writes.
ymap_result create_path(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    const char *list = chosen_list(r);
    ymap_result rc = YMAP_OK;
    if (list != nullptr) rc = add_list_entry(e, list);
    if (list != nullptr && has_text(r.tag_text) && !r.tag_deleted && !r.metric_written) {
        rc = OC_LR_OX(leaf_lvla_localroutes_config_settag_v2)(e.ctx, e.node, e.tree);
        if (rc != YMAP_OK) {
            YMAP_ERR(e.fr, "set-tag configuration is failed");
            return YMAP_ERR_BAD_REQUEST;
        }
    }
    return rc;
}

// A replaced entry is written afresh; without a tag of its own in the
// request it keeps the one it has.
void carry_tag_over(oc_lr_prefix_type &r) {
    if (r.is_replace && r.tag_text[0] == '\0' && !r.tag_deleted && r.tag_value != 0)
        snprintf(r.tag_text, sizeof r.tag_text, "%u", r.tag_value);
}

// The entry under new keys in `list`, with its index and the attributes of
// the existing entry. False when the attributes could not be written.
bool write_new_entry(nexthop_entry &e, const char *list, const char *addr, const char *intf,
                     ymap_result &rc) {
    add_list_entry(e, list);
    rc = add_keys(e, list, addr, intf, nullptr);
    if (!e.rec.index_known) rc = add_leaf(e, list, "/index", e.rec.index, e.node);
    native_path path;
    join_path(path, e.table, list);
    if (set_metadata_path(path, e.ctx, e.tree) != YMAP_OK) {
        YMAP_ERR(e.fr, "Invalid request");
        rc = YMAP_ERR_BAD_REQUEST;
        return false;
    }
    return true;
}

// Move: the new entry first, then the old one goes with operation remove
// for the length of its adds only; the request node keeps its own
// operation for what follows.
ymap_result move_to(nexthop_entry &e, const char *list, const char *addr, const char *intf) {
    ymap_result rc;
    if (!write_new_entry(e, list, addr, intf, rc)) return rc;
    const uint32_t saved = e.node->operation;
    rewrite_operation(e.node, YFW_OP_REMOVE);
    rc = add_old_entry(e, e.node);
    e.node->operation = saved;
    e.rec.nexthop_done = 1;
    return rc;
}

// The existing entry is deleted for good: the request node keeps the
// delete operation.
ymap_result remove_old(nexthop_entry &e, bool keys_bound, bool intf_first = false) {
    rewrite_operation(e.node, YFW_OP_DELETE);
    const ymap_result rc = add_old_entry(e, keys_bound ? e.node : nullptr, intf_first);
    e.rec.metric_written = 1;
    return rc;
}

// The request equals the existing entry: nothing to write.
ymap_result unchanged(oc_lr_prefix_type &r) {
    r.entry_unchanged = 1;
    r.nexthop_done = 1;
    return YMAP_OK;
}

// The existing entry stays where it is; the leaf callbacks merge into it.
ymap_result in_place(nexthop_entry &e) {
    e.rec.entry_in_place = 1;
    return create_path(e);
}

// The index lookup. A search that succeeds on a route without stored
// next-hops leaves no keys to move or remove; such an index is as new as one
// that is not found.
ymap_result look_up_index(nexthop_entry &e) {
    ymap_result rc = do_index_lookup_on_sysdb(e.ctx, e.node);
    if (rc == YMAP_OK && existing_of(e.rec) == existing_list::none) rc = YMAP_SYSDB_NOT_FOUND;
    return rc;
}

// The subinterface part of a native interface text: after the first dot
// that is not at the start; null when there is none or it is empty or "0".
const char *subinterface_of(const char *intf) {
    const char *dot = intf[0] != '\0' ? strchr(intf + 1, '.') : nullptr;
    if (dot == nullptr || dot[1] == '\0' || strcmp(dot + 1, "0") == 0) return nullptr;
    return dot;
}

// ---------------------------------------------------------------- decision

enum class step { decided, go_on };

// E1 to E3: the lookup and what it settles on its own. rc holds the result
// when decided.
step look_up_and_settle(nexthop_entry &e, ymap_result &rc) {
    oc_lr_prefix_type &r = e.rec;
    // E1
    rc = look_up_index(e);
    if (rc != YMAP_OK && rc != YMAP_SYSDB_NOT_FOUND) {
        YMAP_ERR(e.fr, "Index lookup failed");
        return step::decided;
    }
    // E2: a new index.
    if (rc == YMAP_SYSDB_NOT_FOUND) {
        if (r.metric_deleted || r.nexthop_deleted || r.subintf_deleted || r.intf_deleted) {
            YMAP_ERR(e.fr, "Delete operation received for unknown index");
            return step::decided;
        }
        rc = create_path(e);
        return step::decided;
    }
    // E3: the subinterface alone is deleted from an existing entry.
    if (r.subintf_deleted && !r.intf_deleted && !r.intf_set) {
        const char *sub = r.old_has_intf ? subinterface_of(r.old_intf) : nullptr;
        if (sub != nullptr) {
            strncpy_s(e.intf, sizeof e.intf, r.old_intf, static_cast<rsize_t>(sub - r.old_intf));
            r.intf_set = 1;
        } else if (r.nexthop_set) {
            // Nothing to strip; the next-hop decides.
        } else if (r.metric != nullptr) {
            r.nexthop_done = 1;
            rc = YMAP_OK;
            return step::decided;
        } else {
            if (r.old_has_intf)
                YMAP_ERR(e.fr,
                         "Subinterface delete received for the entry not having subinterface");
            else
                YMAP_ERR(e.fr, "Subinterface delete received for the entry not having interface");
            rc = YMAP_OK;
            return step::decided;
        }
    }
    return step::go_on;
}

// E8: single-leaf deletes on an existing entry. Where an old entry's
// removal does not say otherwise, its keys are bound like a move's.
ymap_result single_leaf_deletes(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    const existing_list old = existing_of(r);
    ymap_result rc = YMAP_OK;
    if (r.intf_deleted && !r.nexthop_deleted) {
        // The interface goes, the address stays.
        if (old == existing_list::both || r.nexthop_set) {
            if (!write_new_entry(e, OC_LR_LIST_ADDR, r.nexthop_set ? r.nexthop : r.old_addr,
                                 nullptr, rc))
                return rc;
            if (old == existing_list::both) rc = remove_old(e, false, true);
            r.metric_written = 1;
        }
        if (old == existing_list::interface && !is_null0(r.old_intf)) rc = remove_old(e, true);
    } else if (r.nexthop_deleted && !r.intf_deleted) {
        // The address goes, the interface stays.
        if (old == existing_list::both || r.intf_set) {
            if (!write_new_entry(e, OC_LR_LIST_INTF, nullptr,
                                 has_text(e.intf) ? e.intf : r.old_intf, rc))
                return rc;
            if (old == existing_list::both) rc = remove_old(e, true, true);
            r.metric_written = 1;
        }
        // An old entry without a real interface has nothing left to keep.
        if ((old == existing_list::interface && is_null0(r.old_intf)) ||
            old == existing_list::address)
            rc = remove_old(e, true);
    } else {
        return create_path(e);
    }
    r.nexthop_done = 1;
    return rc;
}

// E7 for a request that gives an interface and no next-hop.
ymap_result interface_only(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    const bool same_intf = r.old_has_intf && same_text(e.intf, r.old_intf);
    // E7.2: a new or another interface. A replace drops the old address.
    if (!same_intf) {
        if (r.old_has_addr && !r.is_replace) return move_to(e, OC_LR_LIST_BOTH, r.old_addr, e.intf);
        return move_to(e, OC_LR_LIST_INTF, nullptr, e.intf);
    }
    // E7.3: the same interface.
    if (r.is_replace) {
        if (r.old_has_addr) return move_to(e, OC_LR_LIST_INTF, nullptr, e.intf);
        carry_tag_over(r);
        return create_path(e);
    }
    if (r.old_has_addr) return unchanged(r);
    return in_place(e);
}

// E7 for a request that gives a next-hop and no interface.
ymap_result nexthop_only(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    const bool same_addr = r.old_has_addr && same_text(r.nexthop, r.old_addr);
    // E7.4
    if (r.intf_deleted) return single_leaf_deletes(e);
    // E7.5: the same address; a replace of a combined entry goes on below.
    if (same_addr && !(r.is_replace && r.old_has_intf)) {
        if (r.is_replace) {
            carry_tag_over(r);
            return create_path(e);
        }
        if (r.old_has_intf) return unchanged(r);
        return in_place(e);
    }
    // E7.6
    if (r.is_drop && is_null0(r.old_intf)) {
        if (!r.is_replace) return unchanged(r);
        carry_tag_over(r);
        return in_place(e);
    }
    if (same_addr && !r.is_replace) return create_path(e);
    if (!r.old_has_intf) {
        if (r.is_drop) return move_to(e, OC_LR_LIST_INTF, nullptr, OC_LR_NULL_INTF);
        return move_to(e, OC_LR_LIST_ADDR, r.nexthop, nullptr);
    }
    if (!r.is_drop) {
        // A real interface stays with the new address unless replaced.
        if (is_null0(r.old_intf) || r.is_replace)
            return move_to(e, OC_LR_LIST_ADDR, r.nexthop, nullptr);
        return move_to(e, OC_LR_LIST_BOTH, r.nexthop, r.old_intf);
    }
    return move_to(e, OC_LR_LIST_INTF, nullptr, OC_LR_NULL_INTF);
}

// E7.7: a request that gives both.
ymap_result nexthop_and_interface(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    if (r.old_has_addr && r.old_has_intf) {
        if (same_text(r.nexthop, r.old_addr) && same_text(e.intf, r.old_intf)) {
            carry_tag_over(r);
            return in_place(e);
        }
        // Either key or both changed: the entry takes the request's keys.
        return move_to(e, OC_LR_LIST_BOTH, r.nexthop, e.intf);
    }
    if (r.old_has_addr) return move_to(e, OC_LR_LIST_BOTH, r.nexthop, e.intf);
    if (r.old_has_intf && has_text(e.intf)) return move_to(e, OC_LR_LIST_BOTH, r.nexthop, e.intf);
    return create_path(e);
}

// An edit that does not delete the entry.
ymap_result edit_entry(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    // E0: inside a replaced route everything is written afresh.
    if (r.under_replace) return create_path(e);

    ymap_result rc;
    if (look_up_and_settle(e, rc) == step::decided) return rc;

    // E4: next-hop and interface both deleted: the entry goes.
    if (r.nexthop_deleted && r.intf_deleted) {
        remove_old(e, false);
        r.nexthop_done = 1;
        return YMAP_OK;
    }
    // E5: the next-hop deleted from an entry that has only a real
    // interface. Harmless next to a metric or a new interface; alone it
    // would leave nothing to change.
    if (r.nexthop_deleted && !r.old_has_addr && !is_null0(r.old_intf)) {
        if (r.metric != nullptr || (has_text(e.intf) && !same_text(e.intf, r.old_intf))) {
            r.nexthop_deleted = 0;
        } else {
            YMAP_ERR(e.fr, "Delete received for the entry that has no nexthop config");
            return YMAP_ERR_BAD_REQUEST;
        }
    }
    // E6: the interface deleted from an entry without a real interface.
    if (r.intf_deleted && !(r.old_has_intf && !is_null0(r.old_intf))) {
        bool refuse = false;
        if (r.metric != nullptr)
            r.intf_deleted = 0;
        else if (!r.nexthop_set)
            refuse = true;
        else if (is_null0(r.old_intf))
            refuse = r.is_drop != 0;
        else
            refuse = same_text(r.nexthop, r.old_addr);
        if (refuse) {
            YMAP_ERR(e.fr, "Delete received for the entry that has no interface config");
            return YMAP_ERR_BAD_REQUEST;
        }
        r.intf_deleted = 0;
    }

    // E7: decide on the existing entry.
    const bool R = r.nexthop_set != 0;
    const bool I = r.intf_set != 0;
    if ((!R && !I) || (I && !R && r.nexthop_deleted)) return single_leaf_deletes(e);  // E7.1
    if (I && !R) return interface_only(e);                                            // E7.2, E7.3
    if (R && !I) return nexthop_only(e);                                              // E7.4 - E7.6
    return nexthop_and_interface(e);                                                  // E7.7
}

// A delete of the whole entry: the existing native entry goes.
ymap_result delete_entry(nexthop_entry &e) {
    req_ctx *req = e.ctx->req_ctx;
    if (req->list_delete_mode != 0 && req->walk_all != 0) return YMAP_OK;
    ymap_result rc = look_up_index(e);
    if (rc != YMAP_OK) return rc;
    add_list_entry(e, old_list(e.rec));
    // The keys name the entry being deleted; they are not list deletes of
    // their own.
    const uint32_t mode = req->list_delete_mode;
    if (mode != 0) req->list_delete_mode = 0;
    rc = add_keys(e, old_list(e.rec), e.rec.old_addr, e.rec.old_intf, nullptr);
    if (mode != 0) req->list_delete_mode = 1;
    e.rec.nexthop_done = 1;
    e.rec.metric_written = 1;
    return rc;
}

// A read names the existing entry by its keys, or the one the request
// would create.
ymap_result read_entry(nexthop_entry &e) {
    if (walk_all(e.ctx)) return YMAP_OK;
    if (e.rec.under_replace) return create_path(e);
    ymap_result rc;
    if (look_up_and_settle(e, rc) == step::decided) return rc;
    return add_old_entry(e, nullptr);
}

// Preparation: the entry as the request gives it. Nonzero: refused.
ymap_result prepare(nexthop_entry &e) {
    oc_lr_prefix_type &r = e.rec;
    oc_lr_init_prefix_type(&r);
    // These describe the entry being decided; the scans below set them only
    // from leaves the entry carries, so an earlier entry's values must not
    // stand in for absent ones.
    r.index = nullptr;
    r.nexthop = nullptr;
    r.intf_name = nullptr;
    r.subintf = nullptr;
    r.intf_set = check_next_hop_interface_config(e.ctx, e.node);
    r.nexthop_set = check_next_hop_ip_and_set_drop_config(e.ctx, e.node);
    if (r.is_drop && r.intf_set) {
        YMAP_ERR(e.fr, "Interface configuration is not allowed when next-hop is drop");
        return YMAP_ERR_BAD_REQUEST;
    }
    if (r.is_local_link && !r.intf_set) {
        YMAP_ERR(e.fr, "Interface configuration is must when next-hop is local-link");
        return YMAP_ERR_BAD_REQUEST;
    }
    e.intf[0] = '\0';
    if (!r.intf_deleted &&
        !build_intf_text(e.intf, r.intf_name, r.subintf_deleted ? nullptr : r.subintf)) {
        YMAP_ERR(e.fr, "Invalid request");
        return YMAP_ERR_BAD_REQUEST;
    }
    r.is_replace = e.node->operation == YFW_OP_REPLACE ? 1 : 0;
    get_mapping_path_name_nexthop(r.is_ipv4, e.table);
    return YMAP_OK;
}

}  // namespace

// /local-routes/static-routes/static/next-hops/next-hop
extern "C" YMAP_EXPORT ymap_result OC_LR_OX(man_list_lvla_localroutes_nexthops_nexthop)(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_lr_prefix_type *rec = record_of(ctx);
    if (rec == nullptr) {
        YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
        YMAP_END(fr);
        return YMAP_OK;
    }
    nexthop_entry e{fr, ctx, node, tree, *rec, {}, {}};
    ymap_result rc = prepare(e);
    if (rc == YMAP_OK) {
        if (is_read(ctx))
            rc = read_entry(e);
        else if (yfw_map_is_request_delete(node))
            rc = delete_entry(e);
        else
            rc = edit_entry(e);
    }
    YMAP_END(fr);
    return rc;
}
