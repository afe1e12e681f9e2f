// Hand-written OpenConfig-side callbacks: the static route, its prefix and
// tag, and the leaves of a next-hop entry with the condition callbacks that
// choose among candidate native paths. The next-hop list entry itself, which
// decides the native list an entry belongs in, is in the _man_nexthop source.
//
// Every static route maps into the default VRF's unicast prefixes of the
// native model. In an edit the native paths are added with values, bound to
// the request node so that its operation applies; in a read they are added
// (mostly without values) to say what must be read.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "ymap_ocstatic_openconfig_local_routing_man.h"
#include "ymap_ocstatic_openconfig_local_routing_man_util.h"

using namespace oc_lr;

namespace {

#define OC_LR_NT(family)                                \
    "/router-static/default-vrf/address-family/" family \
    "/vrf-unicast/vrf-prefixes/vrf-prefix/"             \
    "vrf-route/vrf-next-hop-table"
#define OC_LR_PREFIXES(family) \
    "/router-static/default-vrf/address-family/" family "/vrf-unicast/vrf-prefixes"

// The tag leaves of both families' three next-hop lists, in the order a
// read asks for them.
constexpr const char *tag_leaves[] = {
    OC_LR_NT("vrfipv4") OC_LR_LIST_INTF "/tag", OC_LR_NT("vrfipv4") OC_LR_LIST_BOTH "/tag",
    OC_LR_NT("vrfipv4") OC_LR_LIST_ADDR "/tag", OC_LR_NT("vrfipv6") OC_LR_LIST_INTF "/tag",
    OC_LR_NT("vrfipv6") OC_LR_LIST_BOTH "/tag", OC_LR_NT("vrfipv6") OC_LR_LIST_ADDR "/tag",
};

// ---------------------------------------------------------------- records

// Replaces the request's working record with a fresh zero-filled one. The
// host frees whatever is left at the end of the request.
oc_lr_prefix_type *fresh_record(yfw_map_ctx *ctx) {
    if (ctx->req_ctx == nullptr) return nullptr;
    free(ctx->req_ctx->common_data_ptr);
    ctx->req_ctx->common_data_ptr = calloc(1, sizeof(oc_lr_prefix_type));
    return record_of(ctx);
}

// A framework copy of "address/length" split at the first slash.
struct split_prefix {
    const char *address = nullptr;
    const char *length = nullptr;
};

split_prefix split(const char *prefix, const char *owner) {
    split_prefix out;
    if (prefix == nullptr) return out;
    char *copy = yfw_strdup(prefix, owner);
    if (copy == nullptr) return out;
    out.address = copy;
    if (char *slash = strchr(copy, '/'); slash != nullptr) {
        *slash = '\0';
        out.length = slash + 1;
    }
    return out;
}

// Adds the prefix and prefix-length leaves under the family's prefix list.
ymap_result add_prefix_leaves(yfw_map_ctx *ctx, yfw_map_datatree *tree, uint32_t is_ipv4,
                              const split_prefix &p, yfw_map_node *bound) {
    native_path list;
    native_path path;
    get_mapping_path_name_prefix(is_ipv4, list);
    join_path(path, list, "/prefix");
    add_native(ctx, tree, path, p.address, bound);
    join_path(path, list, "/prefix-length");
    return add_native(ctx, tree, path, p.length, bound);
}

ymap_result add_tag_leaves(yfw_map_ctx *ctx, yfw_map_datatree *tree, const char *value) {
    ymap_result rc = YMAP_OK;
    for (const char *leaf : tag_leaves) rc = add_native(ctx, tree, leaf, value, nullptr);
    return rc;
}

// A tag is configured as a number, in decimal or hexadecimal ("0x1F" or a
// text with the letters a-f); the native tag is always decimal.
void normalise_tag(char (&tag)[OC_LR_TAG_TEXT]) {
    const char *hex = nullptr;
    if (tag[0] == '0' && (tag[1] == 'x' || tag[1] == 'X'))
        hex = tag + 2;
    else if (strpbrk(tag, "abcdefABCDEF") != nullptr)
        hex = tag;
    if (hex == nullptr) return;
    const auto value = static_cast<uint32_t>(strtoul(hex, nullptr, 16));
    snprintf(tag, sizeof tag, "%u", value);
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- static routes

// /local-routes/static-routes
YMAP_EXPORT ymap_result OC_LR_OX(man_cont_lvla_localroutes_staticroutes)(yfw_map_ctx *ctx,
                                                                         yfw_map_node *node,
                                                                         uint32_t child_count,
                                                                         yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    bool mapped = true;
    if (node->operation == YFW_OP_REPLACE) {
        oc_lr_prefix_type *rec = fresh_record(ctx);
        if (rec == nullptr) {
            YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
            mapped = false;
        } else {
            rec->under_replace = 1;
        }
    }
    if (mapped && child_count != 0) {
        YMAP_TRC(fr, "Mapping done for this node");
        rc = add_native(ctx, tree, "/router-static", nullptr, node);
    } else if (mapped) {
        YMAP_TRC(fr, "No subtrees");
        if (!is_read(ctx) && yfw_map_is_request_delete(node))
            rc = add_native(ctx, tree, "/router-static", nullptr, node);
    }
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static
YMAP_EXPORT ymap_result OC_LR_OX(man_list_lvla_localroutes_staticroutes_static)(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);

    // The key, if the entry names one. A malformed child list maps nothing.
    const char *prefix = nullptr;
    if ((node->flags & YFW_NODE_CHILDREN_VALID) != 0) {
        if (node->child_count != 0 && node->children == nullptr) {
            YMAP_END(fr);
            return YMAP_OK;
        }
        for (uint32_t i = 0; i < node->child_count; ++i) {
            const yfw_map_node &child = node->children[i];
            if (child.tag == nullptr) {
                YMAP_END(fr);
                return YMAP_OK;
            }
            if (yfw_map_do_these_match(child.tag, "prefix")) {
                prefix = child.value;
                break;
            }
        }
    }
    const split_prefix key = split(prefix, "prefixinput");

    // A replace seen above this route holds for every later route too.
    const oc_lr_prefix_type *old = record_of(ctx);
    const bool inherited_replace = old != nullptr && old->under_replace == 1;
    oc_lr_prefix_type *rec = fresh_record(ctx);
    if (rec == nullptr) {
        YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
        YMAP_END(fr);
        return YMAP_OK;
    }
    if (check_nexthops_operation_delete_replace(ctx, node) == 1) rec->nexthops_rewritten = 1;
    rec->under_replace = inherited_replace || node->operation == YFW_OP_REPLACE ? 1 : 0;
    rec->prefix = prefix;
    // An address that does not parse is neither family; it maps as IPv6.
    const char *family =
        key.address != nullptr ? ymap_localrouting_check_ipv4_ipv6(key.address) : "NULL";
    if (yfw_map_do_these_match(family, "ipv4")) rec->is_ipv4 = 1;

    ymap_result rc;
    native_path path;
    if (yfw_map_is_request_delete(node) && prefix == nullptr &&
        ctx->req_ctx->list_delete_mode != 0) {
        // The whole list: both families' prefix lists go.
        get_mapping_path_name_prefix(1, path);
        add_native(ctx, tree, path, nullptr, node, true);
        get_mapping_path_name_prefix(0, path);
        rc = add_native(ctx, tree, path, nullptr, node, true);
    } else {
        get_mapping_path_name_prefix(rec->is_ipv4, path);
        rc = add_native(ctx, tree, path, nullptr, node, true);
    }
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/prefix
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_static_prefix)(yfw_map_ctx *ctx,
                                                                          yfw_map_node *node,
                                                                          yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_lr_prefix_type *rec = record_of(ctx);
    if (rec == nullptr) {
        YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
        YMAP_END(fr);
        return YMAP_OK;
    }
    if (node->value != nullptr) rec->prefix = node->value;
    const split_prefix p = split(node->value, "input");
    ymap_result rc = YMAP_OK;
    if (!is_read(ctx)) {
        rc = add_prefix_leaves(ctx, tree, rec->is_ipv4, p, node);
    } else if (rec->is_ipv4 != 0 || rec->prefix != nullptr) {
        rc = add_prefix_leaves(ctx, tree, rec->is_ipv4, p, nullptr);
    } else if (walk_all(ctx)) {
        add_native(ctx, tree, OC_LR_PREFIXES("vrfipv4"), nullptr, nullptr);
        rc = add_native(ctx, tree, OC_LR_PREFIXES("vrfipv6"), nullptr, nullptr);
    }
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/config/prefix and .../state/prefix
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_config_prefix)(yfw_map_ctx *ctx,
                                                                          yfw_map_node *node,
                                                                          yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    const uint32_t is_ipv4 = rec != nullptr ? rec->is_ipv4 : 0;
    const split_prefix p = split(node->value, "input");
    const ymap_result rc = add_prefix_leaves(ctx, tree, is_ipv4, p, is_read(ctx) ? nullptr : node);
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/config/set-tag and .../state/set-tag
//
// OpenConfig has one tag per route; the native model keeps it on every
// next-hop entry, so a tag change is written onto the route's existing
// entries here and onto new entries by the tag writer below.
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_config_settag)(yfw_map_ctx *ctx,
                                                                          yfw_map_node *node,
                                                                          yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    oc_lr_prefix_type *rec = record_of(ctx);
    if (rec == nullptr) {
        YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
        YMAP_END(fr);
        return YMAP_OK;
    }
    if (node->value != nullptr) {
        // A tag is a 32-bit number, at most ten characters in either form.
        // A longer text cannot be one; cutting it would silently configure
        // another tag, so it is refused.
        if (strlen(node->value) >= sizeof rec->tag_text) {
            YMAP_ERR(fr, "Invalid request");
            YMAP_END(fr);
            return YMAP_ERR_BAD_REQUEST;
        }
        strcpy_s(rec->tag_text, sizeof rec->tag_text, node->value);
        normalise_tag(rec->tag_text);
    }
    // The tag is a single value: replacing it is merging it.
    if (node->operation == YFW_OP_REPLACE) rewrite_operation(node, YFW_OP_NONE);

    ymap_result rc = YMAP_OK;
    if (yfw_map_is_request_delete(node) && ctx->req_ctx->list_delete_mode != 0) {
        // The route goes as a whole; its entries take their tags with them.
    } else if (is_read(ctx)) {
        rc = add_tag_leaves(ctx, tree, nullptr);
    } else if (rec->under_replace == 0 && rec->nexthops_rewritten == 0) {
        // Under a replace, or with the route's next-hops rewritten in the
        // same request, each new entry gets the tag from the tag writer.
        const ymap_result lookup = do_prefix_lookup_on_sysdb_and_set_tag(ctx, node, tree);
        if (lookup != YMAP_OK && lookup != YMAP_SYSDB_NOT_FOUND) {
            YMAP_ERR(fr, "Global set-tag configuration is failed");
            rc = YMAP_ERR_BAD_REQUEST;
        }
    }
    YMAP_END(fr);
    return rc;
}

// The tag of one next-hop entry, after the next-hop list callback chose the
// native list the entry goes to.
YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_settag_v2)(yfw_map_ctx *ctx,
                                                                         yfw_map_node *node,
                                                                         yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    ymap_result rc = YMAP_OK;
    if (rec == nullptr) {
        YMAP_ERR(fr, "ctx->req_ctx->common_data_ptr is NULL");
    } else if (is_read(ctx)) {
        rc = add_tag_leaves(ctx, tree, rec->tag_text);
    } else {
        native_path list;
        rc = get_mapping_path_name(ctx, rec->is_ipv4, rec->nexthop_set, rec->intf_set, rec->is_drop,
                                   list);
        if (rc == YMAP_OK) {
            native_path path;
            join_path(path, list, "/tag");
            rc = add_native(ctx, tree, path,
                            yfw_map_is_request_delete(node) ? nullptr : rec->tag_text, node);
        }
    }
    YMAP_END(fr);
    return rc;
}

}  // extern "C"

