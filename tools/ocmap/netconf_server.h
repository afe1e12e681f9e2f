// ocmap serve: a NETCONF server (RFC 6241) over SSH (RFC 6242) on
// libnetconf2, with the datastores behind a netconf_backend.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "netconf_backend.h"

namespace ocmap::netconf {

struct server_options {
    std::string listen = "127.0.0.1";
    uint16_t port = 830;  // libnetconf2 cannot listen on port 0
    // The SSH host key; an Ed25519 key is made (mode 0600) when the file
    // does not exist.
    std::string host_key;
    // The one user that may log in, by an OpenSSH authorized_keys file
    // and/or a file whose first line is a crypt(3) hash; at least one.
    std::string user;
    std::string authorized_keys;
    std::string password_file;
    // Where ietf-netconf and ietf-netconf-monitoring are found (Debian ships
    // them with libyuma-base, not with libnetconf2).
    std::string yang_dir = "/usr/share/yuma/modules/ietf";
    bool verbose = false;  // libnetconf2's and libyang's messages on standard error
    // A file each RPC's name, the microseconds the server spent on it
    // (reading, answering and sending) and those its answer took are
    // appended to, one line each; empty for none.
    std::string rpc_times;
};

// Serves until SIGTERM or SIGINT: the calling thread takes them through a
// handler that wakes it, and the threads it starts block them (call it
// before starting other threads that should not take those signals). Prints "ocmap: listening on
// ADDR:PORT" on standard output once clients can connect. On a signal it stops accepting, closes
// every session and returns 0 once no backend call is running; returns 2, with the reason on
// standard error, when it cannot start (bad options or files, a port in use).
//
// prepare, when given, runs once the options, the files they name and the
// port have been found usable, before any client is taken: a backend that
// loads a large datastore does it then, so a mistyped option is reported
// at once rather than after the load. It returns false, having said why,
// to end the run with status 2.
int run_netconf_server(const server_options &options, netconf_backend &backend,
                       const std::function<bool()> &prepare = {});

}  // namespace ocmap::netconf
