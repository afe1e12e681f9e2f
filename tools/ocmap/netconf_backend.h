// What the NETCONF server needs from the datastores. The server owns the
// protocol (sessions, locks, capabilities, monitoring, filters split by
// module); the backend owns the data. Content crosses this boundary as XML
// text, one top-level element at a time, so the backend reads it through
// its own checked readers and needs neither libnetconf2 nor libyang.
//
// Calls are serialized by the server (one mutex around every call), so a
// backend need not be thread-safe; they come from the server's worker
// threads. An exception out of a call is answered with operation-failed;
// a backend that throws must leave its datastores as they were.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ocmap::netconf {

enum class datastore { running, candidate };

// One <rpc-error>. Only tag and message are required; empty strings are
// left out of the reply.
struct rpc_error {
    std::string type = "application";  // transport | rpc | protocol | application
    std::string tag;                   // NETCONF error-tag; unknown tags become operation-failed
    std::string message;               // error-message
    std::string path;                  // error-path (the node of the request or data)
    std::string app_tag;               // error-app-tag, e.g. the mapping's result code "0xaaf2f000"
    std::string bad_element;           // error-info/bad-element
    std::string bad_attribute;         // error-info/bad-attribute (the *-attribute tags)
    std::string bad_namespace;         // error-info/bad-namespace (unknown-namespace)
    std::optional<uint32_t> session_id;  // error-info/session-id
};

// One top-level element of <config> or subtree <filter> content, in the
// namespace of openconfig-local-routing or Velmo-Ornat-ip-static-cfg (the
// server answers everything else itself): that namespace, and the element
// as XML text declaring every namespace it uses, operations as
// nc:operation attributes.
struct content_element {
    std::string ns;
    std::string xml;
};
using content = std::vector<content_element>;

enum class default_operation { merge, replace, none };
enum class test_option { test_then_set, set, test_only };

class netconf_backend {
public:
    virtual ~netconf_backend() = default;

    // Data of a datastore: <get> (with_state) or <get-config>. filter null:
    // everything; else the data-module elements of a subtree filter (none
    // of them: nothing is selected, and the server does not call). Appends
    // zero or more top-level data elements with their xmlns to out.
    virtual bool get_data(datastore ds, bool with_state, const content *filter, std::string &out,
                          rpc_error &err) = 0;

    // <edit-config>. Edits are all-or-nothing, so every error-option is
    // rollback-on-error and is not passed. test_only: check, change nothing.
    virtual bool edit_config(datastore ds, const content &config, default_operation op,
                             test_option test, rpc_error &err) = 0;

    // <copy-config> of a whole datastore to the other one, or of inline
    // <config> content (the datastore becomes exactly that content).
    virtual bool copy_config(datastore from, datastore to, rpc_error &err) = 0;
    virtual bool replace_config(datastore ds, const content &config, rpc_error &err) = 0;

    // <delete-config> of the candidate: it becomes empty (running cannot be
    // deleted; the server refuses that itself).
    virtual bool delete_config(datastore ds, rpc_error &err) = 0;

    // <validate> of a datastore, or of inline content as a whole
    // configuration.
    virtual bool validate(datastore ds, rpc_error &err) = 0;
    virtual bool validate_config(const content &config, rpc_error &err) = 0;

    // <commit>: running becomes the candidate. <discard-changes>: the
    // candidate becomes running. Both leave the candidate unmodified.
    virtual bool commit(rpc_error &err) = 0;
    virtual bool discard_changes(rpc_error &err) = 0;

    // Whether the candidate holds changes not committed or discarded yet
    // (a lock of the candidate is refused then).
    virtual bool candidate_modified() = 0;
};

}  // namespace ocmap::netconf
