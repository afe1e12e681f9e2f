// Request and data trees from RFC 7951 JSON documents.
#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "yang_schema.h"
#include "yfw_host.h"

namespace yfw_host {

namespace {

using json = nlohmann::ordered_json;

constexpr std::string_view operation_member = "ietf-netconf:operation";

struct json_builder {
    request_tree &tree;
    const std::string &file;
    bool edit;
    input_error &err;

    bool fail(const std::string &where, std::string msg) {
        err.file = file;
        err.message = std::move(msg) + " (at " + (where.empty() ? "/" : where) + ")";
        return false;
    }

    // Splits "module:name"; the namespace is the module's, or inherited.
    bool qualify(const std::string &member, const char *parent_ns, const std::string &where,
                 std::string_view &local, const char *&ns) {
        size_t colon = member.find(':');
        if (colon == std::string::npos) {
            local = member;
            ns = parent_ns;
            return true;
        }
        std::string_view module(member.data(), colon);
        ns = namespace_of_module(module);
        local = std::string_view(member).substr(colon + 1);
        if (ns == nullptr)
            return fail(where,
                        "unknown module '" + std::string(module) + "' in member '" + member + "'");
        return true;
    }

    bool operation(const json &meta, const std::string &where, uint32_t &op) {
        if (!meta.is_object()) return fail(where, "metadata must be an object");
        auto it = meta.find(operation_member);
        if (it == meta.end()) return true;
        if (!it->is_string()) return fail(where, "ietf-netconf:operation must be a string");
        const std::string &v = it->get_ref<const std::string &>();
        static const std::pair<const char *, uint32_t> ops[] = {{"merge", YFW_OP_NONE},
                                                                {"replace", YFW_OP_REPLACE},
                                                                {"create", YFW_OP_CREATE},
                                                                {"delete", YFW_OP_DELETE},
                                                                {"remove", YFW_OP_REMOVE}};
        for (const auto &[name, code] : ops) {
            if (v == name) {
                op = code;
                return true;
            }
        }
        return fail(where, "invalid operation '" + v +
                               "' (expected merge, replace, create, delete or remove)");
    }

    bool scalar(const json &v, const std::string &where, yfw_map_node &out) {
        std::string text;
        switch (v.type()) {
            case json::value_t::string: {
                text = v.get_ref<const std::string &>();
                // Identities reach the plug-in in the module's own prefix.
                std::string qualified = std::string(oc_module_name) + ":";
                if (text.rfind(qualified, 0) == 0)
                    text = std::string(oc_module_prefix) + ":" + text.substr(qualified.size());
                break;
            }
            case json::value_t::boolean: text = v.get<bool>() ? "true" : "false"; break;
            case json::value_t::number_integer:
            case json::value_t::number_unsigned:
            case json::value_t::number_float: text = v.dump(); break;
            default: return fail(where, "a leaf value must be a string, number or boolean");
        }
        // The plug-in reads values as C strings: an escaped NUL would cut
        // the value short without anyone noticing.
        if (text.find('\0') != std::string::npos)
            return fail(where, "a leaf value must not contain a NUL character (\\u0000)");
        out.value = tree.keep(text);
        out.flags |= YFW_NODE_HAS_VALUE;
        return true;
    }

    bool node(std::string_view local, const char *ns, const json &v, const std::string &where,
              unsigned depth, yfw_map_node &out) {
        if (depth > 64) return fail(where, "members nested deeper than 64 levels");
        out = yfw_map_node{};
        out.tag = tree.keep(local);
        out.ns = ns;
        if (edit) out.host_bits |= YFW_HOST_EDIT_REQUEST;
        if (v.is_array()) {
            // [null] is the value of a leaf of type empty.
            if (v.size() == 1 && v[0].is_null()) return true;
            return fail(where, "an array here must be [null]");
        }
        if (!v.is_object()) return scalar(v, where, out);

        uint32_t count = 0;
        for (const auto &[name, value] : v.items()) {
            if (!name.empty() && name[0] == '@') continue;
            count += value.is_array() && !(value.size() == 1 && value[0].is_null())
                         ? static_cast<uint32_t>(value.size())
                         : 1;
        }
        if (auto meta = v.find("@"); meta != v.end())
            if (!operation(*meta, where + "/@", out.operation)) return false;
        if (count == 0) return true;
        yfw_map_node *kids = tree.alloc_nodes(count);
        uint32_t i = 0;
        for (const auto &[name, value] : v.items()) {
            if (!name.empty() && name[0] == '@') continue;
            std::string here = where + "/" + name;
            if (name.find('\0') != std::string::npos)
                return fail(where, "a member name must not contain a NUL character (\\u0000)");
            std::string_view child_local;
            const char *child_ns = nullptr;
            if (!qualify(name, ns, here, child_local, child_ns)) return false;
            uint32_t first = i;
            if (value.is_array() && !(value.size() == 1 && value[0].is_null())) {
                // List entries, or the values of a leaf-list.
                for (size_t j = 0; j < value.size(); ++j) {
                    if (value[j].is_array())
                        return fail(here + "/" + std::to_string(j), "nested arrays");
                    if (!node(child_local, child_ns, value[j], here + "/" + std::to_string(j),
                              depth + 1, kids[i++]))
                        return false;
                }
            } else if (!node(child_local, child_ns, value, here, depth + 1, kids[i++])) {
                return false;
            }
            // A leaf's operation sits beside it as "@name".
            auto meta = v.find("@" + name);
            if (meta != v.end())
                for (uint32_t k = first; k < i; ++k)
                    if (!operation(*meta, where + "/@" + name, kids[k].operation)) return false;
        }
        out.children = kids;
        out.child_count = count;
        out.host_capacity = count;
        out.flags |= YFW_NODE_CHILDREN_VALID;
        return true;
    }
};

void position(std::string_view text, size_t byte, input_error &err) {
    err.line = 1;
    err.column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++err.line;
            err.column = 1;
        } else {
            ++err.column;
        }
    }
}

