// What every ocmap subcommand shares: options, loading the plug-in, running
// a walk, printing adds and the error line.
#pragma once

#include <optional>
#include <string>

#include "yfw_host.h"

namespace ocmap {

enum exit_status { exit_ok = 0, exit_refused = 1, exit_unusable = 2 };

struct options {
    std::string file;   // request, filter or native data; "-" = standard input
    std::string store;  // native running configuration
    std::string plugin_path;
    std::string format = "xml";
    bool apply = false;
    bool adds = false;
    bool trace = false;
    bool debug = false;
    bool state = false;  // to-oc --state
};

// Reads FILE (or standard input for "-"). On failure prints the reason and
// returns nullopt.
std::optional<std::string> read_input(const std::string &file);

// Loads --store into the configuration database (a missing file is an
// empty configuration). Prints the reason and returns false when unusable.
bool load_store(const options &o);

// Loads the plug-in and registers it; prints the reason on failure.
std::optional<yfw_host::plugin> load_plugin(const options &o);

// Runs one root walker over a tree with the logging the options ask for.
// Returns the walker's result; last_error receives the last error text the
// plug-in reported, error_tag the tag it left.
struct walk_result {
    ymap_result rc = 0;
    std::string last_error;
    std::string error_tag;
};
walk_result run_walk(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                     yfw_host::request_tree &tree, yfw_host::output_tree &out);

// "ocmap: error 0xXXXXXXXX: TEXT (tag: TAG)" on standard error.
void print_refusal(const walk_result &r);
void print_unusable(const std::string &message);
void print_adds(const yfw_host::output_tree &out);

int cmd_edit(const options &o);
int cmd_read(const options &o, uint32_t kind);
int cmd_to_oc(const options &o);

}  // namespace ocmap