// ---------------------------------------------------------------- condition tables
//
// Candidate native paths of the next-hops container, the index leaves and
// the metric leaves. The condition callbacks mark rows by position as well
// as by path: per family the interface list, the combined list and the
// address list, IPv4 rows first. These are the hand-written handlers' own
// tables; the generated defaults keep theirs.

namespace {

const char *row_value(yfw_map_node *node) {
    return node != nullptr ? node->value : nullptr;
}

#define OC_LR_ROW(path) \
    { path, OC_LR_NATIVE_NAMESPACE, row_value, 0, 0, "NULL" }
#define OC_LR_END_ROW \
    { "NULL", "NULL", nullptr, 0, 0, "None" }
#define OC_LR_FAMILY_ROWS(family, leaf)                   \
    OC_LR_ROW(OC_LR_NT(family) OC_LR_LIST_INTF leaf),     \
        OC_LR_ROW(OC_LR_NT(family) OC_LR_LIST_BOTH leaf), \
        OC_LR_ROW(OC_LR_NT(family) OC_LR_LIST_ADDR leaf)

constexpr uint32_t nexthops_rows = 2;
constexpr uint32_t leaf_rows = 6;
constexpr uint32_t row_intf = 0;
constexpr uint32_t row_both = 1;
constexpr uint32_t row_addr = 2;
constexpr uint32_t ipv6_first_row = 3;
constexpr uint32_t ipv4_then_ipv6[] = {1, 0};

const ymap_cond_entry nexthops_table[nexthops_rows + 1] = {
    OC_LR_ROW(OC_LR_NT("vrfipv4")), OC_LR_ROW(OC_LR_NT("vrfipv6")), OC_LR_END_ROW};
const ymap_cond_entry index_table[leaf_rows + 1] = {
    OC_LR_FAMILY_ROWS("vrfipv4", "/index"), OC_LR_FAMILY_ROWS("vrfipv6", "/index"), OC_LR_END_ROW};
const ymap_cond_entry metric_table[leaf_rows + 1] = {OC_LR_FAMILY_ROWS("vrfipv4", "/metric"),
                                                     OC_LR_FAMILY_ROWS("vrfipv6", "/metric"),
                                                     OC_LR_END_ROW};

// The working copy of a table for the condition callbacks, one per thread
// and table. Every use starts from the table's own rows with no marks, so
// marks never outlive the use; clearing the last use's marks costs far less
// than copying some 4 KB of rows again for each leaf. Nothing but the marks
// ever changes in it, so which of its rows hold a path piece (`holding`) is
// worked out once per piece.
struct working_table {
    ymap_cond_entry rows[leaf_rows + 1];
    uint32_t count;
    struct piece_rows {
        const char *piece;  // one of the callbacks' literal texts
        uint32_t rows;      // bit i: row i's path holds the piece
    };
    piece_rows known[8];
    uint32_t known_count;

