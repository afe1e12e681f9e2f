// What the NETCONF server needs from the datastores. The server owns the
// protocol (sessions, locks, capabilities, monitoring, filters split by
// module); the backend owns the data. Everything crosses this boundary as
// XML text, so a backend needs neither libnetconf2 nor libyang.
//
// Calls are serialized by the server (one mutex around every call), so a
// backend need not be thread-safe; they come from the server's worker
// threads. An exception out of a call is answered with operation-failed,
// and leaves the backend in whatever state the exception left it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ocmap::netconf {

enum class datastore { running, candidate };

// One <rpc-error>. Only tag and message are required; empty strings are
// left out of the reply.
struct rpc_error {
    std::string type = "application";  // transport | rpc | protocol | application
    std::string tag;                   // NETCONF error-tag; unknown tags become operation-failed
    std::string message;               // error-message
    std::string path;                  // error-path (an XPath into the request or data)
    std::string app_tag;               // error-app-tag, e.g. the mapping's result code "0xaaf2f000"
    std::string bad_element;           // error-info/bad-element
    std::string bad_attribute;         // error-info/bad-attribute (the *-attribute tags)
    std::string bad_namespace;         // error-info/bad-namespace (unknown-namespace)
    std::optional<uint32_t> session_id;  // error-info/session-id
};

enum class default_operation { merge, replace, none };
enum class test_option { test_then_set, set, test_only };

class netconf_backend {
public:
    virtual ~netconf_backend() = default;

    // Data of a datastore. filter_xml is empty for everything, else one or
    // more sibling top-level elements of a subtree filter, each in the
    // namespace of openconfig-local-routing or Velmo-Ornat-ip-static-cfg and
    // declaring it (the server has split off the parts it answers itself and
    // never calls with a filter that selects none of these data). Appends
    // zero or more top-level data elements (local-routes, router-static) with
    // their xmlns to out. with_state: <get> (configuration and state) rather
    // than <get-config>.
    virtual bool get_data(datastore ds, bool with_state, std::string_view filter_xml,
                          std::string &out, rpc_error &err) = 0;

    // <edit-config>: config_xml holds the top-level elements of <config>
    // (possibly none), each in one of the two data namespaces with its
    // xmlns, operations as nc:operation attributes with the nc prefix
    // declared where used. Edits are all-or-nothing, so every error-option
    // is rollback-on-error and is not passed. test_only: check, change
    // nothing.
    virtual bool edit_config(datastore ds, std::string_view config_xml, default_operation op,
                             test_option test, rpc_error &err) = 0;

    // <copy-config> of a whole datastore to the other one.
    virtual bool copy_config(datastore from, datastore to, rpc_error &err) = 0;

    // <copy-config> with inline <config> content (same form as edit_config's):
    // the datastore becomes exactly that content.
    virtual bool replace_config(datastore ds, std::string_view config_xml, rpc_error &err) {
        return edit_config(ds, config_xml, default_operation::replace, test_option::test_then_set,
                           err);
    }

    // <validate> of a datastore, or of inline content (same form as
    // edit_config's).
    virtual bool validate(datastore ds, rpc_error &err) = 0;
    virtual bool validate_config(std::string_view config_xml, rpc_error &err) = 0;

    // <commit>: running becomes the candidate. <discard-changes>: the
    // candidate becomes running. Both leave the candidate unmodified.
    virtual bool commit(rpc_error &err) = 0;
    virtual bool discard_changes(rpc_error &err) = 0;

    // Whether the candidate differs from running by changes not committed
    // or discarded yet (a lock of the candidate is refused then).
    virtual bool candidate_modified() = 0;

    // Called with the backend lock held before each operation on the data,
    // e.g. to notice that another process changed the store file.
    virtual void before_operation() {}
};

}  // namespace ocmap::netconf
