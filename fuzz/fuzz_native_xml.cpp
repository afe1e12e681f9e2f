// Native router-static XML, both ways ocmap takes it: read straight into
// the native walker's input (to-oc, and a store for get-config) and read
// into the store's tree (the store of an edit and of the server, loaded into
// the configuration database). The two readers make the same checks and
// the same tree; a configuration that loads must also survive being
// written and read back unchanged, as edit --apply relies on.
// First byte: '0' configuration, '1' with state; '2', '3' the same with the
// debug log and the trace on.
#include "document_reader.h"
#include "fuzz_pipeline.h"
#include "native_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    oclr_fuzz::reset_state();
    unsigned sel = data[0] % 4u;
    oclr_fuzz::request_mode mode{sel % 2 ? YFW_REQ_READ_STATE : YFW_REQ_READ_CONFIG, sel >= 2};
    std::string_view text = oclr_fuzz::body_of(data, size);

    const auto &root = yfw_host::yang_schema::get().native_root();
    yfw_host::input_error serr, derr;
    auto config =
        yfw_host::read_data_document(text, "store.xml", root, yfw_host::document_role::data, serr);
    auto direct = yfw_host::read_request_document(text, "store.xml", root,
                                                  yfw_host::document_role::data, derr, true);
    if (config.has_value() != direct.has_value())
        std::fprintf(stderr, "store's tree: %s\nwalker's input: %s\n", serr.text().c_str(),
                     derr.text().c_str());
    OCLR_FUZZ_CHECK(config.has_value() == direct.has_value());
    if (!config) {
        OCLR_FUZZ_CHECK(!serr.message.empty() && !derr.message.empty());
        return 0;
    }
    const std::string via_store = oclr_fuzz::dump(*yfw_host::request_tree_of(*config->root).root());
    const std::string read_direct = oclr_fuzz::dump(*direct->root());
    if (via_store != read_direct)
        std::fprintf(stderr, "--- from the store's tree:\n%s\n--- read directly:\n%s\n",
                     via_store.c_str(), read_direct.c_str());
    OCLR_FUZZ_CHECK(via_store == read_direct);
    oclr_fuzz::run_native_data(*direct, mode);
    yfw_host::input_error lerr;
    (void)yfw_host::load_native_store(*config->root, "store.xml", lerr);

    std::string written = yfw_host::to_xml(*config->root, false);
    yfw_host::input_error rerr;
    auto reread = yfw_host::read_data_document(written, "written.xml", root,
                                               yfw_host::document_role::data, rerr);
    if (!reread)
        std::fprintf(stderr, "%s\n--- written:\n%s\n", rerr.text().c_str(), written.c_str());
    OCLR_FUZZ_CHECK(reread.has_value());
    OCLR_FUZZ_CHECK(yfw_host::to_xml(*reread->root, false) == written);
    return 0;
}
