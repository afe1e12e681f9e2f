// ocmap serve's NETCONF server over an in-memory fake backend, for
// test_netconf.py. Datastores hold the last XML text written to them; every
// backend call is logged as a JSON line (--log) so that the tests can see
// exactly what reached the backend. A <fail> element in edit or validate
// content makes the call fail with the error it spells out:
// <fail>TAG|MESSAGE|PATH|APP-TAG|BAD-ELEMENT</fail>.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "netconf_server.h"

namespace {

using namespace ocmap::netconf;

const char *name_of(datastore ds) {
    return ds == datastore::running ? "running" : "candidate";
}

class fake_backend : public netconf_backend {
public:
    fake_backend(std::string running, std::string log_path)
        : data_{running, running}, log_(log_path, std::ios::app) {}

    bool get_data(datastore ds, bool with_state, std::string_view filter, std::string &out,
                  rpc_error &) override {
        log({{"op", "get"}, {"ds", name_of(ds)}, {"state", with_state}, {"filter", filter}});
        out += at(ds);
        return true;
    }
    bool edit_config(datastore ds, std::string_view config, default_operation op, test_option test,
                     rpc_error &err) override {
        static const char *ops[] = {"merge", "replace", "none"};
        static const char *tests[] = {"test-then-set", "set", "test-only"};
        log({{"op", "edit"},
             {"ds", name_of(ds)},
             {"config", config},
             {"default-operation", ops[static_cast<int>(op)]},
             {"test-option", tests[static_cast<int>(test)]}});
        if (failed(config, err)) return false;
        if (test != test_option::test_only) at(ds) = config;
        return true;
    }
    bool copy_config(datastore from, datastore to, rpc_error &) override {
        log({{"op", "copy"}, {"from", name_of(from)}, {"to", name_of(to)}});
        at(to) = at(from);
        return true;
    }
    bool replace_config(datastore ds, std::string_view config, rpc_error &err) override {
        log({{"op", "replace"}, {"ds", name_of(ds)}, {"config", config}});
        if (failed(config, err)) return false;
        at(ds) = config;
        return true;
    }
    bool validate(datastore ds, rpc_error &) override {
        log({{"op", "validate"}, {"ds", name_of(ds)}});
        return true;
    }
    bool validate_config(std::string_view config, rpc_error &err) override {
        log({{"op", "validate"}, {"config", config}});
        return !failed(config, err);
    }
    bool commit(rpc_error &) override {
        log({{"op", "commit"}});
        at(datastore::running) = at(datastore::candidate);
        return true;
    }
    bool discard_changes(rpc_error &) override {
        log({{"op", "discard"}});
        at(datastore::candidate) = at(datastore::running);
        return true;
    }
    bool candidate_modified() override { return data_[0] != data_[1]; }

private:
    std::string &at(datastore ds) { return data_[ds == datastore::running ? 0 : 1]; }
    void log(const nlohmann::json &entry) { log_ << entry.dump() << std::endl; }
    static bool failed(std::string_view config, rpc_error &err) {
        std::size_t b = config.find("<fail>");
        if (b == std::string_view::npos) return false;
        b += 6;
        std::string spec(config.substr(b, config.find("</fail>") - b));
        std::vector<std::string> f;
        std::istringstream in(spec);
        for (std::string part; std::getline(in, part, '|');) f.push_back(part);
        f.resize(5);
        err.tag = f[0];
        err.message = f[1];
        err.path = f[2];
        err.app_tag = f[3];
        err.bad_element = f[4];
        return true;
    }

    std::string data_[2];  // running, candidate
    std::ofstream log_;
};

}  // namespace

int main(int argc, char **argv) {
    server_options o;
    std::string store, log_path = "/dev/null";
    int port = 830;
    CLI::App app{"ocmap serve with a fake backend, for the NETCONF tests"};
    app.add_option("--store", store, "initial running content (XML text)");
    app.add_option("--listen", o.listen);
    app.add_option("--port", port)->check(CLI::Range(1, 65535));
    app.add_option("--host-key", o.host_key)->required();
    app.add_option("--user", o.user)->required();
    app.add_option("--authorized-keys", o.authorized_keys);
    app.add_option("--password-file", o.password_file);
    app.add_option("--log", log_path, "backend calls as JSON lines");
    app.add_flag("--verbose", o.verbose);
    CLI11_PARSE(app, argc, argv);
    o.port = static_cast<uint16_t>(port);
    std::string running;
    if (!store.empty()) {
        std::ifstream in(store);
        std::ostringstream ss;
        ss << in.rdbuf();
        running = ss.str();
    }
    fake_backend backend(running, log_path);
    return run_netconf_server(o, backend);
}