    // Bits of the first `n` rows whose path holds `piece`.
    uint32_t holding(const char *piece, uint32_t n) {
        uint32_t found = 0;
        bool seen = false;
        for (uint32_t k = 0; k < known_count && !seen; ++k)
            if (known[k].piece == piece) {
                found = known[k].rows;
                seen = true;
            }
        if (!seen) {
            for (uint32_t i = 0; i < count; ++i)
                if (strstr(rows[i].path, piece) != nullptr) found |= 1u << i;
            if (known_count < sizeof known / sizeof known[0]) known[known_count++] = {piece, found};
        }
        return found & ((1u << n) - 1);
    }
};

struct working_tables {
    working_table nexthops, index, metric;
};
thread_local working_tables working;

working_table &fresh_use(working_table &t, const ymap_cond_entry *table, uint32_t n) {
    if (t.count == 0) {
        memcpy(t.rows, table, (n + 1) * sizeof *table);
        t.count = n;
    }
    for (uint32_t i = 0; i < t.count; ++i) t.rows[i].selected = 0;
    return t;
}

// The working table the first `count` rows belong to; null for rows of any
// other caller, which are tested row by row.
working_table *working_table_of(const ymap_cond_entry *rows, uint32_t count) {
    working_tables &all = working;
    for (working_table *t : {&all.nexthops, &all.index, &all.metric})
        if (rows == t->rows && t->count != 0 && count <= t->count) return t;
    return nullptr;
}

void mark(ymap_cond_entry *rows, uint32_t count, uint32_t row) {
    if (row < count) rows[row].selected = 1;
}

void mark_range(ymap_cond_entry *rows, uint32_t count, uint32_t first, uint32_t n) {
    for (uint32_t i = first; i < first + n; ++i) mark(rows, count, i);
}

const char *family_piece(uint32_t is_ipv4) {
    return is_ipv4 ? "/vrfipv4/" : "/vrfipv6/";
}

// The first row of the family whose path holds `leaf` ("<list>/<leaf>").
void mark_family_row(ymap_cond_entry *rows, uint32_t count, uint32_t is_ipv4, const char *leaf) {
    const char *family = family_piece(is_ipv4);
    if (working_table *t = working_table_of(rows, count); t != nullptr) {
        if (const uint32_t both = t->holding(family, count) & t->holding(leaf, count); both != 0)
            rows[__builtin_ctz(both)].selected = 1;
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (strstr(rows[i].path, family) != nullptr && strstr(rows[i].path, leaf) != nullptr) {
            rows[i].selected = 1;
            return;
        }
    }
}

// The row of the list the existing entry is in, counted from `first`.
void mark_existing(ymap_cond_entry *rows, uint32_t count, const oc_lr_prefix_type &rec,
                   uint32_t first) {
    switch (existing_of(rec)) {
        case existing_list::interface: mark(rows, count, first + row_intf); break;
        case existing_list::both: mark(rows, count, first + row_both); break;
        case existing_list::address: mark(rows, count, first + row_addr); break;
        case existing_list::none: break;
    }
}

// Marks a read's rows: by the existing entry when the read names one entry
// (named_ipv4, named_ipv6: per family, whether it does), otherwise every
// candidate of the family; an IPv4 read in walk-all mode that still names
// an index marks nothing. An IPv6 read without a prefix asks for all rows.
void mark_read_rows(ymap_cond_entry *rows, uint32_t count, const oc_lr_prefix_type &rec,
                    bool named_ipv4, bool named_ipv6) {
    if (rec.is_ipv4) {
        if (named_ipv4)
            mark_existing(rows, count, rec, 0);
        else if (rec.index == nullptr)
            mark_range(rows, count, 0, 3);
    } else if (rec.prefix == nullptr) {
        mark_range(rows, count, 0, count);
    } else if (named_ipv6) {
        mark_existing(rows, count, rec, ipv6_first_row);
    } else {
        mark_range(rows, count, ipv6_first_row, 3);
    }
}

// Adds the marked rows of a leaf: with the request's value, bound to the
// request node in an edit (no value when it deletes), unbound in a read.
ymap_result add_marked_leaf_rows(yfw_map_ctx *ctx, yfw_map_datatree *tree, yfw_map_node *node,
                                 const working_table &t, ymap_result rc) {
    const bool read = is_read(ctx);
    const bool del = !read && yfw_map_is_request_delete(node);
    for (uint32_t i = 0; i < t.count; ++i) {
        if (t.rows[i].selected != 1) continue;
        const char *value = del ? nullptr : t.rows[i].get_value(node);
        rc = yfw_map_datatree_add_path_flagged(ctx, tree, t.rows[i].path, t.rows[i].ns, value,
                                               read ? nullptr : node, nullptr, 0,
                                               static_cast<int>(t.rows[i].flags));
    }
    return rc;
}

// The key leaves of the existing entry, so a leaf written into it lands in
// the right list entry.
ymap_result add_existing_keys(yfw_map_ctx *ctx, yfw_map_datatree *tree, const char *table,
                              const oc_lr_prefix_type &rec, ymap_result rc) {
    native_path path;
    switch (existing_of(rec)) {
        case existing_list::both:
            join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_ADDR);
            add_native(ctx, tree, path, rec.old_addr, nullptr);
            join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_INTF);
            return add_native(ctx, tree, path, rec.old_intf, nullptr);
        case existing_list::interface:
            join_path(path, table, OC_LR_LIST_INTF, OC_LR_LEAF_INTF);
            return add_native(ctx, tree, path, rec.old_intf, nullptr);
        case existing_list::address:
            join_path(path, table, OC_LR_LIST_ADDR, OC_LR_LEAF_ADDR);
            return add_native(ctx, tree, path, rec.old_addr, nullptr);
        case existing_list::none: break;
    }
    return rc;
}

