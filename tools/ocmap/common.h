// What every ocmap subcommand shares: options, reading and checking the
// documents, loading the store and the plug-in, running a walk, printing
// adds, documents and the error line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "data_tree.h"
#include "document_reader.h"
#include "running_store.h"
#include "yfw_host.h"

namespace ocmap {

namespace netconf {
struct server_options;
}

enum exit_status { exit_ok = 0, exit_refused = 1, exit_unusable = 2 };

// The host's own result code for a request refused at the boundary,
// before the plug-in saw it (beside the store's, store_apply_refused).
inline constexpr uint32_t request_refused = 0xaaf2f100u;

struct options {
    std::string file;   // request, filter or native data; "-" = standard input
    std::string store;  // native running configuration
    std::string plugin_path;
    std::string format = "xml";
    std::string max_input;  // as given; empty: the default of input_limit()
    bool apply = false;
    bool adds = false;
    bool trace = false;
    bool debug = false;
    bool state = false;  // to-oc --state
    yfw_host::doc_format output() const {
        return format == "json" ? yfw_host::doc_format::json : yfw_host::doc_format::xml;
    }
};

// The largest input read: --max-input, or an eighth of the memory the
// process may use (what the trees built from an input need, with room).
std::uint64_t input_limit(const options &o);
// Parses a size such as 512M, 2G or 1000000; nullopt when it is none.
std::optional<std::uint64_t> parse_size(const std::string &text);

// Reads FILE (or standard input for "-"), refusing what is not a file or
// is larger than the input limit before reading it. On failure prints the
// reason and returns nullopt.
std::optional<std::string> read_input(const options &o, const std::string &file);

// Reads and checks a request (an edit or a filter) or native data (to-oc)
// from FILE. On failure prints the error and sets status: exit_unusable
// for a document that cannot be read, exit_refused for one refused.
std::optional<yfw_host::request_tree> read_request(const options &o, const std::string &file,
                                                   yfw_host::document_role role, int &status);
// The same from a text already read; name is what messages call it.
std::optional<yfw_host::request_tree> parse_request(const std::string &text,
                                                    const std::string &name,
                                                    yfw_host::document_role role, int &status);
// Native data for to-oc, checked as a store is and read straight into the
// native walker's input.
std::optional<yfw_host::request_tree> read_native_data(const options &o, const std::string &file,
                                                       int &status);

// Writes text to standard output in one piece, after anything already
// written through std::cout.
void write_output(const std::string &text);
// Writes a document to standard output as it is produced.
void print_document(const yfw_host::out_node &root, const options &o, bool with_operations);
// Whether everything written to standard output arrived; prints the error
// line when not.
bool output_complete();

// Reads --store (a missing file is an empty configuration); with
// fill_database, its routes go into the configuration database as they are
// read (the database is emptied first either way). Prints the reason and
// returns nullopt when unusable.
// The store read straight into the native walk's input, for a read.
std::optional<yfw_host::request_tree> load_store_request(const options &o);
std::optional<yfw_host::data_tree> load_store(const options &o, bool fill_database);

// Loads the plug-in and registers it; prints the reason on failure.
std::optional<yfw_host::plugin> load_plugin(const options &o);

// Runs one root walker over a tree with the logging the options ask for.
// Returns the walker's result; last_error receives the last error text the
// plug-in reported, error_tag the tag it left, at the request node it
// stopped at.
struct walk_result {
    ymap_result rc = 0;
    std::string last_error;
    std::string error_tag;
    std::string at;
};
walk_result run_walk(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                     yfw_host::request_tree &tree, yfw_host::add_target &out);

// Runs the native walker over data and writes the OpenConfig answer to
// standard output as the walk makes it, cut to filter when there is one
// (with --adds: prints the adds instead). Returns the exit status.
int answer(const options &o, uint32_t kind, yfw_map_walker_fn walker, yfw_host::request_tree &data,
           const yfw_map_node *filter);
// The same into file, without --adds and without printing the refusal.
walk_result write_answer(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                         yfw_host::request_tree &data, const yfw_map_node *filter, std::FILE *file);

// The read pipeline's first half: the filter's walk names native paths,
// the query (narrowed to the routes the filter names by prefix). A query
// whose root has no children selects nothing. Nullopt with r set when the
// walk is refused.
std::optional<yfw_host::data_tree> read_query(const options &o, uint32_t kind,
                                              const yfw_host::plugin &p,
                                              yfw_host::request_tree &filter, walk_result &r);
// The query selects from config the native walker's input (it holds copies
// of the values).
std::optional<yfw_host::request_tree> select_for_read(const options &o, uint32_t kind,
                                                      const yfw_host::plugin &p,
                                                      yfw_host::request_tree &filter,
                                                      const yfw_host::data_tree &config,
                                                      walk_result &r);

// The edit pipeline: the mapping's walk of an OpenConfig edit into out
// (whose document_of is then the native edit), and the native edit's
// apply to config, which also refuses what would not be stored as asked:
// a set-tag the store would lose with its route's next-hops, and a stored
// route that would not read back (through p's native walker) as the
// request gives it. On failure config may be partly edited.
walk_result map_edit(const options &o, const yfw_host::plugin &p, yfw_host::request_tree &edit,
                     yfw_host::output_tree &out);
bool apply_mapped_edit(const std::string &name, yfw_host::data_tree &config,
                       const yfw_host::out_node &native_edit, const yfw_map_node &request,
                       const yfw_host::plugin &p, yfw_host::apply_error &err);

// Binds an output tree to the schema of root (output_tree::bind). When the
// plug-in wrote outside it, prints the error line and returns false.
bool bind_or_refuse(yfw_host::output_tree &out, const yfw_host::schema_node &root);
walk_result bind_output(yfw_host::output_tree &out, const yfw_host::schema_node &root);
// The document an output tree holds (output_tree::document_of), or null
// with the error line printed.
yfw_host::out_node *document_or_refuse(yfw_host::output_tree &out,
                                       const yfw_host::schema_node &root);
yfw_host::out_node *output_document(yfw_host::output_tree &out, const yfw_host::schema_node &root,
                                    walk_result &r);

// What a refusal says: the plug-in's last error (or the host's text for
// its code) with where the walk stopped, and its NETCONF error tag (the
// plug-in's, or the one of its code).
std::string refusal_text(const walk_result &r);
std::string refusal_tag(const walk_result &r);
// The NETCONF error tag of a refusal: the host's own tag, or the one the
// result code stands for where the plug-in left the name of the offending
// node as its error tag (refusal_tag shows that name, as the error line
// always has).
std::string netconf_refusal_tag(const walk_result &r);
bool is_netconf_error_tag(std::string_view tag);
// "ocmap: error 0xXXXXXXXX: TEXT (tag: TAG)" on standard error, one line.
void print_refusal(const walk_result &r);
// "ocmap: MESSAGE (tag: TAG)" for what cannot be used at all.
void print_unusable(const std::string &message,
                    const char *tag = yfw_host::error_tag::operation_failed);
// A document's error: malformed documents (and any problem of the store)
// are unusable input; a refused request is a refusal. Returns the status.
int report(const yfw_host::input_error &err, bool store = false);
void print_adds(const yfw_host::output_tree &out);

int cmd_edit(const options &o);
int cmd_read(const options &o, uint32_t kind);
int cmd_to_oc(const options &o);
// The NETCONF server on --store (serve.cpp).
int cmd_serve(const options &o, const netconf::server_options &server);

}  // namespace ocmap
