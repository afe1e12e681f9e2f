// Helpers shared by the unit tests: a session over a small request tree and
// a recorder of every log and trace line.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform_runtime.h"
#include "yfw_host.h"

namespace oclr_test {

struct recorded_line {
    platform::sink_kind sink;
    std::string text;
};

// Records every line that reaches an enabled sink while it lives.
class line_recorder {
public:
    line_recorder() {
        platform::set_line_consumer([this](platform::sink_kind k, const std::string &l) {
            lines.push_back({k, l});
        });
    }
    ~line_recorder() { platform::set_line_consumer({}); }
    std::vector<recorded_line> lines;
};

inline yfw_host::request_tree parse(const std::string &xml, bool edit = true,
                                    const char *root = "local-routes",
                                    const char *ns = yfw_host::oc_namespace) {
    yfw_host::input_error err;
    auto t = yfw_host::request_tree::from_xml(xml, "test.xml", root, ns, edit, err);
    if (!t) throw std::runtime_error(err.text());
    return std::move(*t);
}

}  // namespace oclr_test