// The metric leaf of the list the existing entry is in; null without one.
const char *existing_metric_leaf(existing_list old) {
    switch (old) {
        case existing_list::both: return OC_LR_LIST_BOTH "/metric";
        case existing_list::interface: return OC_LR_LIST_INTF "/metric";
        case existing_list::address: return OC_LR_LIST_ADDR "/metric";
        case existing_list::none: break;
    }
    return nullptr;
}

ymap_result index_leaf(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree,
                       const char *name) {
    YMAP_FRAME(fr, ctx, name);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    ymap_result rc = YMAP_OK;
    if (rec != nullptr && rec->index_known) {
        // An auto index names the entry by its keys; it has no index leaf.
        YMAP_TRC(fr, "Need not map index, as it is auto index");
    } else {
        working_table &t = fresh_use(working.index, index_table, leaf_rows);
        rc = oc_index_cond_manual_callback(ctx, t.count, t.rows);
        rc = add_marked_leaf_rows(ctx, tree, node, t, rc);
    }
    YMAP_END(fr);
    return rc;
}

}  // namespace

extern "C" {

// Marks the next-hop table of the route's family.
YMAP_EXPORT ymap_result oc_nexthops_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                         ymap_cond_entry *rows) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, rows, ctx->req_ctx);
    if (const oc_lr_prefix_type *rec = record_of(ctx); rec != nullptr) {
        const char *family = family_piece(rec->is_ipv4);
        if (working_table *t = working_table_of(rows, row_count); t != nullptr) {
            const uint32_t in_family = t->holding(family, row_count);
            for (uint32_t i = 0; i < row_count; ++i)
                if (in_family & (1u << i)) rows[i].selected = 1;
        } else {
            for (uint32_t i = 0; i < row_count; ++i)
                if (strstr(rows[i].path, family) != nullptr) rows[i].selected = 1;
        }
    }
    YMAP_END(fr);
    return YMAP_OK;
}

