// Debug log and trace buffer. Every sink is a flag and a shared line
// consumer; a disabled sink costs one atomic load and never formats.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform_runtime.h"
#include "ymap_platform.h"

namespace platform {
namespace {

constexpr int sink_count = 3;

// The handles the host hands to the plug-in are the addresses of these
// objects, so a handle maps back to its sink without a lookup table.
struct sink_state {
    sink_kind kind;
    std::atomic<bool> enabled{false};
};

sink_state sinks[sink_count] = {
    {sink_kind::error_log}, {sink_kind::trace_log}, {sink_kind::trace_buffer}};

sink_state *sink_of(void *handle) {
    for (auto &s : sinks)
        if (handle == &s) return &s;
    return nullptr;
}

void write_to_stderr(sink_kind, const std::string &line) {
    // One fwrite per line keeps lines from concurrent writers whole.
    std::string out = line;
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
}

// The consumer is swapped as a whole so a line in flight keeps the consumer
// it started with, and a consumer may itself replace the consumer.
std::mutex consumer_mutex;
std::shared_ptr<const line_consumer> current_consumer;

void deliver(sink_kind kind, const std::string &line) {
    std::shared_ptr<const line_consumer> c;
    {
        std::lock_guard lock(consumer_mutex);
        c = current_consumer;
    }
    if (c)
        (*c)(kind, line);
    else
        write_to_stderr(kind, line);
}

}  // namespace

void *log_handle(sink_kind which) {
    return &sinks[static_cast<int>(which)];
}

void set_sink_enabled(sink_kind which, bool on) {
    sinks[static_cast<int>(which)].enabled.store(on, std::memory_order_relaxed);
}

void set_line_consumer(line_consumer consumer) {
    std::shared_ptr<const line_consumer> next;
    if (consumer) next = std::make_shared<const line_consumer>(std::move(consumer));
    std::lock_guard lock(consumer_mutex);
    current_consumer = std::move(next);
}

}  // namespace platform

extern "C" {

// The per-site descriptor word is left as the caller set it: this runtime
// filters by sink only and keeps no per-site state.
void _tlos_dt_log_filter_adv(void *log_handle, int, int, int, int, int, uint32_t *, const char *fmt,
                             ...) {
    platform::sink_state *s = platform::sink_of(log_handle);
    if (s == nullptr || fmt == nullptr || !s->enabled.load(std::memory_order_relaxed)) return;
    try {
        char small[512];
        va_list ap;
        va_start(ap, fmt);
        va_list again;
        va_copy(again, ap);
        int n = std::vsnprintf(small, sizeof small, fmt, ap);
        va_end(ap);
        std::string line;
        if (n >= static_cast<int>(sizeof small)) {
            line.resize(static_cast<size_t>(n) + 1);
            std::vsnprintf(line.data(), line.size(), fmt, again);
            line.resize(static_cast<size_t>(n));
        } else if (n >= 0) {
            line.assign(small, static_cast<size_t>(n));
        }
        va_end(again);
        if (n >= 0) platform::deliver(s->kind, line);
    } catch (...) {
        // A line that cannot be delivered is dropped; logging never fails a request.
    }
}

void _lstrace(void *trace_handle, uint64_t, const char *text) {
    platform::sink_state *s = platform::sink_of(trace_handle);
    if (s == nullptr || text == nullptr || !s->enabled.load(std::memory_order_relaxed)) return;
    try {
        platform::deliver(s->kind, text);
    } catch (...) {
    }
}

}  // extern "C"
