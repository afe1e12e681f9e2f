// OpenConfig NETCONF XML requests (edit, get-config, get) through the host's
// request parser into the OpenConfig walker and on through the rest of the
// ocmap pipeline. The first byte selects the request kind (see
// request_mode_of); the rest is the document.
#include "document_reader.h"
#include "fuzz_pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    oclr_fuzz::reset_state();
    oclr_fuzz::request_mode mode = oclr_fuzz::request_mode_of(data[0]);
    yfw_host::input_error err;
    auto request = yfw_host::read_request_document(
        oclr_fuzz::body_of(data, size), "fuzz.xml", yfw_host::yang_schema::get().oc_root(),
        mode.kind == YFW_REQ_EDIT ? yfw_host::document_role::edit : yfw_host::document_role::filter,
        err);
    if (!request) {
        // Refused input must say where and why.
        OCLR_FUZZ_CHECK(!err.message.empty() && err.file == "fuzz.xml");
        return 0;
    }
    OCLR_FUZZ_CHECK(request->root() != nullptr);
    oclr_fuzz::run_oc_request(*request, mode);
    return 0;
}
