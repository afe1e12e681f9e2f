#include "common.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "answer_writer.h"
#include "native_store.h"
#include "platform_runtime.h"
#include "plugin_limits.h"
#include "progress.h"
#include "read_back.h"
#include "running_store.h"
#include "sysdb_writer.h"

namespace ocmap {

namespace {

std::string size_text(std::uint64_t bytes) {
    char buf[32];
    if (bytes >= (1ull << 30))
        std::snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(bytes) / (1ull << 30));
    else if (bytes >= (1ull << 20))
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1ull << 20));
    else
        std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
    return buf;
}

std::string shown_name(const std::string &file) {
    return file == "-" ? "standard input" : file;
}

// size 0: not known, only that it is larger.
std::string too_big(const std::string &file, std::uint64_t size, std::uint64_t limit) {
    return shown_name(file) + ": " +
           (size == 0 ? std::string("the input") : "the file of " + size_text(size)) +
           " is larger than the input limit of " + size_text(limit) +
           " (raise it with --max-input)";
}

// Why writing standard output failed, kept from the write that failed.
int output_errno = 0;

}  // namespace

std::optional<std::uint64_t> parse_size(const std::string &text) {
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    std::string unit(end, text.data() + text.size());
    int shift = unit.empty() || unit == "B"   ? 0
                : unit == "K" || unit == "KB" ? 10
                : unit == "M" || unit == "MB" ? 20
                : unit == "G" || unit == "GB" ? 30
                                              : -1;
    if (shift < 0 || v > (UINT64_MAX >> shift)) return std::nullopt;
    return v << shift;
}

std::uint64_t input_limit(const options &o) {
    if (!o.max_input.empty()) return parse_size(o.max_input).value_or(0);
    // The trees built from a document take several times its size; an
    // eighth of what the process may use leaves room for them and for the
    // output, instead of ending in an allocation failure half way.
    std::uint64_t memory = static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) *
                           static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    rlimit as{};
    if (::getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
        memory = std::min<std::uint64_t>(memory, as.rlim_cur);
    return memory / 8;
}

std::optional<std::string> read_input(const options &o, const std::string &file) {
    const std::uint64_t limit = input_limit(o);
    int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        print_unusable(shown_name(file) + ": cannot open for reading: " + std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        print_unusable(shown_name(file) + ": is a directory, not a document");
        ok = false;
    } else if (ok && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > limit) {
        // Refused before anything is allocated for it.
        print_unusable(too_big(file, static_cast<std::uint64_t>(st.st_size), limit),
                       yfw_host::error_tag::too_big);
        ok = false;
    } else if (ok) {
        if (S_ISREG(st.st_mode)) {
            progress::step("reading " + file);
            text.reserve(static_cast<std::size_t>(st.st_size));
        }
        // Read on to the end whatever the size said: a pipe has none, and a
        // file may still grow.
        char buf[1 << 16];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                print_unusable(shown_name(file) + ": cannot read: " + std::strerror(errno));
                ok = false;
                break;
            }
            if (n == 0) break;
            if (text.size() + static_cast<std::size_t>(n) > limit) {
                print_unusable(too_big(file, 0, limit), yfw_host::error_tag::too_big);
                ok = false;
                break;
            }
            text.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (fd != STDIN_FILENO) ::close(fd);
    if (!ok) return std::nullopt;
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

int report(const yfw_host::input_error &err, bool store) {
    yfw_host::input_error where = err;
    where.tag.clear();
    if (store || err.malformed() || err.tag == yfw_host::error_tag::resource_denied) {
        print_unusable(where.text(), err.tag.empty() ? nullptr : err.tag.c_str());
        return exit_unusable;
    }
    print_refusal({request_refused, where.text(), err.tag, {}});
    return exit_refused;
}

std::optional<yfw_host::request_tree> parse_request(const std::string &text,
                                                    const std::string &name,
                                                    yfw_host::document_role role, int &status) {
    progress::step("parsing " + name);
    yfw_host::input_error err;
    auto tree = yfw_host::read_request_document(text, name, yfw_host::yang_schema::get().oc_root(),
                                                role, err);
    if (!tree)
        status = report(err);
    else
        progress::input_routes(routes_in(*tree->root()));
    return tree;
}

std::optional<yfw_host::request_tree> read_request(const options &o, const std::string &file,
                                                   yfw_host::document_role role, int &status) {
    auto text = read_input(o, file);
    if (!text) {
        status = exit_unusable;
        return std::nullopt;
    }
    return parse_request(*text, file, role, status);
}

std::optional<yfw_host::request_tree> read_native_data(const options &o, const std::string &file,
                                                       int &status) {
    auto text = read_input(o, file);
    if (!text) {
        status = exit_unusable;
        return std::nullopt;
    }
    progress::step("parsing " + file);
    yfw_host::input_error err;
    auto tree =
        yfw_host::read_request_document(*text, file, yfw_host::yang_schema::get().native_root(),
                                        yfw_host::document_role::data, err);
    if (!tree)
        status = report(err);
    else
        progress::input_routes(routes_in(*tree->root()));
    return tree;
}

void write_output(const std::string &text) {
    writing();
    std::cout.flush();
    errno = 0;
    if ((std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
         std::fflush(stdout) != 0) &&
        output_errno == 0)
        output_errno = errno;
}

void print_document(const yfw_host::out_node &root, const options &o, bool with_operations) {
    writing();
    std::cout.flush();
    errno = 0;
    if (!yfw_host::write_document(root, o.output(), with_operations, stdout) && output_errno == 0)
        output_errno = errno;
}

bool output_complete() {
    std::cout.flush();
    errno = 0;
    bool ok = std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!ok && output_errno == 0) output_errno = errno;
    if (!ok)
        print_unusable(std::string("cannot write to standard output: ") +
                       (output_errno != 0 ? std::strerror(output_errno) : "write failed"));
    return ok;
}