// Marks the index leaf of the list the next-hop entry is written to (edit)
// or is read from (read).
YMAP_EXPORT ymap_result oc_index_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                      ymap_cond_entry *rows) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, rows, ctx->req_ctx);
    const oc_lr_prefix_type *rec = record_of(ctx);
    // The next-hop list callback wrote the index itself when it set
    // nexthop_done.
    if (rec != nullptr && !rec->nexthop_done) {
        if (!is_read(ctx)) {
            const char *leaf = nullptr;
            if (rec->nexthop_set)
                leaf = rec->intf_set  ? OC_LR_LIST_BOTH "/index"
                       : rec->is_drop ? OC_LR_LIST_INTF "/index"
                                      : OC_LR_LIST_ADDR "/index";
            else if (rec->intf_set)
                leaf = OC_LR_LIST_INTF "/index";
            if (leaf != nullptr) mark_family_row(rows, row_count, rec->is_ipv4, leaf);
        } else {
            const bool named = !walk_all(ctx) || rec->index != nullptr;
            mark_read_rows(rows, row_count, *rec, named, named);
        }
    }
    YMAP_END(fr);
    return YMAP_OK;
}

// Marks the metric leaf of the list the next-hop entry is in after this
// request. Without a key in the request it is the existing entry's list.
YMAP_EXPORT ymap_result oc_metric_cond_manual_callback(yfw_map_ctx *ctx, uint32_t row_count,
                                                       ymap_cond_entry *rows) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, rows, ctx->req_ctx);
    const oc_lr_prefix_type *rec = record_of(ctx);
    ymap_result rc = YMAP_OK;
    if (rec != nullptr && is_read(ctx)) {
        mark_read_rows(rows, row_count, *rec, !walk_all(ctx),
                       !walk_all(ctx) || rec->index != nullptr);
    } else if (rec != nullptr) {
        const char *leaf = nullptr;
        if (rec->nexthop_set && rec->intf_set)
            leaf = OC_LR_LIST_BOTH "/metric";
        else if (rec->nexthop_set && rec->is_drop)
            leaf = OC_LR_LIST_INTF "/metric";
        else if (rec->nexthop_set)
            leaf = rec->old_has_intf && !same_text(rec->old_intf, OC_LR_NULL_INTF)
                       ? OC_LR_LIST_BOTH "/metric"
                       : OC_LR_LIST_ADDR "/metric";
        else if (rec->intf_set)
            leaf = rec->old_has_addr ? OC_LR_LIST_BOTH "/metric" : OC_LR_LIST_INTF "/metric";
        else
            leaf = existing_metric_leaf(existing_of(*rec));
        if (leaf != nullptr) {
            mark_family_row(rows, row_count, rec->is_ipv4, leaf);
        } else {
            YMAP_ERR(fr, "Invalid request");
            rc = YMAP_ERR_BAD_REQUEST;
        }
    }
    YMAP_END(fr);
    return rc;
}

