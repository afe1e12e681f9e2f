#include "common.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "native_store.h"
#include "platform_runtime.h"
#include "progress.h"
#include "running_store.h"
#include "sysdb_writer.h"

namespace ocmap {

std::optional<std::string> read_input(const std::string &file) {
    if (file == "-") {
        std::ostringstream ss;
        ss << std::cin.rdbuf();
        progress::input_bytes(ss.str().size());
        return ss.str();
    }
    progress::step("reading " + file);
    // One sized read: inputs run to tens of megabytes, and a stream
    // iterator copies them a character at a time.
    std::FILE *f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        print_unusable(file + ": cannot open for reading");
        return std::nullopt;
    }
    std::string text;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(f) : -1;
    if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0) {
        text.resize(static_cast<std::size_t>(size));
        text.resize(std::fread(text.data(), 1, text.size(), f));
    }
    // Whatever the size said, read on to the end (a file still growing, or
    // one whose size cannot be told).
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) {
        print_unusable(file + ": cannot read");
        return std::nullopt;
    }
    progress::input_bytes(text.size());
    return text;
}

namespace {

// Routes of a request or native document: static entries or native
// prefixes, found without visiting what is below them.
std::size_t routes_in(const yfw_map_node &n) {
    if (std::strcmp(n.tag, "static") == 0 || std::strcmp(n.tag, "vrf-prefix") == 0) return 1;
    std::size_t count = 0;
    for (uint32_t i = 0; i < n.child_count; ++i) count += routes_in(n.children[i]);
    return count;
}

// Documents go to standard output; when that is the terminal too, the
// progress line makes way first.
void writing() {
    if (::isatty(STDOUT_FILENO) == 1)
        progress::finish();
    else
        progress::step("writing the answer");
}

}  // namespace

void write_output(const std::string &text) {
    writing();
    std::cout.flush();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void print_document(const yfw_host::out_node &root, const options &o, bool with_operations) {
    writing();
    std::cout.flush();
    yfw_host::write_document(root, o.output(), with_operations, stdout);
}

std::optional<yfw_host::request_tree> parse_request(std::string &&text, const std::string &name,
                                                    const char *root_name, const char *root_ns,
                                                    bool edit) {
    progress::step("parsing " + name);
    yfw_host::input_error err;
    auto tree = yfw_host::request_tree::parse_in_place(std::move(text), name, root_name, root_ns,
                                                       edit, err);
    if (!tree)
        print_unusable(err.text());
    else if (tree->root() != nullptr)
        progress::input_routes(routes_in(*tree->root()));
    return tree;
}

std::optional<yfw_host::request_tree> read_request(const std::string &file, const char *root_name,
                                                   const char *root_ns, bool edit) {
    auto text = read_input(file);
    if (!text) return std::nullopt;
    return parse_request(std::move(*text), file, root_name, root_ns, edit);
}

std::optional<yfw_host::data_tree> load_store(const options &o) {
    platform::sysdb_clear();
    const yfw_host::schema_node &root = yfw_host::yang_schema::get().native_root();
    if (o.store.empty()) return yfw_host::data_tree::empty(root);
    std::error_code size_err;
    progress::input_bytes(std::filesystem::file_size(o.store, size_err));
    progress::step("loading the store " + o.store);
    yfw_host::input_error err;
    auto config = yfw_host::read_store(o.store, err);
    if (config) {
        if (auto stats = yfw_host::load_native_store(*config->root, o.store, err)) {
            progress::input_routes(stats->routes);
            return config;
        }
    }
    print_unusable(err.text());
    return std::nullopt;
}

std::optional<yfw_host::plugin> load_plugin(const options &o) {
    std::string err;
    std::string path = o.plugin_path.empty() ? yfw_host::default_plugin_path() : o.plugin_path;
    auto p = yfw_host::plugin::load(path, err);
    if (!p) {
        print_unusable(err);
        return std::nullopt;
    }
    // A failed database binding is not fatal: the plug-in's lookups then
    // fail with their own codes, as on the router.
    if (p->registration_status() != 0 && o.debug)
        std::cerr << "ocmap: plug-in registration returned " << p->registration_status() << "\n";
    return p;
}

namespace {

// The error-log line is "ERR: YFW: ctx=0x...,TEXT"; the reply wants TEXT.
std::string error_text_of(const std::string &line) {
    size_t ctx = line.find("ctx=");
    size_t comma = ctx == std::string::npos ? std::string::npos : line.find(',', ctx);
    std::string text = comma == std::string::npos ? line : line.substr(comma + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

walk_result run_walk(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                     yfw_host::request_tree &tree, yfw_host::output_tree &out) {
    walk_result r;
    if (walker == nullptr) {
        r.rc = YMAP_ERR_INVALID_ARGS;
        r.last_error = "the plug-in registered no root walker for this direction";
        return r;
    }
    progress::step(kind == YFW_REQ_EDIT ? "mapping the edit" : "mapping");
    bool debug = o.debug;
    platform::set_line_consumer([&r, debug](platform::sink_kind which, const std::string &line) {
        if (which == platform::sink_kind::error_log) r.last_error = error_text_of(line);
        if (which == platform::sink_kind::error_log && !debug) return;
        std::fputs(line.c_str(), stderr);
        if (line.empty() || line.back() != '\n') std::fputc('\n', stderr);
    });
    {
        yfw_host::session s(kind, out, &tree, {o.debug, o.trace, true});
        r.rc = s.run(walker, tree.root());
        r.error_tag = s.error_tag();
    }
    platform::set_line_consumer({});
    return r;
}

namespace {
const char *host_text(ymap_result rc) {
    switch (rc) {
        case YMAP_NO_LEAF_MAPPING: return "the request names a leaf that has no mapping";
        case YMAP_ERR_FOREIGN_ADD: return "a node of another module cannot be added";
        case YMAP_ERR_INVALID_ARGS: return "invalid arguments";
        default: return "the mapping refused the request";
    }
}
}  // namespace

void print_refusal(const walk_result &r) {
    progress::finish();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", r.rc);
    std::string text = r.last_error.empty() ? host_text(r.rc) : r.last_error;
    std::cerr << "ocmap: error " << code << ": " << text;
    if (!r.error_tag.empty()) std::cerr << " (tag: " << r.error_tag << ")";
    std::cerr << "\n";
}

bool bind_or_refuse(yfw_host::output_tree &out, const yfw_host::schema_node &root) {
    std::string err;
    if (out.bind(root, err)) return true;
    print_refusal({yfw_host::store_apply_refused, err, {}});
    return false;
}

yfw_host::out_node *document_or_refuse(yfw_host::output_tree &out,
                                       const yfw_host::schema_node &root) {
    std::string err;
    yfw_host::out_node *doc = out.document_of(root, err);
    if (doc == nullptr) print_refusal({yfw_host::store_apply_refused, err, {}});
    return doc;
}

void print_unusable(const std::string &message) {
    progress::finish();
    std::cerr << "ocmap: " << message << "\n";
}

void print_adds(const yfw_host::output_tree &out) {
    std::string text;
    for (const auto &a : out.adds()) {
        text += yfw_host::format_add(a);
        text += '\n';
    }
    write_output(text);
}

}  // namespace ocmap
