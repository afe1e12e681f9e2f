// One request's contexts and the framework calls the plug-in makes.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform_runtime.h"
#include "yfw_host.h"
#include "ymap_platform.h"

struct yfw_map_datatree {
    yfw_host::add_target *out;
};

namespace yfw_host {

struct hierarchy_entry {
    yfw_map_node *node;
    uint32_t level;
};

struct current_list {
    std::string path;
    yfw_map_node *entry;
};

struct session_data {
    add_target *out = nullptr;
    request_tree *req = nullptr;
    yfw_map_datatree tree_handle{};
    std::vector<hierarchy_entry> hierarchy;
    std::vector<current_list> lists;
    std::vector<yfw_map_node *> output_list;
    std::vector<yfw_itree_set> itree;
    std::deque<std::string> strings;  // yfw_strdup copies, owned by the request
    request_tree scratch;             // leaves added to nodes of a foreign tree
};

static_assert(std::is_standard_layout_v<session_record>);
static_assert(offsetof(session_record, ctx) == 0);

session_data *session_of(yfw_map_ctx *ctx) {
    return reinterpret_cast<session_record *>(ctx)->data;
}

namespace {
std::atomic<uint32_t> trace_index{0};
// yfw_strdup gets no context, so copies go to the request being served on
// this thread; the framework serves one request per thread at a time.
thread_local session_data *serving = nullptr;
}  // namespace

char *strdup_for_request(const char *s) {
    static thread_local std::deque<std::string> outside_requests;
    std::deque<std::string> &pool = serving ? serving->strings : outside_requests;
    pool.emplace_back(s);
    return pool.back().data();
}

void reset_trace_index() {
    trace_index = 0;
}

session::session(uint32_t request_kind, add_target &out, request_tree *req, log_settings logs) {
    auto *d = new session_data;
    d->out = &out;
    d->req = req;
    d->tree_handle.out = &out;
    rec_.data = d;
    serving = d;
    rec_.tree = &d->tree_handle;
    rec_.rctx.req_type = request_kind;
    rec_.ctx.req_ctx = &rec_.rctx;
    rec_.ctx._debug_ctx.level_mask = logs.debug ? ((1u << 0) | (1u << 3)) : 0;
    if (logs.capture_errors) rec_.ctx._debug_ctx.level_mask |= 1u << 0;
    rec_.ctx.err_log = platform::log_handle(platform::sink_kind::error_log);
    rec_.ctx.trc_log = platform::log_handle(platform::sink_kind::trace_log);
    rec_.ctx.trace = platform::log_handle(platform::sink_kind::trace_buffer);
    rec_.ctx.trace_enable = logs.trace ? 1 : 0;
    platform::set_sink_enabled(platform::sink_kind::error_log, logs.debug || logs.capture_errors);
    platform::set_sink_enabled(platform::sink_kind::trace_log, logs.debug);
    platform::set_sink_enabled(platform::sink_kind::trace_buffer, logs.trace);
}

session::~session() {
    // The working record belongs to the request; the callbacks allocate it
    // zero-filled with calloc and hand it over here at the end.
    std::free(rec_.rctx.common_data_ptr);
    if (serving == rec_.data) serving = nullptr;
    delete rec_.data;
}

std::string session::error_tag() const {
    return rec_.rctx.err_tag ? std::string(rec_.rctx.err_tag) : std::string();
}

std::size_t session::hierarchy_depth() const {
    return rec_.data->hierarchy.size();
}
std::size_t session::output_list_size() const {
    return rec_.data->output_list.size();
}

ymap_result session::run(yfw_map_walker_fn walker, yfw_map_node *root) {
    if (walker == nullptr) return YMAP_ERR_INVALID_ARGS;
    return walker(ctx(), root, tree());
}

}  // namespace yfw_host

namespace yfw_host {
char *strdup_for_request(const char *s);
}
using yfw_host::session_data;
using yfw_host::session_of;

namespace {

yfw_map_node *find_child(yfw_map_node *node, const char *tag) {
    if (node == nullptr || !(node->flags & YFW_NODE_CHILDREN_VALID)) return nullptr;
    for (uint32_t i = 0; i < node->child_count; ++i)
        if (node->children[i].tag && std::strcmp(node->children[i].tag, tag) == 0)
            return &node->children[i];
    return nullptr;
}

}  // namespace

