// The frame every walker, handler and callback of the plug-in runs:
// context check, start and end records, argument check, error and trace
// reports, error tags. Formatting happens only when the debug log level is
// enabled or tracing is on, so a quiet request costs two tests per record.
//
// Usage:
//   YMAP_FRAME(fr, ctx, "ymap_..._name");      // context check + start record
//   YMAP_CHECK_ARGS(fr, node, tree);           // "Invalid arguments passed!"
//   YMAP_ERR(fr, "Index lookup failed");       // error report (level 0)
//   YMAP_TRC(fr, "Create of index %s ...", i); // trace report (level 3)
//   YMAP_END(fr); return rc;                   // end record
//
// Each expansion of a record macro owns its own call-site descriptor word.
#ifndef OC_LR_YMAP_FRAME_H
#define OC_LR_YMAP_FRAME_H

#include <stdio.h>
#include <stdlib.h>

#include "yfw_map.h"
#include "ymap_platform.h"

namespace ymap {

struct frame {
    yfw_map_ctx *ctx;
    const char *name;  // the function name shown in trace lines
};

// Prints "<file>: <line> <expr> -- assertion failed" under the stream lock
// and aborts: a null context means the host broke its contract, and going
// on would only corrupt the request state.
[[noreturn]] inline void assert_failed(const char *file, int line, const char *expr) {
    flockfile(stderr);
    fprintf(stderr, "%s: %d %s -- assertion failed\n", file, line, expr);
    fflush(stderr);
    funlockfile(stderr);
    abort();
}

inline yfw_map_ctx *checked_ctx(yfw_map_ctx *ctx, const char *file, int line) {
    if (ctx == nullptr) assert_failed(file, line, "NULL != ctx");
    return ctx;
}

// Trace lines are cut at the buffer's end rather than allocated.
template <typename... A>
inline void trace_line(yfw_map_ctx *ctx, const char *fmt, A... args) {
    char buf[1024];
    snprintf(buf, sizeof buf, fmt, args...);
    _lstrace(ctx->trace, YMAP_TRACE_MASK, buf);
}

// Stores a framework-owned copy of the offending tag for the host's reply.
inline void set_error_tag(yfw_map_ctx *ctx, const char *tag) {
    if (ctx->req_ctx != nullptr) ctx->req_ctx->err_tag = yfw_strdup(tag, "YFW MAP");
}

}  // namespace ymap

#define YMAP_RECORD_(fr, level, handle, logpfx, trcpfx, T, ...)                             \
    do {                                                                                    \
        static uint32_t ymap_site_ = 0xffffffffu;                                           \
        if (yfw_debug_should_log(&(fr).ctx->_debug_ctx, (level)))                           \
            _tlos_dt_log_filter_adv((fr).ctx->handle, 0, 0, 0, 0, 0, &ymap_site_, logpfx T, \
                                    (void *)(fr).ctx __VA_OPT__(, ) __VA_ARGS__);           \
        if ((fr).ctx->trace_enable)                                                         \
            ::ymap::trace_line((fr).ctx, "#%u: " trcpfx " %s:%d ctx=%p," T,                 \
                               ret_nc_yfw_trace_index_incr(), (fr).name, __LINE__,          \
                               (void *)(fr).ctx __VA_OPT__(, ) __VA_ARGS__);                \
    } while (0)

// Trace report (level 3, trace-log handle).
#define YMAP_TRC(fr, T, ...) \
    YMAP_RECORD_(fr, 3, trc_log, "TRC: YFW: ctx=%p,", "TRC:", T, __VA_ARGS__)
// Error report (level 0, error-log handle). Does not return by itself.
#define YMAP_ERR(fr, T, ...) \
    YMAP_RECORD_(fr, 0, err_log, "ERR: YFW: ctx=%p,", "ERR:", T, __VA_ARGS__)

#define YMAP_FRAME(fr, ctx_expr, fname)                                             \
    ::ymap::frame fr{::ymap::checked_ctx((ctx_expr), __FILE__, __LINE__), (fname)}; \
    YMAP_TRC(fr, "Start")

// The context check alone, for functions whose frame writes only an end record.
#define YMAP_FRAME_QUIET(fr, ctx_expr, fname)                        \
    ::ymap::frame fr {                                               \
        ::ymap::checked_ctx((ctx_expr), __FILE__, __LINE__), (fname) \
    }

#define YMAP_END(fr) YMAP_TRC(fr, "End")

// Null node or output tree: report and leave at once, without an end record.
#define YMAP_CHECK_ARGS(fr, node, tree)                \
    do {                                               \
        if ((node) == nullptr || (tree) == nullptr) {  \
            YMAP_ERR(fr, "Invalid arguments passed!"); \
            return YMAP_ERR_INVALID_ARGS;              \
        }                                              \
    } while (0)

#endif