std::optional<yfw_host::data_tree> load_store(const options &o, bool fill_database) {
    platform::sysdb_clear();
    const yfw_host::schema_node &root = yfw_host::yang_schema::get().native_root();
    if (o.store.empty()) return yfw_host::data_tree::empty(root);
    std::error_code size_err;
    progress::input_bytes(std::filesystem::file_size(o.store, size_err));
    progress::step("loading the store " + o.store);
    yfw_host::input_error err;
    std::size_t routes = 0;
    yfw_host::route_visitor put = [&routes](const yfw_host::data_node &route) {
        yfw_host::put_route(route);
        ++routes;
    };
    auto config = yfw_host::read_store(o.store, err, input_limit(o),
                                       fill_database ? put : yfw_host::route_visitor());
    if (!config) {
        // A database half filled from a store that does not load would
        // answer lookups nobody asked for.
        platform::sysdb_clear();
        report(err, true);
        return std::nullopt;
    }
    progress::input_routes(routes);
    return config;
}

std::optional<yfw_host::request_tree> load_store_request(const options &o) {
    platform::sysdb_clear();
    const yfw_host::schema_node &root = yfw_host::yang_schema::get().native_root();
    if (o.store.empty()) return yfw_host::request_tree_of(*yfw_host::data_tree::empty(root).root);
    std::error_code size_err;
    progress::input_bytes(std::filesystem::file_size(o.store, size_err));
    progress::step("loading the store " + o.store);
    yfw_host::input_error err;
    auto data = yfw_host::read_store_request(o.store, err, input_limit(o));
    if (!data) {
        report(err, true);
        return std::nullopt;
    }
    progress::input_routes(routes_in(*data->root()));
    return data;
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

// The walkers mark every request node they visit; they visit in document
// order and stop at the first failure, so the last node marked is where
// the walk stopped. Its path, with the keys of its entries.
void last_visited(const yfw_map_node &n, const yfw_host::schema_node *s, std::string &path,
                  std::string &found) {
    std::string here = path + "/" + n.tag;
    if (s != nullptr && s->kind == yfw_host::schema_node::node_kind::list) {
        for (const yfw_host::schema_node *k : s->keys)
            for (uint32_t i = 0; i < n.child_count; ++i)
                if (n.children[i].value != nullptr && k->name == n.children[i].tag)
                    here += "[" + k->name + "=" + yfw_host::quoted(n.children[i].value) + "]";
    }
    if (n.node_kind_flags & YFW_KIND_SET_BIT) found = here;
    for (uint32_t i = 0; i < n.child_count; ++i) {
        const yfw_map_node &c = n.children[i];
        last_visited(c, s != nullptr && c.tag != nullptr ? s->child(c.tag) : nullptr, here, found);
    }
}

std::string stopped_at(const yfw_map_node *root) {
    if (root == nullptr || root->tag == nullptr) return {};
    const auto &schema = yfw_host::yang_schema::get();
    const yfw_host::schema_node *s = schema.root(root->ns ? root->ns : "", root->tag);
    std::string path, found;
    last_visited(*root, s, path, found);
    return found;
}

}  // namespace