// ---------------------------------------------------------------- next-hop leaves

// /local-routes/static-routes/static/next-hops
YMAP_EXPORT ymap_result OC_LR_OX(cont_lvla_localroutes_static_nexthops)(yfw_map_ctx *ctx,
                                                                        yfw_map_node *node,
                                                                        uint32_t child_count,
                                                                        yfw_map_datatree *tree) {
    (void)child_count;
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    working_table &t = fresh_use(working.nexthops, nexthops_table, nexthops_rows);
    oc_lr_prefix_type *rec = record_of(ctx);
    if (rec != nullptr && node->operation == YFW_OP_REPLACE) {
        // The entries are re-created; without a tag in the request they
        // keep the route's current one.
        if (rec->tag_text[0] == '\0' && rec->tag_deleted == 0)
            do_sysdb_lookup_and_get_tag(ctx, node);
        rec->under_replace = 1;
    }
    ymap_result rc = oc_nexthops_cond_manual_callback(ctx, t.count, t.rows);
    yfw_map_node *bound = is_read(ctx) ? nullptr : node;
    for (uint32_t i = 0; i < t.count; ++i)
        if (t.rows[i].selected == 1)
            rc = add_native(ctx, tree, t.rows[i].path, nullptr, bound, false, t.rows[i].flags);
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/next-hops/next-hop/index
YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_nexthop_index)(yfw_map_ctx *ctx,
                                                                      yfw_map_node *node,
                                                                      yfw_map_datatree *tree) {
    return index_leaf(ctx, node, tree, __func__);
}

// /local-routes/static-routes/static/next-hops/next-hop/config/index
YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_index)(yfw_map_ctx *ctx,
                                                                     yfw_map_node *node,
                                                                     yfw_map_datatree *tree) {
    return index_leaf(ctx, node, tree, __func__);
}

