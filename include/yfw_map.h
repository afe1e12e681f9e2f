// Declarations of the host mapping framework as the plug-in sees it: the
// request/data tree node, the mapping and request contexts, the registration
// record, handler signatures, result codes and the framework calls.
// On a router these are the framework's own; in this repository host/
// implements them. Plug-in sources include only this and the other headers
// of include/, so they never know which host they run in.
#ifndef OC_LR_YFW_MAP_H
#define OC_LR_YFW_MAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------- results

typedef uint32_t ymap_result;

enum : uint32_t {
    YMAP_OK = 0,
    YMAP_ERR_INVALID_ARGS = 0xaaf2a000u,
    YMAP_ERR_BAD_REQUEST = 0xaaf29e00u,
    YMAP_ERR_UNSUPPORTED_TAG = 0xaaf2e600u,
    YMAP_ERR_LIST_KEY = 0xaaf2e800u,
    YMAP_ERR_KEY_DELETE = 0xaaf2ea00u,
    YMAP_SKIP_ENTRY = 0xaaf2ec00u,
    YMAP_ERR_FOREIGN_ADD = 0xaaf2ee00u,
    // Not a table code: what an unmapped OpenConfig leaf answers. Walkers
    // pass it up like any failure, ending the request there.
    YMAP_NO_LEAF_MAPPING = 51u,
    // The configuration database's "nothing matches"; the OpenConfig side
    // also reads it as "this next-hop index is new".
    YMAP_SYSDB_NOT_FOUND = 0x40818600u,
};

// ---------------------------------------------------------------- nodes

// Operations carried by request nodes.
enum : uint32_t {
    YFW_OP_NONE = 0,  // plain (merge), also set for the re-add pass of a replace
    YFW_OP_REPLACE = 1,
    YFW_OP_CREATE = 2,
    YFW_OP_DELETE = 3,
    YFW_OP_REMOVE = 4,
};

// Node kinds written by the walkers.
enum : uint32_t {
    YFW_KIND_SELECTION_LEAF = 1,
    YFW_KIND_CONTAINER = 3,
    YFW_KIND_LIST_ENTRY = 4,
    YFW_KIND_CONTENT_MATCH = 6,
    YFW_KIND_SET_BIT = 0x02,  // kept apart from the kind value in node_kind_flags
};

// Node flags.
enum : uint8_t {
    YFW_NODE_HAS_VALUE = 0x02,
    YFW_NODE_OP_REWRITTEN = 0x10,
    YFW_NODE_CHILDREN_VALID = 0x40,
    YFW_NODE_KEY_BIT = 0x02,  // in flags2
};

// Host-private bits of yfw_map_node::host_bits. The framework marks every
// node of an edit request so that yfw_map_is_request_add can answer from
// the node alone.
enum : uint8_t {
    YFW_HOST_EDIT_REQUEST = 0x01,
    // A read's selection of a store read as the native walk's input.
    YFW_HOST_SELECTED_PATH = 0x10,
    YFW_HOST_SELECTED_WHOLE = 0x20,
};

typedef struct yfw_map_node yfw_map_node;
struct yfw_map_node {
    const char *tag;
    const char *value;
    const char *ns;
    uint32_t operation;
    yfw_map_node *children;  // child_count nodes stored one after another
    uint32_t child_count;
    uint32_t node_kind;
    uint32_t node_kind_flags;  // YFW_KIND_SET_BIT once a walker set node_kind
    uint32_t key_marker;       // 1 on list keys
    uint8_t flags;
    uint8_t flags2;
    uint8_t host_bits;
    uint8_t reserved;
    uint32_t host_capacity;  // host-private: room in the children array
};

// ---------------------------------------------------------------- contexts

// Request kinds.
enum : uint32_t {
    YFW_REQ_READ_CONFIG = 0,
    YFW_REQ_EDIT = 1,
    YFW_REQ_READ_STATE = 10,
};

// Filter word bits and replace-pass bits.
enum : uint32_t {
    YFW_FILTER_SELECT_ALL = 0x1,
    YFW_FILTER_SELECTION_SEEN = 0x2,
    YFW_FILTER_CONTENT_SEEN = 0x4,
    YFW_FILTER_CONTENT_RECORDED = 0x10000,
    YFW_FILTER_RESET_MASK = 0x11111110,
    YFW_REPLACE_DELETE_PASS = 0x40,
    YFW_REPLACE_READD_PASS = 0x80,
};

typedef struct req_ctx req_ctx;
struct req_ctx {
    uint32_t req_type;
    char *err_tag;  // framework-owned copy (yfw_strdup)
    uint32_t replace_bits;
    uint8_t output_list_count;
    uint32_t walk_all;
    uint32_t list_delete_mode;  // 0, 1 (whole list) or 2 (one entry)
    uint32_t filter;
    void *common_data_ptr;  // the hand-written callbacks' working record
    // Inputs of the configuration-output test (yfw_map_config_output).
    uint32_t op_flags;
    uint32_t datastore;
};

