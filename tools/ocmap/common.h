// What every ocmap subcommand shares: options, loading the store and the
// plug-in, running a walk, printing adds, documents and the error line.
#pragma once

#include <optional>
#include <string>

#include "data_tree.h"
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
    yfw_host::doc_format output() const {
        return format == "json" ? yfw_host::doc_format::json : yfw_host::doc_format::xml;
    }
};

// Reads FILE (or standard input for "-"). On failure prints the reason and
// returns nullopt.
std::optional<std::string> read_input(const std::string &file);

// Writes text to standard output in one piece, after anything already
// written through std::cout.
void write_output(const std::string &text);
// Writes a document to standard output as it is produced.
void print_document(const yfw_host::out_node &root, const options &o, bool with_operations);

// Parses a request (XML or JSON, taking the text) rooted at root_name in root_ns; prints the
// reason and returns nullopt when unusable.
std::optional<yfw_host::request_tree> parse_request(std::string &&text, const std::string &name,
                                                    const char *root_name, const char *root_ns,
                                                    bool edit);
// read_input and parse_request of FILE.
std::optional<yfw_host::request_tree> read_request(const std::string &file, const char *root_name,
                                                   const char *root_ns, bool edit);

// Reads --store (a missing file is an empty configuration) and loads it into
// the configuration database. Prints the reason and returns nullopt when
// unusable.
std::optional<yfw_host::data_tree> load_store(const options &o);

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

// Binds an output tree to the schema of root (output_tree::bind). When the
// plug-in wrote outside it, prints the error line and returns false.
bool bind_or_refuse(yfw_host::output_tree &out, const yfw_host::schema_node &root);
// The document an output tree holds (output_tree::document_of), or null
// with the error line printed.
yfw_host::out_node *document_or_refuse(yfw_host::output_tree &out,
                                       const yfw_host::schema_node &root);

// "ocmap: error 0xXXXXXXXX: TEXT (tag: TAG)" on standard error.
void print_refusal(const walk_result &r);
void print_unusable(const std::string &message);
void print_adds(const yfw_host::output_tree &out);

int cmd_edit(const options &o);
int cmd_read(const options &o, uint32_t kind);
int cmd_to_oc(const options &o);

}  // namespace ocmap
