// What the fuzz targets share: the plug-in loaded and registered once, a
// small native running configuration that every input starts from, and the
// ocmap pipelines (edit, get-config/get, to-oc) run over a parsed tree with
// the same host library calls the tool makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "data_tree.h"
#include "yfw_host.h"

namespace oclr_fuzz {

// A broken invariant is a finding: report it and abort, so libFuzzer keeps
// the input and the replay test fails.
#define OCLR_FUZZ_CHECK(cond)                                                                      \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: fuzz invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// How one input is run, taken from its first byte so corpus files stay
// text: '0' read of configuration, '1' edit, '2' read with state; '3', '4'
// and '5' the same with the debug log and the trace on.
struct request_mode {
    uint32_t kind = YFW_REQ_READ_CONFIG;
    bool logs = false;
};
request_mode request_mode_of(uint8_t selector);

// The input after its selector byte.
std::string_view body_of(const uint8_t *data, size_t size);

// Loads and registers the plug-in on first use (aborts when that fails).
const yfw_host::plugin &plugin();

// The configuration every input starts from.
const yfw_host::data_tree &store();

// Puts the process back where it was before any input: the configuration
// database holds exactly store(), trace numbering starts again, log lines go
// nowhere. Every target calls it first.
void reset_state();

// ocmap edit / get-config / get over an OpenConfig request tree: the
// OpenConfig walk, the native document it wrote, then for an edit the apply
// to a copy of the store, for a read the selection from the store and the
// native walk back to OpenConfig, and the documents in both formats.
void run_oc_request(yfw_host::request_tree &request, request_mode mode);

// A request tree as text, one node a line (tag, value), for comparing trees.
std::string dump(const yfw_map_node &n);

// ocmap to-oc over native data: the native walk and the OpenConfig document.
void run_native_data(yfw_host::request_tree &data, request_mode mode);

}  // namespace oclr_fuzz