walk_result run_walk(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                     yfw_host::request_tree &tree, yfw_host::add_target &out) {
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
    if (r.rc != 0) r.at = stopped_at(tree.root());
    return r;
}

namespace {

// What the host says about a refusal the plug-in gave no text for, and the
// NETCONF error tag of each result code, for refusals the plug-in left
// without a tag of its own.
const char *host_text(ymap_result rc) {
    switch (rc) {
        case YMAP_NO_LEAF_MAPPING: return "the request names a leaf that has no mapping";
        case YMAP_ERR_FOREIGN_ADD: return "a node of another module cannot be added";
        case YMAP_ERR_INVALID_ARGS: return "invalid arguments";
        case YMAP_SYSDB_NOT_FOUND: return "nothing stored matches the request";
        default: return "the mapping refused the request";
    }
}

const char *host_tag(ymap_result rc) {
    switch (rc) {
        case YMAP_SYSDB_NOT_FOUND: return yfw_host::error_tag::data_missing;
        case YMAP_NO_LEAF_MAPPING: return yfw_host::error_tag::operation_not_supported;
        case YMAP_ERR_FOREIGN_ADD: return yfw_host::error_tag::unknown_namespace;
        case YMAP_ERR_BAD_REQUEST: return yfw_host::error_tag::invalid_value;
        case YMAP_ERR_UNSUPPORTED_TAG: return yfw_host::error_tag::unknown_element;
        case YMAP_ERR_LIST_KEY: return yfw_host::error_tag::missing_element;
        case YMAP_ERR_KEY_DELETE: return yfw_host::error_tag::bad_attribute;
        default: return yfw_host::error_tag::operation_failed;
    }
}

}  // namespace

std::string refusal_text(const walk_result &r) {
    std::string text = r.last_error.empty() ? host_text(r.rc) : r.last_error;
    if (!r.at.empty()) text += " (at " + r.at + ")";
    return text;
}

std::string refusal_tag(const walk_result &r) {
    return r.error_tag.empty() ? std::string(host_tag(r.rc)) : r.error_tag;
}

bool is_netconf_error_tag(std::string_view tag) {
    namespace t = yfw_host::error_tag;
    for (const char *known :
         {t::malformed_message, t::invalid_value, t::bad_element, t::unknown_element,
          t::unknown_namespace, t::unknown_attribute, t::bad_attribute, t::missing_element,
          t::data_exists, t::data_missing, t::operation_failed, t::operation_not_supported,
          t::too_big, t::resource_denied})
        if (tag == known) return true;
    return false;
}

std::string netconf_refusal_tag(const walk_result &r) {
    // The plug-in's error tag names the offending node, not a NETCONF tag.
    return is_netconf_error_tag(r.error_tag) ? r.error_tag : std::string(host_tag(r.rc));
}

void print_refusal(const walk_result &r) {
    progress::finish();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", r.rc);
    // The text is cut, never the tag after it.
    std::cerr << "ocmap: error " << code << ": " << yfw_host::printable(refusal_text(r))
              << " (tag: " << refusal_tag(r) << ")\n";
}

walk_result write_answer(const options &o, uint32_t kind, yfw_map_walker_fn walker,
                         yfw_host::request_tree &data, const yfw_map_node *filter,
                         std::FILE *file) {
    const yfw_host::schema_node &oc = yfw_host::yang_schema::get().oc_root();
    yfw_host::answer_writer out(*oc.child("static-routes")->child("static"), o.output(), file,
                                filter);
    walk_result r = run_walk(o, kind, walker, data, out);
    // After a refusal the routes before it may be written already; the
    // document is left unfinished so that nothing takes it for a whole
    // answer.
    std::string err;
    if (r.rc == 0 && !out.finish(err))
        r = {yfw_host::store_apply_refused, err, yfw_host::error_tag::invalid_value, {}};
    return r;
}

int answer(const options &o, uint32_t kind, yfw_map_walker_fn walker, yfw_host::request_tree &data,
           const yfw_map_node *filter) {
    if (o.adds) {
        yfw_host::output_tree out;
        walk_result r = run_walk(o, kind, walker, data, out);
        print_adds(out);
        if (r.rc == 0) return exit_ok;
        print_refusal(r);
        return exit_refused;
    }
    writing();
    std::cout.flush();
    errno = 0;
    walk_result r = write_answer(o, kind, walker, data, filter, stdout);
    if (r.rc == 0) return exit_ok;
    if (std::ferror(stdout)) {
        // Not a refusal: standard output failed, which output_complete
        // reports, once.
        if (output_errno == 0) output_errno = errno;
        return exit_unusable;
    }
    print_refusal(r);
    return exit_refused;
}

