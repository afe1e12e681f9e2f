// The hand-written callbacks' shared records: the per-route working record
// behind req_ctx->common_data_ptr and the row of a condition table.
#ifndef OC_LR_TYPES_H
#define OC_LR_TYPES_H

#include <stdint.h>

#include "yfw_map.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OC_LR_TAG_TEXT 20
#define OC_LR_AUTO_INDEX 128
#define OC_LR_ADDR_TEXT 46
#define OC_LR_INTF_TEXT 64
#define OC_LR_PATH_TEXT 50
#define OC_LR_OBJECT_NAME 33
#define OC_LR_DESCRIPTION 30
#define OC_LR_NATIVE_PATH 250

// Value of vrf_label that means "no label".
#define OC_LR_NO_VRF_LABEL 0x100001u

// One static route being translated and its current next-hop. Allocated
// zero-filled; texts marked borrowed point into the request tree.
typedef struct oc_lr_prefix_type {
    uint32_t is_ipv4;
    uint32_t intf_set;
    uint32_t nexthop_set;
    uint32_t is_drop;
    uint32_t is_local_link;
    uint32_t under_replace;
    uint32_t is_replace;
    uint32_t nexthops_rewritten;
    uint32_t nexthop_done;
    uint32_t index_known;
    uint32_t metric_deleted;
    uint32_t tag_deleted;
    uint32_t entry_unchanged;
    uint32_t entry_in_place;
    uint32_t nexthop_deleted;
    uint32_t intf_deleted;
    uint32_t subintf_deleted;
    uint32_t metric_written;
    const char *prefix;  // borrowed
    char tag_text[OC_LR_TAG_TEXT];
    const char *index;      // borrowed
    const char *nexthop;    // borrowed
    const char *metric;     // borrowed
    const char *intf_name;  // borrowed
    const char *subintf;    // borrowed
    char auto_index[OC_LR_AUTO_INDEX];
    uint32_t old_has_addr;
    uint32_t old_has_intf;
    uint32_t old_has_path;
    char old_addr[OC_LR_ADDR_TEXT];
    char old_intf[OC_LR_INTF_TEXT];
    char old_path[OC_LR_PATH_TEXT];
    uint32_t bfd_fast_detect;
    uint32_t permanent;
    uint32_t detect_multiplier;
    uint32_t minimum_interval;
    uint32_t metric_value;
    uint32_t load_metric;
    uint32_t tag_value;
    uint32_t vrf_label;
    uint32_t tunnel_id;
    char object_name[OC_LR_OBJECT_NAME];
    char description[OC_LR_DESCRIPTION];
} oc_lr_prefix_type;

typedef const char *(*ymap_cond_value_fn)(yfw_map_node *node);

// A row of a condition table: a candidate native path that a condition
// callback marks when it applies to the current request.
typedef struct ymap_cond_entry {
    char path[OC_LR_NATIVE_PATH];
    char ns[102];
    ymap_cond_value_fn get_value;
    uint32_t selected;
    uint32_t flags;
    char text[256];
} ymap_cond_entry;

typedef ymap_result (*ymap_cond_callback_fn)(yfw_map_ctx *ctx, uint32_t row_count,
                                             ymap_cond_entry *rows);

#ifdef __cplusplus
}
#endif

#endif