// The parser keeps only the last of two members with the same name, so a
// second "prefix" or "metric" would silently replace the first. The callback
// sees every member name and notes the first repeated one with its path.
class duplicate_members {
public:
    bool operator()(int, nlohmann::detail::parse_event_t event, json &parsed) {
        using ev = nlohmann::detail::parse_event_t;
        switch (event) {
            case ev::object_start:
            case ev::array_start: {
                bool in_array = !open_.empty() && open_.back().array;
                open_.push_back(
                    {in_array ? std::string() : last_key_, event == ev::array_start, {}, {}});
                break;
            }
            case ev::object_end:
            case ev::array_end:
                if (!open_.empty()) open_.pop_back();
                break;
            case ev::key:
                last_key_ = parsed.get<std::string>();
                if (!open_.empty() && first_.empty() && !open_.back().add(last_key_)) {
                    for (const auto &o : open_)
                        if (!o.name.empty()) first_ += "/" + o.name;
                    first_ += "/" + last_key_;
                }
                break;
            default: break;
        }
        return true;
    }
    // The path of the first repeated member, or empty.
    const std::string &first() const { return first_; }

private:
    struct level {
        std::string name;  // the member that holds it; empty for array items
        bool array;
        std::vector<std::string> names;
        std::unordered_set<std::string> many;  // once an object grows large
        bool add(const std::string &n) {
            if (names.size() < 32) {
                if (std::find(names.begin(), names.end(), n) != names.end()) return false;
                names.push_back(n);
                if (names.size() == 32) many.insert(names.begin(), names.end());
                return true;
            }
            return many.insert(n).second;
        }
    };
    std::vector<level> open_;
    std::string last_key_;
    std::string first_;
};

}  // namespace

std::optional<request_tree> request_tree::from_json(std::string_view text, const std::string &file,
                                                    const char *root_name, const char *root_ns,
                                                    bool edit, input_error &err) {
    json doc;
    duplicate_members duplicates;
    try {
        doc = json::parse(text.begin(), text.end(), std::ref(duplicates));
    } catch (const json::parse_error &e) {
        err.file = file;
        position(text, e.byte, err);
        std::string what = e.what();
        size_t colon = what.find("syntax error");
        err.message = "malformed JSON: " + (colon == std::string::npos ? what : what.substr(colon));
        return std::nullopt;
    } catch (const json::exception &e) {
        // Well-formed but not representable, such as a number beyond the
        // range of a double; left uncaught it would end the process.
        err.file = file;
        std::string what = e.what();
        size_t at = what.find("] ");
        err.message = "unusable JSON: " + (at == std::string::npos ? what : what.substr(at + 2));
        return std::nullopt;
    }
    err.file = file;
    if (!duplicates.first().empty()) {
        err.message = "member " + duplicates.first() + " appears twice in one object";
        return std::nullopt;
    }
    if (!doc.is_object()) {
        err.message = "the document must be a JSON object";
        return std::nullopt;
    }
    const char *module = module_of_namespace(root_ns);
    std::string member = std::string(module ? module : "") + ":" + root_name;
    const json *root = nullptr;
    std::string where = "/" + member;
    if (auto it = doc.find(member); it != doc.end()) {
        root = &*it;
    } else if (doc.size() == 1 && doc.begin().value().is_object()) {
        // A wrapper such as "ietf-netconf:config" or "filter".
        const json &inner = doc.begin().value();
        if (auto in = inner.find(member); in != inner.end()) {
            root = &*in;
            where = "/" + doc.begin().key() + where;
        }
    }
    if (root == nullptr) {
        err.message = "no member \"" + member + "\" at the top or inside a single wrapper object";
        return std::nullopt;
    }
    if (!root->is_object()) {
        err.message = "\"" + member + "\" must be an object";
        return std::nullopt;
    }
    request_tree tree;
    tree.root_ = tree.alloc_nodes(1);
    json_builder b{tree, file, edit, err};
    if (!b.node(root_name, namespace_of_module(module ? module : ""), *root, where, 1, *tree.root_))
        return std::nullopt;
    return tree;
}

namespace {
// A document whose first character past white space opens an object is
// JSON; one that opens with '[' is JSON too, if not a usable one.
bool is_json(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
}
}  // namespace

std::optional<request_tree> request_tree::parse(std::string_view text, const std::string &file,
                                                const char *root_name, const char *root_ns,
                                                bool edit, input_error &err) {
    if (is_json(text)) return from_json(text, file, root_name, root_ns, edit, err);
    return from_xml(text, file, root_name, root_ns, edit, err);
}

std::optional<request_tree> request_tree::parse_in_place(std::string &&text,
                                                         const std::string &file,
                                                         const char *root_name, const char *root_ns,
                                                         bool edit, input_error &err) {
    if (is_json(text)) return from_json(text, file, root_name, root_ns, edit, err);
    return from_xml_in_place(std::move(text), file, root_name, root_ns, edit, err);
}

}  // namespace yfw_host