bool bind_or_refuse(yfw_host::output_tree &out, const yfw_host::schema_node &root) {
    walk_result r = bind_output(out, root);
    if (r.rc != 0) print_refusal(r);
    return r.rc == 0;
}

walk_result bind_output(yfw_host::output_tree &out, const yfw_host::schema_node &root) {
    std::string err;
    if (out.bind(root, err)) return {};
    return {yfw_host::store_apply_refused, err, yfw_host::error_tag::unknown_element, {}};
}

yfw_host::out_node *document_or_refuse(yfw_host::output_tree &out,
                                       const yfw_host::schema_node &root) {
    walk_result r;
    yfw_host::out_node *doc = output_document(out, root, r);
    if (doc == nullptr) print_refusal(r);
    return doc;
}

yfw_host::out_node *output_document(yfw_host::output_tree &out, const yfw_host::schema_node &root,
                                    walk_result &r) {
    std::string err;
    yfw_host::out_node *doc = out.document_of(root, err);
    if (doc == nullptr)
        r = {yfw_host::store_apply_refused, err, yfw_host::error_tag::invalid_value, {}};
    return doc;
}

walk_result map_edit(const options &o, const yfw_host::plugin &p, yfw_host::request_tree &edit,
                     yfw_host::output_tree &out) {
    const yfw_host::schema_node &native = yfw_host::yang_schema::get().native_root();
    out.keys_name_entries(&native);
    out.expect_root(native);
    return run_walk(o, YFW_REQ_EDIT, p.record().oc_root_walker, edit, out);
}

bool apply_mapped_edit(const std::string &name, yfw_host::data_tree &config,
                       const yfw_host::out_node &native_edit, const yfw_map_node &request,
                       const yfw_host::plugin &p, yfw_host::apply_error &err) {
    const std::vector<std::string> reconciled =
        yfw_host::stored_routes_named(request, *config.root);
    if (!yfw_host::apply_checked(name, config, native_edit, err)) return false;
    std::string lost =
        yfw_host::edit_not_kept(request, reconciled, *config.root, p.record().native_root_walker);
    if (lost.empty()) return true;
    err = {yfw_host::error_tag::invalid_value, {}, lost};
    return false;
}

