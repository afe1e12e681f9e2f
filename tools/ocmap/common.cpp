#include "common.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <filesystem>

#include "native_store.h"
#include "platform_runtime.h"
#include "sysdb_writer.h"

namespace ocmap {

std::optional<std::string> read_input(const std::string &file) {
    if (file == "-") {
        std::ostringstream ss;
        ss << std::cin.rdbuf();
        return ss.str();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        print_unusable(file + ": cannot open for reading");
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool load_store(const options &o) {
    platform::sysdb_clear();
    if (o.store.empty() || !std::filesystem::exists(o.store)) return true;
    auto text = read_input(o.store);
    if (!text) return false;
    yfw_host::input_error err;
    if (!yfw_host::load_native_store(*text, o.store, err)) {
        print_unusable(err.text());
        return false;
    }
    return true;
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
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", r.rc);
    std::string text = r.last_error.empty() ? host_text(r.rc) : r.last_error;
    std::cerr << "ocmap: error " << code << ": " << text;
    if (!r.error_tag.empty()) std::cerr << " (tag: " << r.error_tag << ")";
    std::cerr << "\n";
}

void print_unusable(const std::string &message) {
    std::cerr << "ocmap: " << message << "\n";
}

void print_adds(const yfw_host::output_tree &out) {
    for (const auto &a : out.adds()) std::cout << yfw_host::format_add(a) << "\n";
}

}  // namespace ocmap
