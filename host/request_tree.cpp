// Request trees, and the texts of errors.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "yfw_host.h"

namespace yfw_host {

std::string input_error::text() const {
    std::string s = file;
    if (line != 0) s += ":" + std::to_string(line) + ":" + std::to_string(column);
    s += ": " + message;
    if (!tag.empty()) s += " (tag: " + tag + ")";
    return s;
}

std::string printable(std::string_view text, std::size_t limit) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (out.size() >= limit && (c & 0xc0) != 0x80) {  // whole characters only
            out += "...";
            break;
        }
        // The C1 controls (U+0080 to U+009F) steer terminals as C0 ones do.
        if (c == 0xc2 && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
            auto c1 = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += hex[c1 >> 4];
            out += hex[c1 & 15];
            continue;
        }
        if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
            continue;
        }
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
        }
    }
    return out;
}

std::string quoted(std::string_view value) {
    // Long enough for any address, prefix or interface name whole.
    constexpr std::size_t shown = 80;
    std::string s = printable(value, shown);
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

const char *operation_name(uint32_t op) {
    switch (op) {
        case YFW_OP_NONE: return "merge";
        case YFW_OP_REPLACE: return "replace";
        case YFW_OP_CREATE: return "create";
        case YFW_OP_DELETE: return "delete";
        case YFW_OP_REMOVE: return "remove";
        default: return "unknown";
    }
}

yfw_map_node *request_tree::alloc_nodes(uint32_t count) {
    if (count == 0) count = 1;
    auto *at = static_cast<yfw_map_node *>(
        arena_.allocate(count * sizeof(yfw_map_node), alignof(yfw_map_node)));
    std::uninitialized_value_construct_n(at, count);
    return at;
}

const char *request_tree::keep(std::string_view text) {
    auto *at = static_cast<char *>(arena_.allocate(text.size() + 1, 1));
    // An empty view may have no data at all, which memcpy must not be given.
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    return at;
}

yfw_map_node *request_tree::add_leaf(yfw_map_node *parent, const char *tag, const char *ns,
                                     const char *value) {
    // The old array is kept, not freed: walkers may still hold pointers to
    // its nodes. Growing by doubling keeps repeated adds cheap.
    if (parent->children == nullptr || parent->child_count >= parent->host_capacity) {
        uint32_t cap = parent->child_count < 4 ? 4 : parent->child_count * 2;
        yfw_map_node *fresh = alloc_nodes(cap);
        for (uint32_t i = 0; i < parent->child_count; ++i) fresh[i] = parent->children[i];
        parent->children = fresh;
        parent->host_capacity = cap;
    }
    yfw_map_node *leaf = &parent->children[parent->child_count++];
    *leaf = yfw_map_node{};
    leaf->tag = keep(tag ? tag : "");
    leaf->ns = ns ? keep(ns) : nullptr;
    if (value) {
        leaf->value = keep(value);
        leaf->flags |= YFW_NODE_HAS_VALUE;
    }
    leaf->host_bits = parent->host_bits;
    parent->flags |= YFW_NODE_CHILDREN_VALID;
    return leaf;
}

}  // namespace yfw_host
