// The native-data walker: walks router-static data one schema node at a
// time, calling each node's handler, keeping the framework's node hierarchy
// and output list in step, and dispatching children by tag. One walker per
// node kind, driven by the generated table; every trace record still
// carries the visited node's own walker name.
//
// Unlike the OpenConfig side this walker never changes a node and has no
// filter, expansion or replace logic: native data is only read here. Native
// tags the schema does not know are skipped (the device may carry newer
// data than this mapping), not refused.
#include "ymap_frame.h"
#include "ymap_ocstatic_oclocalrouting.h"
#include "ymap_xo_schema.h"

namespace {

using ymap::schema_kind;
using ymap::schema_node;
namespace table = ymap::xo_schema;

ymap_result walk(yfw_map_ctx *ctx, uint16_t row, yfw_map_node *node, yfw_map_datatree *tree);

// The row of the child schema node whose tag is the given one, by the
// framework's comparison. Only the rows with the tag's first letter are
// compared, from the dispatch's position hint `next` on; a tag that none of
// them matches is compared with every child in schema order, so that the
// framework's comparison alone decides what it matches.
uint16_t schema_child(const schema_node &parent, const char *tag, uint16_t &next) {
    auto same_tag = [tag](const schema_node &c) { return yfw_map_do_these_match(tag, c.tag) != 0; };
    const uint16_t row =
        ymap::child_by_tag(table::nodes, table::children, parent, tag, next, same_tag);
    if (row != ymap::no_node) return row;
    for (uint16_t k = 0; k < parent.child_count; ++k) {
        const uint16_t other = table::children[parent.first_child + k];
        if (yfw_map_do_these_match(tag, table::nodes[other].tag)) return other;
    }
    return ymap::no_node;
}

ymap_result dispatch_children(ymap::frame &fr, const schema_node &parent, yfw_map_node *children,
                              uint32_t count, yfw_map_datatree *tree) {
    ymap_result rc = YMAP_OK;
    uint16_t next = 0;
    for (uint32_t i = 0; i < count && rc == YMAP_OK; ++i) {
        yfw_map_node *child = &children[i];
        if (child->tag == nullptr) {
            YMAP_ERR(fr, "Tag name is not available!");
            rc = YMAP_ERR_BAD_REQUEST;
            break;
        }
        uint16_t row = schema_child(parent, child->tag, next);
        if (row != ymap::no_node) {
            rc = walk(fr.ctx, row, child, tree);
            // A skipped list entry ends only itself; its siblings go on.
            if (rc == YMAP_SKIP_ENTRY && table::nodes[row].kind == schema_kind::list) rc = YMAP_OK;
        } else if (yfw_map_do_these_match(table::ns, child->ns)) {
            YMAP_TRC(fr, "Unsupported tag. Ignoring.");
        } else {
            rc = parent.augments(fr.ctx, child, tree);
        }
    }
    return rc;
}

bool children_valid(const yfw_map_node *node) {
    return (node->flags & YFW_NODE_CHILDREN_VALID) != 0;
}

ymap_result walk_container(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                           yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = YMAP_OK;
    if (!children_valid(node)) {
        yfw_map_add_to_node_hierarchy(ctx, node, 1);
        rc = n.container_handler(ctx, node, 0, tree);
    } else {
        if (node->child_count != 0 && node->children == nullptr) {
            YMAP_ERR(fr, "Failed to get subtrees!");
            YMAP_END(fr);
            return YMAP_ERR_BAD_REQUEST;
        }
        yfw_map_add_to_node_hierarchy(ctx, node, 1);
        rc = n.container_handler(ctx, node, node->child_count, tree);
        if (rc == YMAP_OK && node->child_count != 0)
            rc = dispatch_children(fr, n, node->children, node->child_count, tree);
    }
    yfw_map_remove_from_node_hierarchy(ctx, node);
    YMAP_END(fr);
    return rc;
}

ymap_result walk_list_entry(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                            yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    const bool valid = children_valid(node);
    if (valid && node->child_count != 0 && node->children == nullptr) {
        YMAP_ERR(fr, "Failed to get subtrees!");
        YMAP_END(fr);
        return YMAP_ERR_BAD_REQUEST;
    }
    const uint32_t count = valid ? node->child_count : 0;
    // Reported, but an entry without keys is still handed to its handler:
    // the data is the device's, and the handler decides what it means.
    if (count == 0) YMAP_ERR(fr, "No keys specified with a list node.");

    yfw_map_add_to_node_hierarchy(ctx, node, 2);
    ymap_result rc = yfw_map_update_current_list_node(ctx, n.list_path);
    if (rc == YMAP_OK) {
        rc = n.handler(ctx, node, tree);
        if (rc == YMAP_SKIP_ENTRY) {
            yfw_map_remove_from_node_hierarchy(ctx, node);
            YMAP_END(fr);
            return rc;
        }
    }
    // The framework decides whether the entry joins the output list; only a
    // change of its count tells. Compared for inequality, as the 8-bit count
    // may wrap.
    uint8_t before = ctx->req_ctx->output_list_count;
    yfw_add_to_output_list_ctx(ctx, node, tree);
    const bool added = ctx->req_ctx->output_list_count != before;

    if (rc == YMAP_OK && count != 0) rc = dispatch_children(fr, n, node->children, count, tree);

    yfw_map_remove_from_node_hierarchy(ctx, node);
    if (added) yfw_remove_from_output_list_ctx(ctx, node, tree);
    YMAP_END(fr);
    return rc;
}

ymap_result walk_leaf(const schema_node &n, yfw_map_ctx *ctx, yfw_map_node *node,
                      yfw_map_datatree *tree) {
    YMAP_FRAME(fr, ctx, n.walker);
    YMAP_CHECK_ARGS(fr, node, tree);
    ymap_result rc = n.handler(ctx, node, tree);
    YMAP_END(fr);
    return rc;
}

// Recursion depth is the schema's depth, fixed at build time.
ymap_result walk(yfw_map_ctx *ctx, uint16_t row, yfw_map_node *node, yfw_map_datatree *tree) {
    const schema_node &n = table::nodes[row];
    switch (n.kind) {
        case schema_kind::container: return walk_container(n, ctx, node, tree);
        case schema_kind::list: return walk_list_entry(n, ctx, node, tree);
        case schema_kind::leaf: return walk_leaf(n, ctx, node, tree);
    }
    return YMAP_ERR_INVALID_ARGS;
}

}  // namespace

extern "C" YMAP_EXPORT ymap_result ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic(
    yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree) {
    return walk(ctx, 0, node, tree);
}