// /local-routes/static-routes/static/next-hops/next-hop/config/next-hop and
// .../state/next-hop
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_config_nexthop)(yfw_map_ctx *ctx,
                                                                           yfw_map_node *node,
                                                                           yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    if (rec == nullptr || rec->nexthop_done) {
        YMAP_END(fr);
        return YMAP_OK;
    }
    native_path table;
    native_path path;
    get_mapping_path_name_nexthop(rec->is_ipv4, table);
    ymap_result rc = YMAP_OK;
    if (!is_read(ctx)) {
        if (rec->nexthop_set) {
            if (rec->intf_set) {
                join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_ADDR);
                rc = add_native(ctx, tree, path, node->value, node);
            } else if (!rec->is_drop) {
                join_path(path, table, OC_LR_LIST_ADDR, OC_LR_LEAF_ADDR);
                rc = add_native(ctx, tree, path, node->value, node);
            } else {
                join_path(path, table, OC_LR_LIST_INTF, OC_LR_LEAF_INTF);
                rc = add_native(ctx, tree, path, OC_LR_NULL_INTF, node);
            }
        } else if (!rec->is_local_link) {
            // A local-link next-hop is carried by its interface leaf.
            YMAP_ERR(fr, "Invalid request");
            if (yfw_map_is_request_delete(node)) rc = YMAP_ERR_BAD_REQUEST;
        }
    } else if (rec->is_ipv4 || rec->prefix != nullptr) {
        if (walk_all(ctx) && rec->index == nullptr) {
            join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_ADDR);
            add_native(ctx, tree, path, nullptr, nullptr);
            join_path(path, table, OC_LR_LIST_ADDR, OC_LR_LEAF_ADDR);
            add_native(ctx, tree, path, nullptr, nullptr);
            join_path(path, table, OC_LR_LIST_INTF, OC_LR_LEAF_INTF);
            rc = add_native(ctx, tree, path, nullptr, nullptr);
        } else {
            switch (existing_of(*rec)) {
                case existing_list::interface:
                    join_path(path, table, OC_LR_LIST_INTF, OC_LR_LEAF_INTF);
                    rc = add_native(ctx, tree, path, rec->old_intf, nullptr);
                    break;
                case existing_list::both:
                    join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_ADDR);
                    rc = add_native(ctx, tree, path, rec->old_addr, nullptr);
                    break;
                case existing_list::address:
                    join_path(path, table, OC_LR_LIST_ADDR, OC_LR_LEAF_ADDR);
                    rc = add_native(ctx, tree, path, rec->old_addr, nullptr);
                    break;
                case existing_list::none: break;
            }
        }
    }
    YMAP_END(fr);
    return rc;
}

}  // extern "C"

namespace {

// The interface-name leaves a read of the interface asks for.
ymap_result read_interface(yfw_map_ctx *ctx, yfw_map_datatree *tree, const oc_lr_prefix_type &rec) {
    native_path table;
    native_path path;
    ymap_result rc = YMAP_OK;
    const existing_list old = existing_of(rec);
    // Without a stored entry there is no interface to match: an empty value
    // would ask for entries whose interface is empty, that is for none.
    auto add_leaf = [&](uint32_t is_ipv4, const char *list, const char *value) {
        get_mapping_path_name_nexthop(is_ipv4, table);
        join_path(path, table, list, OC_LR_LEAF_INTF);
        rc = add_native(ctx, tree, path, has_text(value) ? value : nullptr, nullptr);
    };
    // By the existing entry: its interface, in the list it is in.
    auto add_existing = [&](uint32_t is_ipv4) {
        if (old == existing_list::both)
            add_leaf(is_ipv4, OC_LR_LIST_BOTH, rec.old_intf);
        else if (old == existing_list::interface)
            add_leaf(is_ipv4, OC_LR_LIST_INTF, rec.old_intf);
    };
    if (rec.is_ipv4) {
        if (!walk_all(ctx) || rec.index != nullptr) {
            add_existing(1);
        } else {
            add_leaf(1, OC_LR_LIST_BOTH, nullptr);
            add_leaf(1, OC_LR_LIST_INTF, nullptr);
        }
    } else if (rec.prefix == nullptr) {
        for (uint32_t is_ipv4 : ipv4_then_ipv6) {
            get_mapping_path_name_nexthop(is_ipv4, table);
            join_path(path, table, OC_LR_LIST_ADDR, OC_LR_LEAF_ADDR);
            rc = add_native(ctx, tree, path, nullptr, nullptr);
            add_leaf(is_ipv4, OC_LR_LIST_INTF, nullptr);
            add_leaf(is_ipv4, OC_LR_LIST_BOTH, rec.old_intf);
        }
    } else if (!walk_all(ctx)) {
        add_existing(0);
    } else {
        add_leaf(0, OC_LR_LIST_BOTH, rec.old_intf);
        add_leaf(0, OC_LR_LIST_INTF, rec.old_intf);
    }
    return rc;
}

}  // namespace

