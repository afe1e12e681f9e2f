// Helpers shared by the unit tests: a session over a small request tree and
// a recorder of every log and trace line.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform_runtime.h"
#include "xml_reader.h"
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

// A request tree from XML exactly as written, without the host's checks:
// the walkers and callbacks are tested on trees the host would refuse too
// (unknown tags, foreign namespaces, values of any kind). Namespaces are
// resolved, nc:operation read, and the document element is the root.
class raw_tree_builder final : public yfw_host::xml_handler {
public:
    explicit raw_tree_builder(bool edit) : edit_(edit) {}

    bool start_element(std::string_view qname, std::span<const yfw_host::xml_attribute> attributes,
                       std::size_t) override {
        levels_.push_back({scope_.size(), kids_.size(), yfw_map_node{}});
        for (const auto &a : attributes) {
            if (a.name == "xmlns") scope_.emplace_back("", std::string(a.value));
            if (a.name.starts_with("xmlns:"))
                scope_.emplace_back(std::string(a.name.substr(6)), std::string(a.value));
        }
        yfw_map_node &n = levels_.back().node;
        size_t colon = qname.find(':');
        std::string prefix(colon == std::string_view::npos ? "" : qname.substr(0, colon));
        n.tag = tree_.keep(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
        n.ns = tree_.keep(lookup(prefix));
        if (edit_) n.host_bits |= YFW_HOST_EDIT_REQUEST;
        for (const auto &a : attributes) {
            size_t c = a.name.find(':');
            if (c == std::string_view::npos || a.name.substr(c + 1) != "operation" ||
                lookup(std::string(a.name.substr(0, c))) != yfw_host::netconf_namespace)
                continue;
            static const char *ops[] = {"merge", "replace", "create", "delete", "remove"};
            for (uint32_t op = 0; op < 5; ++op)
                if (a.value == ops[op]) n.operation = op;
        }
        return true;
    }
    bool text(std::string_view text, std::size_t) override {
        if (!text.empty()) {
            levels_.back().node.value = tree_.keep(text);
            levels_.back().node.flags |= YFW_NODE_HAS_VALUE;
        }
        return true;
    }
    bool end_element(std::size_t) override {
        level l = levels_.back();
        levels_.pop_back();
        uint32_t count = static_cast<uint32_t>(kids_.size() - l.kids);
        if (count > 0) {
            yfw_map_node *kids = tree_.alloc_nodes(count);
            std::copy(kids_.begin() + static_cast<std::ptrdiff_t>(l.kids), kids_.end(), kids);
            kids_.resize(l.kids);
            l.node.children = kids;
            l.node.child_count = l.node.host_capacity = count;
            l.node.flags |= YFW_NODE_CHILDREN_VALID;
        }
        kids_.push_back(l.node);
        scope_.resize(l.scope);
        return true;
    }
    yfw_map_node *take_root() {
        tree_.root_ = tree_.alloc_nodes(1);
        *tree_.root_ = kids_.front();
        return tree_.root_;
    }
    yfw_host::request_tree tree_;

private:
    std::string lookup(const std::string &prefix) const {
        for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
            if (it->first == prefix) return it->second;
        return "";
    }
    struct level {
        std::size_t scope, kids;
        yfw_map_node node;
    };
    bool edit_;
    std::vector<std::pair<std::string, std::string>> scope_;
    std::vector<level> levels_;
    std::vector<yfw_map_node> kids_;
};

inline yfw_host::request_tree parse(const std::string &xml, bool edit = true) {
    raw_tree_builder b(edit);
    yfw_host::reader_error err;
    if (!yfw_host::read_xml(xml, b, 1000, err)) throw std::runtime_error(err.message);
    b.take_root();
    return std::move(b.tree_);
}

}  // namespace oclr_test
