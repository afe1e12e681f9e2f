// The data the NETCONF server answers itself: ietf-netconf-monitoring's
// netconf-state and the YANG library, and RFC 6241 subtree filtering of
// them. Internal to netconf_server.cpp.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct ly_ctx;
struct lyd_node;

namespace ocmap::netconf {

// What netconf-state reports, copied under the server's state lock so that
// the tree is built without it.
struct monitoring_snapshot {
    struct lock {
        const char *datastore;  // running, candidate
        uint32_t session = 0;   // 0: not locked
        std::time_t since = 0;
    };
    struct session {
        uint32_t id = 0;
        std::string user;
        std::string host;
        std::time_t login = 0;
        uint32_t in_rpcs = 0;
        uint32_t in_bad_rpcs = 0;
        uint32_t out_rpc_errors = 0;
    };
    struct counters {
        std::time_t start = 0;
        uint32_t in_bad_hellos = 0;
        uint32_t in_sessions = 0;
        uint32_t dropped_sessions = 0;
        uint32_t in_rpcs = 0;
        uint32_t in_bad_rpcs = 0;
        uint32_t out_rpc_errors = 0;
    };
    std::vector<std::string> capabilities;
    std::vector<lock> locks;
    std::vector<session> sessions;
    counters stats;
};

// The namespace of a data node or of an opaque (unknown) one; "" for an
// element that declared none.
const char *node_namespace(const lyd_node *node);

// netconf-state and the YANG library data as XML text. filter_roots: the
// top-level elements of a subtree filter that are to be applied to them;
// null for everything.
std::string monitoring_xml(ly_ctx *ctx, const monitoring_snapshot &snapshot,
                           const std::vector<const lyd_node *> *filter_roots);

}  // namespace ocmap::netconf