extern "C" {

// /local-routes/static-routes/static/next-hops/next-hop/interface-ref/config/interface
// and .../state/interface
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_config_interface)(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    if (rec == nullptr || rec->nexthop_done) {
        YMAP_END(fr);
        return YMAP_OK;
    }
    ymap_result rc = YMAP_OK;
    native_path path;
    if (!is_read(ctx)) {
        native_path list;
        rc = get_mapping_path_name(ctx, rec->is_ipv4, rec->nexthop_set, rec->intf_set, rec->is_drop,
                                   list);
        if (rc != YMAP_OK) {
            YMAP_END(fr);
            return rc;
        }
        join_path(path, list, OC_LR_LEAF_INTF);
    }
    char intf[OC_LR_INTF_NAME_TEXT];
    if (!build_intf_text(intf, node->value, rec->subintf)) {
        YMAP_ERR(fr, "Invalid request");
        YMAP_END(fr);
        return YMAP_ERR_BAD_REQUEST;
    }
    if (!is_read(ctx))
        rc = add_native(ctx, tree, path, has_text(intf) ? intf : nullptr, node);
    else
        rc = read_interface(ctx, tree, *rec);
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/next-hops/next-hop/interface-ref/config/subinterface
// and .../state/subinterface
//
// The native model has no subinterface leaf: in an edit the subinterface
// travels inside the interface text.
YMAP_EXPORT ymap_result OC_LR_OX(man_leaf_lvla_localroutes_config_subinterface)(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    const oc_lr_prefix_type *rec = record_of(ctx);
    ymap_result rc = YMAP_OK;
    if (rec == nullptr || rec->nexthop_done) {
        // Written by the next-hop list callback, or nothing to write into.
    } else if (!rec->intf_set) {
        YMAP_ERR(fr, "Invalid request");
        rc = YMAP_ERR_BAD_REQUEST;
    } else if (is_read(ctx)) {
        native_path table;
        native_path path;
        for (uint32_t is_ipv4 : ipv4_then_ipv6) {
            get_mapping_path_name_nexthop(is_ipv4, table);
            join_path(path, table, OC_LR_LIST_INTF, OC_LR_LEAF_INTF);
            add_native(ctx, tree, path, node->value, nullptr);
            join_path(path, table, OC_LR_LIST_BOTH, OC_LR_LEAF_INTF);
            rc = add_native(ctx, tree, path, node->value, nullptr);
        }
    }
    YMAP_END(fr);
    return rc;
}

// /local-routes/static-routes/static/next-hops/next-hop/config/metric
YMAP_EXPORT ymap_result OC_LR_OX(leaf_lvla_localroutes_config_metric)(yfw_map_ctx *ctx,
                                                                      yfw_map_node *node,
                                                                      yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, __func__);
    YMAP_CHECK_ARGS(fr, node, tree);
    working_table &t = fresh_use(working.metric, metric_table, leaf_rows);
    const oc_lr_prefix_type *rec = record_of(ctx);
    // Already written with the entry's other attributes, or the entry went.
    if (rec == nullptr || rec->metric_written) {
        YMAP_END(fr);
        return YMAP_OK;
    }
    // The metric is a single value: replacing it is merging it.
    if (node->operation == YFW_OP_REPLACE) rewrite_operation(node, YFW_OP_NONE);
    ymap_result rc = oc_metric_cond_manual_callback(ctx, t.count, t.rows);
    if (rc != YMAP_OK) {
        YMAP_END(fr);
        return rc;
    }
    native_path table;
    get_mapping_path_name_nexthop(rec->is_ipv4, table);
    // A delete of the metric of an entry that this request re-creates under
    // new keys, without the metric: there is nothing to delete.
    const bool recreated_without = !is_read(ctx) && yfw_map_is_request_delete(node) &&
                                   (rec->intf_set || rec->nexthop_set) && !rec->entry_unchanged &&
                                   !rec->entry_in_place;
    if (is_read(ctx)) {
        rc = add_marked_leaf_rows(ctx, tree, node, t, rc);
    } else if (!recreated_without) {
        // The existing entry's keys first, so the metric lands in it.
        rc = add_existing_keys(ctx, tree, table, *rec, rc);
        rc = add_marked_leaf_rows(ctx, tree, node, t, rc);
    }
    YMAP_END(fr);
    return rc;
}

}  // extern "C"