// The debug-log context; its address is what yfw_debug_should_log reads.
typedef struct yfw_debug_ctx {
    uint32_t level_mask;  // bit n set: level n is logged
} yfw_debug_ctx;

typedef struct yfw_map_ctx yfw_map_ctx;
struct yfw_map_ctx {
    req_ctx *req_ctx;
    yfw_debug_ctx _debug_ctx;
    void *err_log;  // level 0 messages
    void *trc_log;  // level 3 messages
    void *trace;    // trace buffer handle
    uint32_t trace_enable;
    uint32_t cur_list_op;
};

// The output tree being built: native data for an OpenConfig request,
// OpenConfig data for native input. Opaque to the plug-in.
typedef struct yfw_map_datatree yfw_map_datatree;

// ---------------------------------------------------------------- handlers

typedef ymap_result (*yfw_map_walker_fn)(yfw_map_ctx *ctx, yfw_map_node *node,
                                         yfw_map_datatree *tree);
typedef yfw_map_walker_fn yfw_map_list_handler_fn;
typedef yfw_map_walker_fn yfw_map_leaf_handler_fn;
typedef yfw_map_walker_fn yfw_map_augment_handler_fn;
typedef ymap_result (*yfw_map_container_handler_fn)(yfw_map_ctx *ctx, yfw_map_node *node,
                                                    uint32_t child_count, yfw_map_datatree *tree);

// ---------------------------------------------------------------- registration

#define YFW_MAP_REG_TEXT 81

typedef struct yfw_map_reg yfw_map_reg;
struct yfw_map_reg {
    char tree_name[YFW_MAP_REG_TEXT];
    char native_ns[YFW_MAP_REG_TEXT];
    char oc_ns[YFW_MAP_REG_TEXT];
    char native_root[YFW_MAP_REG_TEXT];
    char oc_root[YFW_MAP_REG_TEXT];
    yfw_map_walker_fn oc_root_walker;
    yfw_map_walker_fn spare_fn[2];  // left to the framework
    yfw_map_walker_fn native_root_walker;
    int32_t first_int;
    int32_t second_int;
};

typedef int32_t (*yfw_map_reg_fn)(yfw_map_reg *reg);

// ---------------------------------------------------------------- itree stack

typedef ymap_result (*yfw_itree_instance_fn)(yfw_map_ctx *ctx, yfw_map_node *instance,
                                             yfw_map_datatree *tree, int zero);

// One instance set: instances stored one after another, their count and an
// optional per-instance callback.
typedef struct yfw_itree_set {
    yfw_map_node *instances;
    uint32_t count;
    yfw_itree_instance_fn callback;
} yfw_itree_set;

// ---------------------------------------------------------------- framework calls

int yfw_map_do_these_match(const char *a, const char *b);
ymap_result yfw_map_add_to_node_hierarchy(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t level);
ymap_result yfw_map_remove_from_node_hierarchy(yfw_map_ctx *ctx, yfw_map_node *node);
ymap_result yfw_map_update_current_list_node(yfw_map_ctx *ctx, const char *list_path);
ymap_result yfw_add_to_output_list_ctx(yfw_map_ctx *ctx, yfw_map_node *node,
                                       yfw_map_datatree *tree);
ymap_result yfw_remove_from_output_list_ctx(yfw_map_ctx *ctx, yfw_map_node *node,
                                            yfw_map_datatree *tree);
// tree_or_node is either the output tree of ctx or a request node (a key
// leaf added to a request list entry); slot, when given, receives the node
// that was created.
ymap_result yfw_map_datatree_add_path_flagged(yfw_map_ctx *ctx, void *tree_or_node,
                                              const char *path, const char *ns, const char *value,
                                              yfw_map_node *req_node, yfw_map_node **slot,
                                              int flag1, int flag2);
int yfw_map_is_request_add(const yfw_map_node *node);
int yfw_map_is_request_delete(const yfw_map_node *node);
ymap_result yfw_map_check_oc_leafref(yfw_map_ctx *ctx, const char *list_path,
                                     const char *config_tag, const char *key_tag,
                                     yfw_map_node *list_node);
ymap_result yfw_map_get_node_info(yfw_map_ctx *ctx, const char *list_path, const char *leaf_name,
                                  const char **slot);
ymap_result yfw_map_util_itree_stack_push(yfw_map_ctx *ctx, yfw_map_node *instances, uint32_t count,
                                          yfw_itree_instance_fn callback);
ymap_result yfw_map_util_itree_stack_pop(yfw_map_ctx *ctx);
ymap_result yfw_map_util_itree_stack_peak(yfw_map_ctx *ctx, yfw_itree_set **slot);
uint16_t yfw_map_util_itree_stack_size(yfw_map_ctx *ctx);
// Configuration-output test of the native-to-OpenConfig handlers: nonzero
// when configuration leaves are to be produced for this request.
int yfw_map_config_output(const yfw_map_ctx *ctx);
char *yfw_strdup(const char *s, const char *owner);
int yfw_debug_should_log(yfw_debug_ctx *debug_ctx, int level);
uint32_t ret_nc_yfw_trace_index_incr(void);

#ifdef __cplusplus
}
#endif

#endif