extern "C" {

int yfw_map_do_these_match(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return 0;
    return std::strcmp(a, b) == 0;
}

ymap_result yfw_map_add_to_node_hierarchy(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t level) {
    if (ctx == nullptr || node == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_of(ctx)->hierarchy.push_back({node, level});
    return YMAP_OK;
}

ymap_result yfw_map_remove_from_node_hierarchy(yfw_map_ctx *ctx, yfw_map_node *node) {
    if (ctx == nullptr || node == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_data *d = session_of(ctx);
    for (auto it = d->hierarchy.rbegin(); it != d->hierarchy.rend(); ++it) {
        if (it->node == node) {
            d->hierarchy.erase(std::next(it).base());
            // A list entry leaving the path is no longer any list's current entry.
            while (!d->lists.empty() && d->lists.back().entry == node) d->lists.pop_back();
            return YMAP_OK;
        }
    }
    return YMAP_ERR_INVALID_ARGS;
}

ymap_result yfw_map_update_current_list_node(yfw_map_ctx *ctx, const char *list_path) {
    if (ctx == nullptr || list_path == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_data *d = session_of(ctx);
    yfw_map_node *entry = nullptr;
    for (auto it = d->hierarchy.rbegin(); it != d->hierarchy.rend(); ++it) {
        if (it->level == 2) {
            entry = it->node;
            break;
        }
    }
    if (!d->lists.empty() && d->lists.back().path == list_path) {
        d->lists.back().entry = entry;
    } else {
        d->lists.push_back({list_path, entry});
    }
    return YMAP_OK;
}

ymap_result yfw_add_to_output_list_ctx(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *) {
    if (ctx == nullptr || node == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_of(ctx)->output_list.push_back(node);
    ctx->req_ctx->output_list_count = static_cast<uint8_t>(ctx->req_ctx->output_list_count + 1);
    return YMAP_OK;
}

ymap_result yfw_remove_from_output_list_ctx(yfw_map_ctx *ctx, yfw_map_node *node,
                                            yfw_map_datatree *) {
    if (ctx == nullptr || node == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_data *d = session_of(ctx);
    for (auto it = d->output_list.rbegin(); it != d->output_list.rend(); ++it) {
        if (*it == node) {
            d->output_list.erase(std::next(it).base());
            ctx->req_ctx->output_list_count =
                static_cast<uint8_t>(ctx->req_ctx->output_list_count - 1);
            return YMAP_OK;
        }
    }
    return YMAP_ERR_INVALID_ARGS;
}

ymap_result yfw_map_datatree_add_path_flagged(yfw_map_ctx *ctx, void *tree_or_node,
                                              const char *path, const char *ns, const char *value,
                                              yfw_map_node *req_node, yfw_map_node **slot,
                                              int flag1, int flag2) {
    if (ctx == nullptr || tree_or_node == nullptr || path == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_data *d = session_of(ctx);
    if (tree_or_node == &d->tree_handle) {
        if (slot) *slot = nullptr;
        return d->out->add(path, ns, value, req_node, flag1, flag2);
    }
    // Anything else is a request node: the walker adds a missing list key
    // to the request's own list entry.
    auto *parent = static_cast<yfw_map_node *>(tree_or_node);
    yfw_host::request_tree &owner = d->req ? *d->req : d->scratch;
    const char *tag = path[0] == '/' ? path + 1 : path;
    yfw_map_node *leaf = owner.add_leaf(parent, tag, ns, value);
    if (slot) *slot = leaf;
    return YMAP_OK;
}

int yfw_map_is_request_add(const yfw_map_node *node) {
    if (node == nullptr) return 0;
    return (node->host_bits & YFW_HOST_EDIT_REQUEST) && node->operation != YFW_OP_DELETE &&
           node->operation != YFW_OP_REMOVE;
}

int yfw_map_is_request_delete(const yfw_map_node *node) {
    return node != nullptr &&
           (node->operation == YFW_OP_DELETE || node->operation == YFW_OP_REMOVE);
}

ymap_result yfw_map_check_oc_leafref(yfw_map_ctx *ctx, const char *list_path,
                                     const char *config_tag, const char *key_tag,
                                     yfw_map_node *list_node) {
    if (ctx == nullptr || list_path == nullptr || config_tag == nullptr || key_tag == nullptr ||
        list_node == nullptr)
        return YMAP_ERR_INVALID_ARGS;
    // The list key is a leafref to its twin under config: both given with
    // different values can never be satisfied.
    yfw_map_node *key = find_child(list_node, key_tag);
    yfw_map_node *twin = find_child(find_child(list_node, config_tag), key_tag);
    if (key && twin && key->value && twin->value && std::strcmp(key->value, twin->value) != 0) {
        ctx->req_ctx->err_tag = yfw_strdup(key_tag, "YFW MAP");
        return YMAP_ERR_LIST_KEY;
    }
    return YMAP_OK;
}

ymap_result yfw_map_get_node_info(yfw_map_ctx *ctx, const char *list_path, const char *leaf_name,
                                  const char **slot) {
    if (ctx == nullptr || list_path == nullptr || leaf_name == nullptr || slot == nullptr)
        return YMAP_ERR_INVALID_ARGS;
    session_data *d = session_of(ctx);
    for (auto it = d->lists.rbegin(); it != d->lists.rend(); ++it) {
        if (it->path != list_path) continue;
        yfw_map_node *leaf = find_child(it->entry, leaf_name);
        if (leaf == nullptr || leaf->value == nullptr) return YMAP_ERR_BAD_REQUEST;
        *slot = leaf->value;
        return YMAP_OK;
    }
    return YMAP_ERR_BAD_REQUEST;
}

ymap_result yfw_map_util_itree_stack_push(yfw_map_ctx *ctx, yfw_map_node *instances, uint32_t count,
                                          yfw_itree_instance_fn callback) {
    if (ctx == nullptr) return YMAP_ERR_INVALID_ARGS;
    session_of(ctx)->itree.push_back({instances, count, callback});
    return YMAP_OK;
}

ymap_result yfw_map_util_itree_stack_pop(yfw_map_ctx *ctx) {
    if (ctx == nullptr) return YMAP_ERR_INVALID_ARGS;
    auto &st = session_of(ctx)->itree;
    if (st.empty()) return YMAP_ERR_INVALID_ARGS;
    st.pop_back();
    return YMAP_OK;
}

ymap_result yfw_map_util_itree_stack_peak(yfw_map_ctx *ctx, yfw_itree_set **slot) {
    if (ctx == nullptr || slot == nullptr) return YMAP_ERR_INVALID_ARGS;
    auto &st = session_of(ctx)->itree;
    if (st.empty()) {
        *slot = nullptr;
        return YMAP_ERR_INVALID_ARGS;
    }
    *slot = &st.back();
    return YMAP_OK;
}

uint16_t yfw_map_util_itree_stack_size(yfw_map_ctx *ctx) {
    if (ctx == nullptr) return 0;
    return static_cast<uint16_t>(session_of(ctx)->itree.size());
}

int yfw_map_config_output(const yfw_map_ctx *ctx) {
    if (ctx == nullptr || ctx->req_ctx == nullptr) return 1;
    // Configuration leaves are withheld only for a state-only request on the
    // operational datastore; every request this host builds asks for them.
    constexpr uint32_t state_only_flags = 0x4;
    const req_ctx *r = ctx->req_ctx;
    return !((r->op_flags & state_only_flags) != 0 && r->datastore == 2);
}

char *yfw_strdup(const char *s, const char *owner) {
    (void)owner;
    if (s == nullptr) return nullptr;
    return yfw_host::strdup_for_request(s);
}

int yfw_debug_should_log(yfw_debug_ctx *debug_ctx, int level) {
    if (debug_ctx == nullptr || level < 0 || level > 31) return 0;
    return (debug_ctx->level_mask >> level) & 1u;
}

uint32_t ret_nc_yfw_trace_index_incr(void) {
    return ++yfw_host::trace_index;
}

}  // extern "C"