namespace {

const yfw_map_node *child_tagged(const yfw_map_node &n, std::string_view tag) {
    for (uint32_t i = 0; i < n.child_count; ++i)
        if (n.children[i].tag != nullptr && tag == n.children[i].tag) return &n.children[i];
    return nullptr;
}

// The prefixes of the static routes an OpenConfig filter selects, when it
// names each one by its key (a content match on prefix); nullopt when it
// selects static routes any other way (all of them, or by other leaves).
std::optional<std::vector<std::string_view>> routes_named_by(const yfw_map_node &filter) {
    if (filter.child_count == 0) return std::nullopt;
    std::vector<std::string_view> prefixes;
    for (uint32_t i = 0; i < filter.child_count; ++i) {
        const yfw_map_node &routes = filter.children[i];
        if (routes.tag == nullptr || std::string_view(routes.tag) != "static-routes") continue;
        if (routes.child_count == 0) return std::nullopt;
        for (uint32_t j = 0; j < routes.child_count; ++j) {
            const yfw_map_node &route = routes.children[j];
            const yfw_map_node *prefix = child_tagged(route, "prefix");
            if (route.tag == nullptr || std::string_view(route.tag) != "static" ||
                prefix == nullptr || prefix->value == nullptr || *prefix->value == '\0')
                return std::nullopt;
            prefixes.emplace_back(prefix->value);
        }
    }
    return prefixes;
}

void copy_children(yfw_host::data_tree &t, yfw_host::data_node &to,
                   const yfw_host::data_node &from) {
    for (const yfw_host::data_node *c : from.children()) {
        if (c->schema->is_key && from.schema->kind == yfw_host::schema_node::node_kind::list)
            continue;
        yfw_host::data_node *n = t.add(&to, c->schema);
        if (c->schema->is_leaf()) t.set_value(n, c->value());
        copy_children(t, *n, *c);
        if (c->schema->kind == yfw_host::schema_node::node_kind::list) {
            for (const yfw_host::data_node *k : c->children())
                if (k->schema->is_key) t.set_value(t.add(n, k->schema), k->value());
            t.index_entry(n);
        }
    }
}

// An answer to a filter that names its static routes by prefix is cut to
// those routes. The walk's native paths may still name a leaf of every
// route of a family (a read of set-tag asks for the tag of both families'
// next-hop lists), which would select, and walk, a whole family of the
// store to answer one route; such entries of the query are narrowed to the
// routes named. A native route reads back as the static route of its
// prefix and length, so nothing the answer keeps is lost.
void narrow_to_routes(yfw_host::data_tree &query, const std::vector<std::string_view> &prefixes) {
    std::vector<std::string_view> keys;
    for (const char *family : {"vrfipv4", "vrfipv6"}) {
        const yfw_host::schema_node *s = query.root->schema;
        yfw_host::data_node *list = query.root;
        for (const char *name :
             {"default-vrf", "address-family", family, "vrf-unicast", "vrf-prefixes"}) {
            s = s->child(name);
            list = list != nullptr ? list->child(s) : nullptr;
        }
        if (list == nullptr) continue;
        const yfw_host::schema_node *entry = s->child("vrf-prefix");
        const bool ipv6 = std::string_view(family) == "vrfipv6";
        for (yfw_host::data_node *e = list->first; e != nullptr;) {
            yfw_host::data_node *next = e->next;
            bool keyed = e->key_values(keys) &&
                         std::none_of(keys.begin(), keys.end(), [](auto k) { return k.empty(); });
            if (e->schema == entry && !keyed) {
                for (std::string_view p : prefixes) {
                    std::size_t slash = p.find('/');
                    if (slash == std::string_view::npos ||
                        (p.find(':') != std::string_view::npos) != ipv6)
                        continue;
                    std::vector<std::string_view> route{p.substr(0, slash), p.substr(slash + 1)};
                    yfw_host::data_node *target = list->entry(entry, route);
                    if (target == nullptr) target = query.add_entry(list, entry, route);
                    copy_children(query, *target, *e);
                }
                query.remove(e);
            }
            e = next;
        }
        // A container left empty would select everything below it.
        while (list != query.root && !list->has_children()) {
            yfw_host::data_node *parent = list->parent;
            query.remove(list);
            list = parent;
        }
    }
}

}  // namespace

std::optional<yfw_host::data_tree> read_query(const options &o, uint32_t kind,
                                              const yfw_host::plugin &p,
                                              yfw_host::request_tree &filter, walk_result &r) {
    const auto &schema = yfw_host::yang_schema::get();
    yfw_host::output_tree paths;
    paths.record_adds(o.adds);
    paths.keys_name_entries(&schema.native_root());
    paths.expect_root(schema.native_root());
    if (o.adds) std::cout << "# walk ox\n";
    r = run_walk(o, kind, p.record().oc_root_walker, filter, paths);
    if (o.adds) print_adds(paths);
    if (r.rc != 0) return std::nullopt;
    r = bind_output(paths, schema.native_root());
    if (r.rc != 0) return std::nullopt;
    // A filter whose walk named no native path (one for aggregates, say)
    // selects nothing from the store.
    if (paths.document().children.empty()) return yfw_host::data_tree::empty(schema.native_root());
    std::string err;
    auto query = yfw_host::document_of(paths, schema.native_root(), err);
    if (!query) {  // bound already, so it cannot fail here
        r = {yfw_host::store_apply_refused, err, yfw_host::error_tag::invalid_value, {}};
        return std::nullopt;
    }
    if (auto named = routes_named_by(*filter.root())) narrow_to_routes(*query, *named);
    return query;
}

std::optional<yfw_host::request_tree> select_for_read(const options &o, uint32_t kind,
                                                      const yfw_host::plugin &p,
                                                      yfw_host::request_tree &filter,
                                                      const yfw_host::data_tree &config,
                                                      walk_result &r) {
    auto query = read_query(o, kind, p, filter, r);
    if (!query) return std::nullopt;
    if (!query->root->has_children())
        return yfw_host::request_tree_of(*yfw_host::data_tree::empty(*config.root->schema).root);
    return yfw_host::selection(*config.root, *query->root).request();
}

void print_unusable(const std::string &message, const char *tag) {
    progress::finish();
    std::string line = yfw_host::printable(message);
    if (tag != nullptr) line += std::string(" (tag: ") + tag + ")";
    std::cerr << "ocmap: " << line << "\n";
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
