// ocmap: OpenConfig local-routing <-> native static routes, through the
// mapping plug-in loaded exactly as the router's framework loads it.
#include <CLI/CLI.hpp>

#include <iostream>
#include <new>

#include <malloc.h>

#include "common.h"
#include "huge_pages.h"
#include "netconf_server.h"
#include "progress.h"

#ifndef OCMAP_VERSION
#define OCMAP_VERSION "unknown"
#endif

namespace {

using namespace ocmap;

// The options every batch subcommand takes.
void add_common_options(CLI::App *sub, options &o) {
    sub->add_option("--store", o.store,
                    "native running configuration (XML rooted at router-static); "
                    "a missing file is an empty configuration");
    sub->add_flag("--adds", o.adds,
                  "print the plug-in's output adds, one line each, instead of the document");
    sub->add_flag("--trace", o.trace, "plug-in trace lines to standard error");
    sub->add_flag("--debug", o.debug, "plug-in debug log (levels 0 and 3) to standard error");
    sub->add_option("--format", o.format, "output format: xml, or json (RFC 7951)")
        ->check(CLI::IsMember({"xml", "json"}))
        ->default_str("xml");
    sub->add_option("--plugin", o.plugin_path,
                    "plug-in library (default: lib/libymap_oclocalrouting.so beside bin/)");
    sub->add_option("--max-input", o.max_input,
                    "largest input file or store read, e.g. 500M or 2G (default: an eighth "
                    "of the memory the process may use)")
        ->check([](const std::string &v) {
            return parse_size(v) ? std::string() : "expected a size such as 500M or 2G";
        });
}

struct subcommands {
    CLI::App *edit, *get_config, *get, *to_oc, *serve;
};

subcommands add_batch_subcommands(CLI::App &app, options &o, subcommands subs) {
    subs.edit = app.add_subcommand("edit", "OpenConfig edit (request kind 1) -> native edit");
    subs.edit
        ->add_option("FILE", o.file,
                     "NETCONF <config> or <local-routes> document, or JSON; - for stdin")
        ->required();
    subs.edit->add_flag("--apply", o.apply,
                        "apply the native edit to --store (atomically, under a lock), only when "
                        "the mapping succeeded");
    add_common_options(subs.edit, o);

    subs.get_config = app.add_subcommand(
        "get-config", "OpenConfig read of configuration (kind 0), answered from --store");
    subs.get_config->add_option("FILE", o.file,
                                "subtree filter; none = all of local-routes; - for stdin");
    add_common_options(subs.get_config, o);

    subs.get = app.add_subcommand("get", "the same with operational state (kind 10)");
    subs.get->add_option("FILE", o.file, "subtree filter; none = all of local-routes; - for stdin");
    add_common_options(subs.get, o);

    subs.to_oc = app.add_subcommand("to-oc", "native router-static data -> OpenConfig data");
    subs.to_oc->add_option("FILE", o.file, "native data rooted at router-static; - for stdin")
        ->required();
    subs.to_oc->add_flag("--state", o.state, "also the state leaves (request kind 10)");
    add_common_options(subs.to_oc, o);
    return subs;
}

CLI::App *add_serve(CLI::App &app, options &o, netconf::server_options &server) {
    CLI::App *serve = app.add_subcommand(
        "serve",
        "NETCONF server over SSH (RFC 6241/6242) on --store: running and candidate datastores,\n"
        "OpenConfig requests through the mapping, native requests directly");
    serve
        ->add_option("--store", o.store,
                     "native running configuration the server keeps (XML rooted at "
                     "router-static); a missing file is an empty configuration")
        ->required();
    serve->add_option("--listen", server.listen, "address to listen on")->capture_default_str();
    serve->add_option("--port", server.port, "TCP port to listen on, 1 to 65535")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    serve
        ->add_option("--host-key", server.host_key,
                     "SSH host key (a private key file); a new Ed25519 key is written there, "
                     "mode 0600, when the file does not exist")
        ->required();
    serve->add_option("--user", server.user, "the one user name clients log in as")->required();
    serve->add_option("--authorized-keys", server.authorized_keys,
                      "OpenSSH authorized_keys file with the public keys the user may log in with");
    serve->add_option("--password-file", server.password_file,
                      "file whose first line is the crypt(3) hash of the user's password "
                      "(e.g. from 'openssl passwd -6')");
    serve->add_option("--plugin", o.plugin_path,
                      "plug-in library (default: lib/libymap_oclocalrouting.so beside bin/)");
    serve->footer(
        "At least one of --authorized-keys and --password-file is needed; system users and\n"
        "PAM are never consulted. Once clients can connect, one line 'ocmap: listening on\n"
        "ADDR:PORT' goes to standard output. SIGTERM or SIGINT close the sessions and stop\n"
        "the server; an edit in progress is finished or not started, never half written.");
    return serve;
}

int run(const subcommands &subs, const options &o, const netconf::server_options &server) {
    try {
        return *subs.serve        ? cmd_serve(o, server)
               : *subs.edit       ? cmd_edit(o)
               : *subs.get_config ? cmd_read(o, YFW_REQ_READ_CONFIG)
               : *subs.get        ? cmd_read(o, YFW_REQ_READ_STATE)
                                  : cmd_to_oc(o);
    } catch (const std::bad_alloc &) {
        // Within the input limit this should not happen; when it does, a
        // clear line and nothing written beats an abort.
        print_unusable("out of memory (lower --max-input, or give the process more memory)",
                       yfw_host::error_tag::resource_denied);
        return exit_unusable;
    }
}

}  // namespace

int main(int argc, char **argv) {
    // Each step frees large buffers the next one needs again (input text,
    // parsed trees, the output). Handing them back to the kernel in between
    // only to fault them in once more costs more than the steps themselves.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    CLI::App app{
        "ocmap - translate OpenConfig static routes (local-routes) to the native\n"
        "router-static model and back, through the oc-localrouting mapping plug-in."};
    app.set_version_flag("--version", std::string("ocmap ") + OCMAP_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Requests and native data are XML or RFC 7951 JSON (a document whose first\n"
        "character is '{'). Exit status: 0 success; 1 the mapping or the apply refused\n"
        "the request (one line 'ocmap: error 0xXXXXXXXX: TEXT (tag: TAG)' on standard\n"
        "error); 2 unusable input or arguments.");
    options o;
    netconf::server_options server;
    subcommands subs = add_batch_subcommands(app, o, {});
    subs.serve = add_serve(app, o, server);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? exit_ok : exit_unusable;
    }

    // A server answers small requests for a long time: the huge-page run
    // pays off for one pass over a large input, and would keep the
    // server's memory in 2 MB pieces for its whole life; the progress line
    // is for a terminal waiting on one command, and a server's standard
    // error is its log.
    if (!*subs.serve) {
        rerun_with_huge_pages(argv, o.file, o.store);
        progress::start(!o.trace && !o.debug);
    }
    int rc = run(subs, o, server);
    // A document that did not reach standard output (a full disk, a closed
    // pipe) is a failure, whatever the command did.
    if (!output_complete()) rc = exit_unusable;
    progress::finish();
    return rc;
}
