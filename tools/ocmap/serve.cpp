// ocmap serve: the NETCONF server (netconf_server.cpp) on the native store.
//
// Running is the store file, loaded once and kept in memory; every change
// to it is applied to a copy, checked, written with the store's atomic,
// locked write, and only then takes the place of the old tree, so a refused
// edit or a failed write changes nothing. The candidate is running itself
// until it is first edited, and from then on a copy of its own that keeps
// following running beside the routes it changed, until it is committed or
// discarded. The configuration database the plug-in's lookups
// read mirrors one of the two at a time: the one the current walk is for.
// It is filled once at start and then updated route by route, for the
// routes an edit touched or in which running and candidate differ.
//
// Every operation takes the store's lock first and reloads running when the
// file changed since this server last read or wrote it (an `ocmap edit
// --apply` beside the server), so neither loses the other's update.
#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "common.h"
#include "native_store.h"
#include "netconf_server.h"
#include "subtree_filter.h"
#include "sysdb_writer.h"

namespace ocmap {

namespace {

using netconf::content;
using netconf::content_element;
using netconf::datastore;
using netconf::default_operation;
using netconf::rpc_error;
using netconf::test_option;
using yfw_host::data_node;
using yfw_host::data_tree;
using yfw_host::out_node;
using yfw_host::schema_node;
using kind = schema_node::node_kind;

const schema_node &native_root() {
    return yfw_host::yang_schema::get().native_root();
}
const schema_node &oc_root() {
    return yfw_host::yang_schema::get().oc_root();
}

std::string code_text(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

// The element an input error is about, for error-info's bad-element: the
// boundary's messages name it first, as <name>; else the last element of
// the path.
std::string element_named(const yfw_host::input_error &e) {
    std::size_t open = e.message.find('<');
    std::size_t close = open == std::string::npos ? open : e.message.find('>', open);
    if (close != std::string::npos) return e.message.substr(open + 1, close - open - 1);
    std::string path;  // without the key predicates, whose values may hold '/'
    char quote = 0;
    int depth = 0;
    for (char c : e.path) {
        if (quote != 0)
            quote = c == quote ? 0 : quote;
        else if (depth > 0 && (c == '\'' || c == '"'))
            quote = c;
        else if (c == '[' || c == ']')
            depth += c == '[' ? 1 : -1;
        else if (depth == 0)
            path += c;
    }
    return path.substr(path.rfind('/') + 1);
}

// ---------------------------------------------------------------- errors

rpc_error input_refused(const yfw_host::input_error &e) {
    rpc_error r;
    r.tag = e.tag;
    r.type = e.malformed() ? "rpc" : "application";
    // The position is one in the element as the server passed it on, not
    // in what the client sent: the path says where instead.
    r.message = e.message;
    r.path = e.path;
    r.app_tag = code_text(request_refused);
    if (r.tag == yfw_host::error_tag::unknown_element ||
        r.tag == yfw_host::error_tag::bad_element || r.tag == yfw_host::error_tag::missing_element)
        r.bad_element = element_named(e);
    return r;
}

rpc_error walk_refused(const walk_result &w) {
    rpc_error r;
    r.tag = netconf_refusal_tag(w);
    r.message = refusal_text(w);
    r.path = w.at;
    r.app_tag = code_text(w.rc);
    if (!w.error_tag.empty() && !is_netconf_error_tag(w.error_tag)) r.bad_element = w.error_tag;
    return r;
}

rpc_error apply_refused(const yfw_host::apply_error &e) {
    rpc_error r;
    r.tag = e.tag.empty() ? yfw_host::error_tag::operation_failed : e.tag;
    r.message = e.message;
    r.path = e.path;
    r.app_tag = code_text(yfw_host::store_apply_refused);
    return r;
}

rpc_error failure(std::string message) {
    rpc_error r;
    r.tag = yfw_host::error_tag::operation_failed;
    r.message = std::move(message);
    return r;
}

// ---------------------------------------------------------------- routes

// A mapped route as the database keys it.
struct route_key {
    bool ipv4 = true;
    std::string prefix;
    uint32_t length = 0;
    auto operator<=>(const route_key &) const = default;
};

// Routes that may differ between two trees (or between a tree and the
// database); all: any of them.
struct route_set {
    bool all = false;
    std::set<route_key> keys;
    void add(const route_set &o) {
        all = all || o.all;
        if (all)
            keys.clear();
        else
            keys.insert(o.keys.begin(), o.keys.end());
    }
    bool empty() const { return !all && keys.empty(); }
};

// How routes_named reads either kind of edit.
const yfw_host::out_children &kids(const out_node &n) {
    return n.children;
}
yfw_host::data_children kids(const data_node &n) {
    return n.children();
}
std::optional<uint32_t> op_of(const out_node &n) {
    return n.op();
}
std::optional<uint32_t> op_of(const data_node &n) {
    if (n.op == yfw_host::no_operation) return std::nullopt;
    return n.op;
}
std::string_view value_of(const out_node &n) {
    return n.value().value_or(std::string_view());
}
std::string_view value_of(const data_node &n) {
    return n.value();
}

// The routes a native edit (the mapping's or a client's) can change: the
// route entries it names, or all of them when it replaces or removes
// something above the routes.
template <class Node>
void routes_named(const Node &n, route_set &out) {
    const schema_node *s = n.schema;
    if (s->entry == yfw_host::entry_limit::native_route) {
        route_key k;
        k.ipv4 = yfw_host::is_ipv4_route(*s);
        for (const auto *c : kids(n)) {
            if (c->schema->name == "prefix") k.prefix = value_of(*c);
            if (c->schema->name == "prefix-length") {
                std::string_view v = value_of(*c);
                std::from_chars(v.data(), v.data() + v.size(), k.length);
            }
        }
        if (!k.prefix.empty()) out.keys.insert(std::move(k));
        return;
    }
    // Anything else than the routes (an entry of another list, a leaf, a
    // replace or removal above the routes) counts as everything.
    std::optional<uint32_t> op = op_of(n);
    if (s->kind == kind::list ||
        (s->lists_below && op && *op != YFW_OP_NONE && *op != YFW_OP_CREATE)) {
        out.all = true;
        return;
    }
    for (const auto *c : kids(n)) {
        if (c->schema->is_leaf())
            out.all = true;
        else
            routes_named(*c, out);
    }
}

std::array<const char *, 5> route_path(const route_key &k) {
    return {"default-vrf", "address-family", k.ipv4 ? "vrfipv4" : "vrfipv6", "vrf-unicast",
            "vrf-prefixes"};
}

data_node *find_route(const data_tree &t, const route_key &k) {
    const schema_node *s = t.root->schema;
    data_node *n = t.root;
    for (const char *name : route_path(k)) {
        s = s->child(name);
        n = n->child(s);
        if (n == nullptr) return nullptr;
    }
    std::string length = std::to_string(k.length);
    return n->entry(s->child("vrf-prefix"), {k.prefix, length});
}

void copy_node(data_tree &to, data_node &parent, const data_node &from) {
    data_node *n = to.add(&parent, from.schema);
    if (from.schema->is_leaf()) to.set_value(n, from.value());
    for (const data_node *c : from.children()) copy_node(to, *n, *c);
    if (from.schema->kind == kind::list) to.index_entry(n);
}

// Makes route k of `to` what it is in `from`: the same content in its place
// (appended when new), or gone. Returns whether it removed one.
bool copy_route(data_tree &to, const data_tree &from, const route_key &k) {
    const data_node *source = find_route(from, k);
    data_node *target = find_route(to, k);
    if (source == nullptr) {
        if (target != nullptr) to.remove(target);
        return target != nullptr;
    }
    if (target != nullptr) {
        to.clear_content(target);
    } else {
        const schema_node *s = to.root->schema;
        data_node *n = to.root;
        for (const char *name : route_path(k)) {
            s = s->child(name);
            data_node *c = n->child(s);
            n = c != nullptr ? c : to.add(n, s);
        }
        std::string length = std::to_string(k.length);
        target = to.add_entry(n, s->child("vrf-prefix"), {k.prefix, length});
    }
    for (const data_node *c : source->children())
        if (!c->schema->is_key) copy_node(to, *target, *c);
    return false;
}

// Makes the database hold tree's next-hops for these routes.
void refresh_database(const route_set &routes, const data_tree &tree) {
    if (routes.all) {
        platform::sysdb_clear();
        yfw_host::fill_database(*tree.root);
        return;
    }
    for (const route_key &k : routes.keys) {
        yfw_host::erase_route(k.ipv4, k.prefix, k.length);
        if (const data_node *route = find_route(tree, k)) yfw_host::put_route(*route);
    }
}

// ---------------------------------------------------------------- none

// Whether n or something below it has an operation that makes data.
bool creates_below(const data_node &n) {
    std::optional<uint32_t> op = op_of(n);
    if (op && *op != YFW_OP_DELETE && *op != YFW_OP_REMOVE) return true;
    for (const data_node *c : n.children())
        if (creates_below(*c)) return true;
    return false;
}

// default-operation none: the nodes of an edit without an operation of
// their own or above them only lead to the nodes that have one. A leaf
// among them changes nothing and goes (key leaves stay: they name their
// entry); a container or entry among them must exist in base (the target's
// data in the edit's module), unless it leads to something an operation
// makes.
bool lead_only(data_tree &edit, data_node &n, const data_node *base, rpc_error &err) {
    for (data_node *c = n.first; c != nullptr;) {
        data_node *next = c->next;
        const schema_node *s = c->schema;
        if (op_of(*c)) {
            c = next;
            continue;
        }
        if (s->is_leaf()) {
            if (!(s->is_key && n.schema->kind == kind::list)) edit.remove(c);
            c = next;
            continue;
        }
        const data_node *found = nullptr;
        if (base != nullptr) {
            std::vector<std::string_view> keys;
            if (s->kind != kind::list)
                found = base->child(s);
            else if (c->key_values(keys))
                found = base->entry(s, keys);
        }
        if (found == nullptr && !creates_below(*c)) {
            err.tag = yfw_host::error_tag::data_missing;
            err.path = c->path();
            err.message = "with default-operation none, " + err.path +
                          " must exist: nothing in the edit makes it";
            err.bad_element = s->name;
            return false;
        }
        if (!lead_only(edit, *c, found, err)) return false;
        c = next;
    }
    return true;
}

// A subtree filter that selects, in the edit's module, the entries and
// containers that lead_only must find: the nodes without an operation
// and the keys of their entries.
void lead_filter(const data_node &n, std::string &out) {
    out += '<';
    out += n.schema->name;
    if (n.parent == nullptr) out += std::string(" xmlns=\"") + n.schema->ns + '"';
    out += '>';
    for (const data_node *c : n.children()) {
        if (op_of(*c)) continue;
        if (c->schema->is_leaf()) {
            if (!c->schema->is_key) continue;
            out += '<' + c->schema->name + '>';
            yfw_host::xml_escape(out, c->value(), false);
            out += "</" + c->schema->name + '>';
        } else {
            lead_filter(*c, out);
        }
    }
    out += "</" + n.schema->name + '>';
}

// ---------------------------------------------------------------- the store

// The file's identity and change marks: a write elsewhere replaces the
// file (new inode) or at least changes its size or times.
struct file_stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    bool operator==(const file_stamp &o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

file_stamp stamp_of(const std::string &path) {
    struct stat st {};
    file_stamp s;
    if (::stat(path.c_str(), &st) != 0) return s;
    s = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return s;
}

// An answer written with the writers that take a FILE: a memory stream.
class text_stream {
public:
    text_stream() : file_(open_memstream(&data_, &size_)) {}
    ~text_stream() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(data_);
    }
    text_stream(const text_stream &) = delete;
    text_stream &operator=(const text_stream &) = delete;
    std::FILE *file() const { return file_; }
    // Appends what was written to out; false when the stream failed.
    bool append_to(std::string &out) {
        if (file_ == nullptr) return false;
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (ok && data_ != nullptr) out.append(data_, size_);
        return ok;
    }

private:
    char *data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *file_;
};

class store_backend final : public netconf::netconf_backend {
public:
    store_backend(const options &o, yfw_host::plugin plugin)
        : o_(o),
          path_(yfw_host::resolved_store_path(o.store)),
          plugin_(std::move(plugin)),
          running_(data_tree::empty(native_root())) {}

    // Loads the store, filling the database in the same pass. Prints the
    // reason and returns false when it is unusable.
    bool start();

    bool get_data(datastore ds, bool with_state, const content *filter, std::string &out,
                  rpc_error &err) override;
    bool edit_config(datastore ds, const content &config, default_operation op, test_option test,
                     rpc_error &err) override;
    bool copy_config(datastore from, datastore to, rpc_error &err) override;
    bool replace_config(datastore ds, const content &config, rpc_error &err) override;
    bool delete_config(datastore ds, rpc_error &err) override;
    bool validate(datastore ds, rpc_error &err) override;
    bool validate_config(const content &config, rpc_error &err) override;
    bool commit(rpc_error &err) override;
    bool discard_changes(rpc_error &err) override;
    bool candidate_modified() override { return candidate_.has_value(); }

private:
    // Which tree the database mirrors; none: neither (rebuilt when next
    // needed).
    enum class mirror { running, candidate, none };

    // Takes the store's lock and reloads running when the file changed;
    // false with err set when the lock or the new file cannot be had.
    bool begin(std::optional<yfw_host::store_lock> &lock, rpc_error &err);
    bool reload(rpc_error &err);
    const data_tree &tree(datastore ds) const {
        return ds == datastore::candidate && candidate_ ? *candidate_ : running_;
    }
    mirror mirror_of(datastore ds) const {
        return ds == datastore::candidate && candidate_ ? mirror::candidate : mirror::running;
    }
    // Makes the database mirror ds.
    void use_database_of(datastore ds);
    // After running changed under a modified candidate: the candidate takes
    // running's new content but for the routes its own edits changed, so
    // that a commit publishes its changes without undoing anyone else's. A
    // candidate replaced wholesale (a delete-config, a replace, an edit of
    // something beside the routes) stays as it is.
    void rebase_candidate();
    // Writes running's new content and makes it running; false with err
    // set when the write failed (nothing changes then).
    bool write_running(data_tree &next, yfw_host::store_lock &lock, rpc_error &err);

    // Applies content to work (a copy of a datastore's tree, or an empty
    // one for a replace), element by element; touched collects the routes
    // the elements changed, synced those the database was brought in step
    // with for the mapping's lookups.
    bool apply(data_tree &work, const content &config, default_operation op, route_set &touched,
               route_set &synced, rpc_error &err);
    bool apply_oc(std::string text, data_tree &work, default_operation op, route_set &touched,
                  rpc_error &err);
    bool apply_native(const std::string &text, data_tree &work, default_operation op,
                      route_set &touched, rpc_error &err);
    // Everything of the edit, with its outcome: install the result for ds
    // (test_only: drop it) or put the database back.
    bool change(datastore ds, const content &config, default_operation op, test_option test,
                rpc_error &err);

    bool read_oc(const data_tree &t, uint32_t kind, const std::string &filter, std::string &out,
                 rpc_error &err);
    bool read_native(const data_tree &t, const std::string *filter, std::string &out,
                     rpc_error &err);

    options o_;
    std::string path_;  // the store file, links resolved
    yfw_host::plugin plugin_;
    file_stamp stamp_;    // of the file running was last read from or written to
    std::string broken_;  // why the changed store file cannot be used, until it can
    data_tree running_;
    std::optional<data_tree> candidate_;  // none: the candidate is running
    // The routes the candidate's own edits changed (all: it was replaced
    // wholesale): where it differs from running, which it follows elsewhere.
    route_set differ_;
    mirror mirror_ = mirror::none;
};

bool store_backend::start() {
    yfw_host::store_lock lock(path_);
    if (!lock.ok()) {
        print_unusable(lock.error());
        return false;
    }
    // Stamped before reading: a write that lands in between is read again.
    stamp_ = stamp_of(path_);
    auto config = load_store(o_, true);
    if (!config) return false;
    running_ = std::move(*config);
    mirror_ = mirror::running;
    return true;
}

bool store_backend::reload(rpc_error &err) {
    file_stamp now = stamp_of(path_);
    if (now == stamp_ && broken_.empty()) return true;
    if (now == stamp_) {
        err = failure(broken_);
        return false;
    }
    yfw_host::input_error ie;
    platform::sysdb_clear();
    mirror_ = mirror::none;
    yfw_host::route_visitor put = [](const data_node &route) { yfw_host::put_route(route); };
    auto config = yfw_host::read_store(path_, ie, input_limit(o_), put);
    stamp_ = now;
    if (!config) {
        // Nothing is answered from, or written over, a store someone else
        // changed into one that cannot be read, until it is fixed.
        broken_ = "the store file changed and cannot be used: " + ie.text();
        platform::sysdb_clear();
        err = failure(broken_);
        return false;
    }
    broken_.clear();
    running_ = std::move(*config);
    mirror_ = mirror::running;
    rebase_candidate();
    return true;
}

void store_backend::rebase_candidate() {
    if (!candidate_ || differ_.all) return;
    data_tree next = running_.clone();
    bool removed = false;
    for (const route_key &k : differ_.keys) removed = copy_route(next, *candidate_, k) || removed;
    if (removed) yfw_host::prune_empty_containers(next);
    candidate_ = std::move(next);
}

bool store_backend::begin(std::optional<yfw_host::store_lock> &lock, rpc_error &err) {
    lock.emplace(path_);
    if (!lock->ok()) {
        err = failure(lock->error());
        return false;
    }
    return reload(err);
}

void store_backend::use_database_of(datastore ds) {
    mirror want = mirror_of(ds);
    if (mirror_ == want) return;
    if (mirror_ == mirror::none) {
        refresh_database({true, {}}, tree(ds));
    } else {
        refresh_database(differ_, tree(ds));
    }
    mirror_ = want;
}

bool store_backend::write_running(data_tree &next, yfw_host::store_lock &lock, rpc_error &err) {
    yfw_host::apply_error ae;
    if (!yfw_host::write_store(path_, next, lock, ae)) {
        err = failure(ae.message);
        return false;
    }
    stamp_ = stamp_of(path_);
    running_ = std::move(next);
    return true;
}

// ---------------------------------------------------------------- edits

bool store_backend::apply_oc(std::string text, data_tree &work, default_operation op,
                             route_set &touched, rpc_error &err) {
    yfw_host::input_error ie;
    if (op == default_operation::none) {
        // The OpenConfig nodes that must exist are looked up through the
        // read pipeline; the edit without its leaves that change nothing
        // goes on to the mapping.
        auto edit = yfw_host::read_data_document(text, "<config>", oc_root(),
                                                 yfw_host::document_role::edit, ie);
        if (!edit) {
            err = input_refused(ie);
            return false;
        }
        if (!op_of(*edit->root)) {
            std::string filter, answer;
            lead_filter(*edit->root, filter);
            if (!read_oc(work, YFW_REQ_READ_CONFIG, filter, answer, err)) return false;
            std::optional<data_tree> base;
            if (!answer.empty()) {
                base = yfw_host::read_data_document(answer, "(answer)", oc_root(),
                                                    yfw_host::document_role::data, ie);
                if (!base) {
                    err = failure("cannot read back the data the edit leads to: " + ie.text());
                    return false;
                }
            }
            if (!lead_only(*edit, *edit->root, base ? base->root : nullptr, err)) return false;
        }
        text = yfw_host::to_xml(*edit->root, true);
    }
    auto request = yfw_host::read_request_document(text, "<config>", oc_root(),
                                                   yfw_host::document_role::edit, ie);
    if (!request) {
        err = input_refused(ie);
        return false;
    }
    yfw_host::output_tree out;
    out.record_adds(false);
    walk_result r = map_edit(o_, plugin_, *request, out);
    const out_node *doc = r.rc == 0 ? output_document(out, native_root(), r) : nullptr;
    if (doc == nullptr) {
        err = walk_refused(r);
        return false;
    }
    yfw_host::apply_error ae;
    if (!apply_mapped_edit("", work, *doc, *request->root(), plugin_, ae)) {
        err = apply_refused(ae);
        return false;
    }
    routes_named(*doc, touched);
    return true;
}

bool store_backend::apply_native(const std::string &text, data_tree &work, default_operation op,
                                 route_set &touched, rpc_error &err) {
    yfw_host::input_error ie;
    auto edit = yfw_host::read_data_document(text, "<config>", native_root(),
                                             yfw_host::document_role::edit, ie);
    if (!edit) {
        err = input_refused(ie);
        return false;
    }
    if (op == default_operation::none && !op_of(*edit->root) &&
        !lead_only(*edit, *edit->root, work.root, err))
        return false;
    yfw_host::apply_error ae;
    if (!yfw_host::apply_checked("", work, *edit->root, ae)) {
        err = apply_refused(ae);
        return false;
    }
    routes_named(*edit->root, touched);
    return true;
}

bool store_backend::apply(data_tree &work, const content &config, default_operation op,
                          route_set &touched, route_set &synced, rpc_error &err) {
    for (const content_element &e : config) {
        if (e.ns != yfw_host::oc_namespace) {
            if (!apply_native(e.xml, work, op, touched, err)) return false;
            continue;
        }
        // The mapping looks up what the elements before made.
        if (!touched.empty()) {
            refresh_database(touched, work);
            synced.add(touched);
            mirror_ = mirror::none;
        }
        if (!apply_oc(e.xml, work, op, touched, err)) return false;
    }
    return true;
}

bool store_backend::change(datastore ds, const content &config, default_operation op,
                           test_option test, rpc_error &err) {
    std::optional<yfw_host::store_lock> lock;
    if (!begin(lock, err)) return false;
    const bool replace = op == default_operation::replace;
    route_set touched, synced;
    // A replace starts from nothing, and so do the mapping's lookups.
    if (replace) {
        platform::sysdb_clear();
        mirror_ = mirror::none;
        touched.all = synced.all = true;
    } else {
        use_database_of(ds);
    }
    data_tree work = replace ? data_tree::empty(native_root()) : tree(ds).clone();
    bool ok = apply(work, config, op, touched, synced, err);
    const bool keep = ok && test != test_option::test_only;
    if (keep && ds == datastore::running)
        ok = write_running(work, *lock, err);
    else if (keep)
        candidate_ = std::move(work);
    // The database held ds's tree but for the routes synced to the work:
    // it now follows the tree ds has, new or old.
    if (ok && keep) {
        refresh_database(touched, tree(ds));
        if (ds == datastore::candidate)
            differ_.add(touched);
        else
            rebase_candidate();
    } else if (!synced.empty()) {
        refresh_database(synced, tree(ds));
    }
    mirror_ = mirror_of(ds);
    return ok;
}

bool store_backend::edit_config(datastore ds, const content &config, default_operation op,
                                test_option test, rpc_error &err) {
    return change(ds, config, op, test, err);
}

bool store_backend::replace_config(datastore ds, const content &config, rpc_error &err) {
    return change(ds, config, default_operation::replace, test_option::test_then_set, err);
}

bool store_backend::validate_config(const content &config, rpc_error &err) {
    return change(datastore::running, config, default_operation::replace, test_option::test_only,
                  err);
}

bool store_backend::validate(datastore, rpc_error &err) {
    // Every edit of either datastore was checked whole before it was kept,
    // and a store changed outside is checked as it is reloaded.
    std::optional<yfw_host::store_lock> lock;
    return begin(lock, err);
}

bool store_backend::commit(rpc_error &err) {
    std::optional<yfw_host::store_lock> lock;
    if (!begin(lock, err)) return false;
    if (!candidate_) return true;
    if (!write_running(*candidate_, *lock, err)) return false;
    candidate_.reset();
    if (mirror_ == mirror::candidate)
        mirror_ = mirror::running;
    else if (mirror_ == mirror::running)
        refresh_database(differ_, running_);
    differ_ = {};
    return true;
}

bool store_backend::discard_changes(rpc_error &err) {
    std::optional<yfw_host::store_lock> lock;
    if (!begin(lock, err)) return false;
    if (!candidate_) return true;
    use_database_of(datastore::running);
    candidate_.reset();
    differ_ = {};
    return true;
}

bool store_backend::copy_config(datastore from, datastore to, rpc_error &err) {
    if (from == to) return true;
    return to == datastore::running ? commit(err) : discard_changes(err);
}

bool store_backend::delete_config(datastore, rpc_error &err) {
    std::optional<yfw_host::store_lock> lock;
    if (!begin(lock, err)) return false;
    if (mirror_ == mirror::candidate) mirror_ = mirror::none;
    candidate_ = data_tree::empty(native_root());
    differ_.all = true;
    return true;
}

// ---------------------------------------------------------------- reads

bool store_backend::read_oc(const data_tree &t, uint32_t kind, const std::string &filter_text,
                            std::string &out, rpc_error &err) {
    yfw_host::input_error ie;
    auto filter = yfw_host::read_request_document(filter_text, "<filter>", oc_root(),
                                                  yfw_host::document_role::filter, ie);
    if (!filter) {
        err = input_refused(ie);
        return false;
    }
    walk_result r;
    auto data = select_for_read(o_, kind, plugin_, *filter, t, r);
    text_stream answer;
    if (data && answer.file() != nullptr)
        r = write_answer(o_, kind, plugin_.record().native_root_walker, *data, filter->root(),
                         answer.file());
    if (r.rc != 0) {
        err = walk_refused(r);
        return false;
    }
    if (!answer.append_to(out)) {
        err = failure("cannot hold the answer in memory");
        return false;
    }
    return true;
}

// Copies from what a native filter can select: the entries its keys name
// (all entries of a list it names without all keys), whole below a node it
// names without children. apply_subtree_filter then cuts the copy to what
// the filter selects; copying first keeps that work to the entries named.
// A query node asks for its data node whole when it names nothing below
// it, or names a leaf (a content match or a selection, which the filter
// decides on from the whole node).
bool wants_whole(const data_node &q) {
    if (!q.has_children() || q.schema->kind == kind::list) return true;
    for (const data_node *c : q.children())
        if (c->schema->is_leaf()) return true;
    return false;
}

// The key values of a query entry, when every key is given one (a key
// leaf without text selects rather than restricts).
bool valued_keys(const data_node &q, std::vector<std::string_view> &keys) {
    if (!q.key_values(keys)) return false;
    for (std::string_view k : keys)
        if (k.empty()) return false;
    return true;
}

void copy_selected(data_tree &to, data_node &into, const data_node &from, const data_node &query) {
    std::vector<std::string_view> keys;
    for (const data_node *q : query.children()) {
        const schema_node *s = q->schema;
        if (s->is_leaf()) continue;
        auto copy = [&](const data_node &c) {
            if (s->kind == kind::list) {
                // A filter may name one entry twice.
                if (c.key_values(keys) && into.entry(s, keys) == nullptr) copy_node(to, into, c);
            } else if (data_node *have = into.child(s); have == nullptr) {
                if (wants_whole(*q))
                    copy_node(to, into, c);
                else
                    copy_selected(to, *to.add(&into, s), c, *q);
            } else if (!wants_whole(*q)) {
                copy_selected(to, *have, c, *q);  // a container the filter names twice
            }
        };
        if (s->kind == kind::list && valued_keys(*q, keys)) {
            if (const data_node *e = from.entry(s, keys)) copy(*e);
            continue;
        }
        for (const data_node *c : from.children())
            if (c->schema == s) copy(*c);
    }
}

bool store_backend::read_native(const data_tree &t, const std::string *filter_text,
                                std::string &out, rpc_error &err) {
    if (filter_text == nullptr) {
        if (!t.root->has_children()) return true;
        out += yfw_host::to_xml(*t.root, false);
        return true;
    }
    yfw_host::input_error ie;
    auto query = yfw_host::read_data_document(*filter_text, "<filter>", native_root(),
                                              yfw_host::document_role::filter, ie);
    auto filter = query ? yfw_host::read_request_document(*filter_text, "<filter>", native_root(),
                                                          yfw_host::document_role::filter, ie)
                        : std::nullopt;
    if (!filter) {
        err = input_refused(ie);
        return false;
    }
    data_tree copy = data_tree::empty(native_root());
    if (query->root->has_children())
        copy_selected(copy, *copy.root, *t.root, *query->root);
    else
        copy = t.clone();
    yfw_host::apply_subtree_filter(copy, *filter->root());
    if (copy.root->has_children()) out += yfw_host::to_xml(*copy.root, false);
    return true;
}

bool store_backend::get_data(datastore ds, bool with_state, const content *filter, std::string &out,
                             rpc_error &err) {
    std::optional<yfw_host::store_lock> lock;
    if (!begin(lock, err)) return false;
    use_database_of(ds);
    const data_tree &t = tree(ds);
    const uint32_t kind = with_state ? YFW_REQ_READ_STATE : YFW_REQ_READ_CONFIG;
    if (filter == nullptr) {
        const std::string all =
            std::string("<local-routes xmlns=\"") + yfw_host::oc_namespace + "\"/>";
        return read_oc(t, kind, all, out, err) && read_native(t, nullptr, out, err);
    }
    for (const content_element &e : *filter) {
        bool ok = e.ns == yfw_host::oc_namespace ? read_oc(t, kind, e.xml, out, err)
                                                 : read_native(t, &e.xml, out, err);
        if (!ok) return false;
    }
    return true;
}

}  // namespace

int cmd_serve(const options &o, const netconf::server_options &server) {
    auto plugin = load_plugin(o);
    if (!plugin) return exit_unusable;
    store_backend backend(o, std::move(*plugin));
    netconf::server_options with_times = server;
    // For benchmarks (bench/serve): where the server-side time of each RPC
    // goes.
    if (const char *times = std::getenv("OCMAP_RPC_TIMES")) with_times.rpc_times = times;
    return netconf::run_netconf_server(with_times, backend, [&backend] { return backend.start(); });
}

}  // namespace ocmap
