// Every document that enters the host is read here, once, straight into the
// tree it is for, and checked against the compiled schema while it is
// built: element and member names and namespaces, the shape of each node,
// leaf values against their types (turned into canonical text), the
// plug-in's narrower limits, and for data, complete and unique keys. The
// first offending node is reported with its position, its document path
// and a NETCONF error tag; nothing of a refused document is kept.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "data_tree.h"
#include "yfw_host.h"

namespace yfw_host {

// What a document is for; it decides which checks apply.
enum class document_role : uint8_t {
    // An edit (nc:operation attributes allowed): values and the plug-in's
    // limits are checked; list keys are the mapping's to check.
    edit,
    // A subtree filter: a leaf without text selects, a leaf with text is a
    // content match, checked against its type; nodes may repeat.
    filter,
    // Data (a stored configuration, native data to translate): every leaf
    // has a valid value, every list entry all its keys, unique among its
    // siblings, and mapped routes hold only what the database can key.
    data,
};

// XML, or RFC 7951 JSON when the first character (after an optional byte
// order mark and white space) is '{' or '['. The root element is `root`,
// as the document element or as the only child of a wrapper element (any
// name: config, filter, data) or wrapper member.
bool is_json_document(std::string_view text);

// Reads a request into the walker's input. Values are canonical; identities
// carry their module's prefix ("oc-loc-rt:DROP") whatever prefix the
// document bound. Children keep the document's order unless in_schema_order
// (a store, which the walk sees in the order the store's own tree keeps).
std::optional<request_tree> read_request_document(std::string_view text, const std::string &file,
                                                  const schema_node &root, document_role role,
                                                  input_error &err, bool in_schema_order = false);

// Called with each mapped route of native data once it is read and
// checked (to fill the configuration database as the store is read).
using route_visitor = std::function<void(const data_node &route)>;

// Reads a document into a data tree (nodes in schema order, list entries in
// document order); edits keep each node's operation in data_node::op.
std::optional<data_tree> read_data_document(std::string_view text, const std::string &file,
                                            const schema_node &root, document_role role,
                                            input_error &err, const route_visitor &each_route = {});

}  // namespace yfw_host
