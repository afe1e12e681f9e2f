// The native running configuration file: lock, read, apply, write, select.
#include "running_store.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "document_reader.h"
#include "native_store.h"

namespace yfw_host {

using kind = schema_node::node_kind;

// ------------------------------------------------------------------ files

namespace {

std::string directory_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string failed(const std::string &what, const std::string &file) {
    return file + ": " + what + ": " + std::strerror(errno);
}

std::string temporary_name(const std::string &path) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = path + ".tmp.";
    for (int i = 0; i < 12; ++i) name += letters[random() % (sizeof letters - 1)];
    return name;
}

}  // namespace

std::string resolved_store_path(const std::string &path) {
    std::string at = path;
    // As many links as the kernel follows itself before it gives up.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
        if (n < 0) return at;
        target.resize(static_cast<std::size_t>(n));
        at = target.starts_with("/") ? target : directory_of(at) + "/" + target;
    }
    return at;
}

store_lock::store_lock(const std::string &store_path) {
    std::string path = resolved_store_path(store_path) + ".lock";
    // Not following a link: one planted at the lock's path would otherwise
    // make every writer create or truncate a file of its choosing.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        error_ = errno == ELOOP ? path + ": the lock file is a symbolic link; refusing to follow it"
                                : path + ": cannot open the lock file: " + std::strerror(errno);
        return;
    }
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error_ = path + ": cannot lock: " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

store_lock::~store_lock() {
    // Closing the descriptor releases the lock.
    if (fd_ >= 0) ::close(fd_);
}

void store_lock::record_temporary(const std::string &path) {
    // Losing this record costs only a file left behind, so failures are
    // not errors of the apply.
    if (::ftruncate(fd_, 0) == 0) (void)!::pwrite(fd_, path.data(), path.size(), 0);
}

void store_lock::clear_temporary() {
    (void)!::ftruncate(fd_, 0);
}

void store_lock::remove_stale_temporary() {
    char buf[4096];
    ssize_t n = ::pread(fd_, buf, sizeof buf, 0);
    if (n <= 0) return;
    std::string stale(buf, static_cast<std::size_t>(n));
    // Only a regular file, never through a link: the name is ours, what is
    // there now might not be.
    struct stat st {};
    if (::lstat(stale.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(stale.c_str());
    clear_temporary();
}

std::optional<data_tree> read_store(const std::string &path, input_error &err,
                                    std::uint64_t max_bytes) {
    const schema_node &root = yang_schema::get().native_root();
    err.file = path;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return data_tree::empty(root);
        err.message = std::string("cannot open for reading: ") + std::strerror(errno);
        err.tag = error_tag::operation_failed;
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        err.message = "is not a regular file";
        err.tag = error_tag::operation_failed;
    } else if (static_cast<std::uint64_t>(st.st_size) > max_bytes) {
        err.message = "is larger (" + std::to_string(st.st_size) +
                      " bytes) than the input limit of " + std::to_string(max_bytes) +
                      " bytes (raise it with --max-input)";
        err.tag = error_tag::too_big;
    } else {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < text.size()) {
            ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (got != text.size()) {
            err.message = "cannot read";
            err.tag = error_tag::operation_failed;
        }
    }
    ::close(fd);
    if (!err.message.empty()) return std::nullopt;
    auto config = read_data_document(text, path, root, document_role::data, err);
    // A store that does not load is unusable whatever is wrong with it.
    if (!config && !err.malformed()) err.message = "not a valid configuration: " + err.message;
    return config;
}

std::string write_file_atomically(const std::string &path, const std::string &content,
                                  store_lock &lock) {
    return write_file_atomically(
        path,
        [&content](std::FILE *f) {
            return std::fwrite(content.data(), 1, content.size(), f) == content.size();
        },
        lock);
}

std::string write_file_atomically(const std::string &given_path,
                                  const std::function<bool(std::FILE *)> &write, store_lock &lock) {
    const std::string path = resolved_store_path(given_path);
    lock.remove_stale_temporary();
    // The name is recorded before the file exists, so that a writer killed
    // at any moment leaves nothing the next one does not know of; a name
    // that is taken already is someone else's file and is left alone.
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmp = temporary_name(path);
        lock.record_temporary(tmp);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        std::string error = failed("cannot create a temporary file beside it", path);
        lock.clear_temporary();
        return error;
    }
    std::string error;
    // Keep the store's permissions; a new store gets the usual 0644.
    struct stat st {};
    mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) error = failed("cannot set the mode", tmp);
    std::FILE *f = error.empty() ? ::fdopen(fd, "wb") : nullptr;
    if (error.empty() && f == nullptr) error = failed("cannot open for writing", tmp);
    if (f != nullptr) {
        errno = 0;
        if (!write(f) || std::fflush(f) != 0) error = failed("cannot write", tmp);
    }
    if (error.empty() && ::fsync(fd) != 0) error = failed("cannot flush to disk", tmp);
    // Closing the stream closes the descriptor.
    if ((f != nullptr ? std::fclose(f) : ::close(fd)) != 0 && error.empty())
        error = failed("cannot close", tmp);
    if (error.empty() && ::rename(tmp.c_str(), path.c_str()) != 0)
        error = failed("cannot rename over the store", tmp);
    if (!error.empty()) ::unlink(tmp.c_str());
    lock.clear_temporary();
    if (!error.empty()) return error;
    // The rename is durable only once the directory entry is on disk.
    std::string dir = directory_of(path);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return failed("cannot open the directory to flush it", dir);
    if (::fsync(dfd) != 0) error = failed("cannot flush the directory", dir);
    ::close(dfd);
    return error;
}

// ------------------------------------------------------------------ apply

namespace {

struct applier {
    data_node &config;
    apply_error &err;
    // The operation each edit node was last given by a bound add is kept
    // in the node (out_node::applied_op), cleared when the applier starts.
    // Scratch of apply(), kept across adds: an edit has millions of them.
    std::vector<const out_node *> chain_;
    std::vector<const schema_node *> schemas_;
    std::vector<std::string_view> keys_;

    bool fail(std::string tag, std::string path, std::string message) {
        err.tag = std::move(tag);
        err.path = std::move(path);
        err.message = std::move(message);
        return false;
    }

    static std::optional<std::string_view> key_of(const out_node &entry, const schema_node *key) {
        std::optional<std::string_view> v;
        for (const out_node *c : entry.children)
            if (c->name() == key->name && c->value()) v = c->value();
        return v;
    }

    // The edit node's path with the keys its entries carry.
    static std::string edit_path(const std::vector<const out_node *> &chain,
                                 const std::vector<const schema_node *> &schemas, size_t upto) {
        std::string p;
        for (size_t i = 0; i <= upto && i < chain.size(); ++i) {
            p += '/';
            p += chain[i]->name();
            if (i < schemas.size() && schemas[i] && schemas[i]->kind == kind::list)
                for (const schema_node *k : schemas[i]->keys)
                    if (std::optional<std::string_view> v = key_of(*chain[i], k))
                        p += "[" + k->name + "=" + quoted(*v) + "]";
        }
        return p;
    }

    // The operation an unbound add works under: that of the nearest node
    // on its path an earlier bound add reached.
    std::optional<uint32_t> inherited(const out_node *n) const {
        for (; n; n = n->parent) {
            if (n->applied_op != out_node::no_op) return n->applied_op;
        }
        return std::nullopt;
    }

    // The path of the node an add reaches, built only for an error: every
    // add building it would cost more than applying the add.
    struct lazy_path {
        const std::vector<const out_node *> &chain;
        const std::vector<const schema_node *> &schemas;
        std::string operator()() const { return edit_path(chain, schemas, chain.size() - 1); }
    };

    bool set_value(data_node &leaf, const output_add &a, const lazy_path &path) {
        std::string_view v = a.value ? *a.value : std::string_view();
        std::string why = yang_schema::get().check_value(*leaf.schema, v);
        if (!why.empty())
            return fail(error_tag::invalid_value, path(),
                        "invalid value " + quoted(v) + " of " + path() + ": " + why);
        leaf.value.assign(v);
        return true;
    }

    bool apply(const output_add &a) {
        const out_node *target = a.node;
        if (target == nullptr || target->parent == nullptr) return true;  // the document itself
        std::vector<const out_node *> &chain = chain_;
        chain.clear();
        for (const out_node *n = target; n->parent; n = n->parent) chain.push_back(n);
        std::reverse(chain.begin(), chain.end());

        // Bind the path to the schema first: a path outside it is refused
        // whatever its operation.
        std::vector<const schema_node *> &schemas = schemas_;
        schemas.assign(chain.size(), nullptr);
        const schema_node *s = config.schema;
        for (size_t i = 0; i < chain.size(); ++i) {
            const schema_node *cs =
                i == 0 ? (chain[0]->name() == s->name ? s : nullptr) : s->child(chain[i]->name());
            if (cs == nullptr || (!chain[i]->ns().empty() && chain[i]->ns() != cs->ns))
                return fail("unknown-element", edit_path(chain, schemas, i),
                            "the edit names " + edit_path(chain, schemas, i) +
                                ", which is not in the native schema");
            schemas[i] = s = cs;
        }
        lazy_path path{chain, schemas};

        uint32_t op = YFW_OP_NONE;
        if (a.bound_op) {
            op = *a.bound_op;
            target->applied_op = static_cast<uint8_t>(op);
        } else if (auto up = inherited(target);
                   up && (*up == YFW_OP_DELETE || *up == YFW_OP_REMOVE)) {
            return true;  // names part of what an earlier add deleted
        }
        if (s->is_key && chain.size() > 1 && schemas[chain.size() - 2]->kind == kind::list)
            return true;  // identifies its entry, which the entry's own add handles

        data_node *at = &config;
        for (size_t i = 1; i < chain.size(); ++i) {
            const schema_node *cs = schemas[i];
            std::vector<std::string_view> &keys = keys_;
            keys.clear();
            data_node *found = nullptr;
            if (cs->kind == kind::list) {
                for (const schema_node *k : cs->keys) {
                    std::optional<std::string_view> v = key_of(*chain[i], k);
                    if (!v)
                        return fail("missing-element", edit_path(chain, schemas, i),
                                    "the edit's entry " + edit_path(chain, schemas, i) +
                                        " has no key '" + k->name + "'");
                    std::string why = yang_schema::get().check_value(*k, *v);
                    if (!why.empty())
                        return fail(error_tag::invalid_value, edit_path(chain, schemas, i),
                                    "invalid key value " + quoted(*v) + " of " +
                                        edit_path(chain, schemas, i) + ": " + why);
                    keys.push_back(*v);
                }
                found = at->entry(cs, keys);
            } else if (cs->kind == kind::leaf_list) {
                return fail("unknown-element", path(), "leaf-lists cannot be edited: " + path());
            } else {
                found = at->child(cs);
            }
            bool last = i + 1 == chain.size();
            if (found == nullptr && !last) {
                if (op == YFW_OP_REMOVE) return true;
                if (op == YFW_OP_DELETE)
                    return fail("data-missing", path(),
                                "delete of " + path() + ", which does not exist (" +
                                    edit_path(chain, schemas, i) + " is missing)");
                found = cs->kind == kind::list ? at->add_entry(cs, keys) : at->add(cs);
            }
            if (last) return finish(at, found, cs, keys, op, a, path);
            at = found;
        }
        // The root itself.
        return finish(nullptr, &config, config.schema, {}, op, a, path);
    }

    bool finish(data_node *parent, data_node *found, const schema_node *s,
                const std::vector<std::string_view> &keys, uint32_t op, const output_add &a,
                const lazy_path &path) {
        // The root is there when it holds anything: a missing store file and
        // an empty router-static are the same configuration.
        bool exists = found != nullptr && (parent != nullptr || !found->children.empty());
        auto make = [&]() -> data_node * {
            if (parent == nullptr) return found;
            return s->kind == kind::list ? parent->add_entry(s, keys) : parent->add(s);
        };
        switch (op) {
            case YFW_OP_CREATE:
                if (exists)
                    return fail("data-exists", path(),
                                "create of " + path() + ", which already exists");
                found = make();
                return !s->is_leaf() || set_value(*found, a, path);
            case YFW_OP_DELETE:
                if (!exists)
                    return fail("data-missing", path(),
                                "delete of " + path() + ", which does not exist");
                [[fallthrough]];
            case YFW_OP_REMOVE:
                if (!exists) return true;
                if (parent == nullptr)
                    found->clear_content();
                else
                    parent->remove(found);
                return true;
            case YFW_OP_REPLACE:
                if (exists && !s->is_leaf()) found->clear_content();
                if (!exists) found = make();
                return !s->is_leaf() || set_value(*found, a, path);
            default:  // merge
                if (!exists) found = make();
                if (s->is_leaf() && (a.value || !exists)) return set_value(*found, a, path);
                return true;
        }
    }
};

}  // namespace

namespace {
void clear_applied(const out_node &n) {
    n.applied_op = out_node::no_op;
    for (const out_node *c : n.children) clear_applied(*c);
}
}  // namespace

bool apply_edit(data_node &config, const output_tree &edit, apply_error &err) {
    clear_applied(edit.document());
    applier ap{config, err, {}, {}, {}};
    for (const output_add &a : edit.adds())
        if (!ap.apply(a)) return false;
    return true;
}

namespace {

// The routes (vrf-prefix entries) of config that the edit's adds reached
// and that are still there after it was applied.
std::unordered_set<const data_node *> routes_reached(const data_node &config,
                                                     const output_tree &edit) {
    std::unordered_set<const out_node *> reached;
    for (const output_add &a : edit.adds())
        for (const out_node *n = a.node; n != nullptr && n->parent != nullptr; n = n->parent)
            if (n->name() == "vrf-prefix" && n->parent->name() == "vrf-prefixes") {
                reached.insert(n);
                break;
            }
    std::unordered_set<const data_node *> routes;
    std::vector<const out_node *> chain;
    std::vector<std::string_view> keys;
    for (const out_node *r : reached) {
        chain.clear();
        for (const out_node *n = r; n->parent != nullptr; n = n->parent) chain.push_back(n);
        const data_node *at = chain.back()->name() == config.schema->name ? &config : nullptr;
        for (auto it = chain.rbegin() + 1; at != nullptr && it != chain.rend(); ++it) {
            const schema_node *cs = at->schema->child((*it)->name());
            if (cs == nullptr) {
                at = nullptr;
            } else if (cs->kind == kind::list) {
                keys.clear();
                for (const schema_node *k : cs->keys)
                    if (std::optional<std::string_view> v = applier::key_of(**it, k))
                        keys.push_back(*v);
                at = keys.size() == cs->keys.size() ? at->entry(cs, keys) : nullptr;
            } else {
                at = at->child(cs);
            }
        }
        if (at != nullptr) routes.insert(at);
    }
    return routes;
}

}  // namespace

bool apply_checked(const std::string &name, data_tree &config, const output_tree &edit,
                   apply_error &err) {
    const std::string prefix = name.empty() ? std::string() : name + ": ";
    if (!apply_edit(*config.root, edit, err)) {
        err.message = prefix + err.message;
        return false;
    }
    prune_empty_containers(*config.root);
    // The schema types alone let through values the configuration database
    // cannot hold (a next-hop address that is no address, say). A store that
    // the next run cannot load is worse than a refused edit, so the routes
    // the edit reached must load before the result replaces the old store;
    // the others loaded when the store was read.
    std::string why = check_native_routes(*config.root, routes_reached(*config.root, edit));
    if (!why.empty()) {
        err.tag = error_tag::invalid_value;
        err.message = prefix + "the edit would leave a configuration that cannot be loaded: " + why;
        return false;
    }
    return true;
}

bool commit_edit(const std::string &path, data_tree &config, const output_tree &edit,
                 store_lock &lock, apply_error &err) {
    if (!apply_checked(path, config, edit, err)) return false;
    // Written as it is produced: the text of a large store need not be held
    // whole beside its tree.
    const data_node &root = *config.root;
    err.message = write_file_atomically(
        path, [&root](std::FILE *f) { return write_document(root, doc_format::xml, false, f); },
        lock);
    return err.message.empty();
}

void prune_empty_containers(data_node &root) {
    for (auto &c : root.children)
        if (!c->schema->is_leaf()) prune_empty_containers(*c);
    std::erase_if(root.children, [](const auto &c) {
        return c->schema->kind == kind::container && c->children.empty();
    });
}

// ------------------------------------------------------------------ select

namespace {

// A query node selects its whole subtree when it names nothing below it but
// the keys of its entry. An entry of a list without lists below (a
// next-hop) is selected whole whatever the query names in it: the native
// walk turns the whole entry into one OpenConfig entry, and a filter that
// asks for part of that entry (its index, its config) is answered from the
// whole of it, which the subtree filter then cuts.
bool selects_whole(const data_node &q) {
    if (q.schema->is_leaf()) return true;
    if (q.schema->kind == kind::list && !q.schema->lists_below) return true;
    for (const auto &c : q.children)
        if (!c->schema->is_key) return false;
    return true;
}

}  // namespace

namespace {
std::atomic<uint32_t> last_stamp{0};
}  // namespace

selection::selection(const data_node &config, const data_node &query)
    : config_(config), stamp_(++last_stamp) {
    if (stamp_ == 0) stamp_ = ++last_stamp;  // 0 is every node's "never selected"
    if (query.schema == config.schema) visit(query, config);
}

void selection::set(const data_node &s, mark m) const {
    s.selection_mark = static_cast<uint8_t>(m);
    s.selection_stamp = stamp_;
}

void selection::visit(const data_node &q, const data_node &s) {
    if (selects_whole(q)) {
        set(s, mark::whole);
        return;
    }
    mark m;
    if (!selected(s, m))
        set(s, mark::path);
    else if (m == mark::whole)
        return;
    for (const auto &qc : q.children) {
        const schema_node *cs = qc->schema;
        if (cs->is_key && q.schema->kind == kind::list) continue;  // restricts q, handled above
        if (cs->kind != kind::list) {
            if (const data_node *sc = s.child(cs)) visit(*qc, *sc);
            continue;
        }
        // Entries of the list whose keys match the valued keys of the query.
        std::vector<std::pair<const schema_node *, std::string_view>> want;
        for (const schema_node *k : cs->keys) {
            const data_node *qk = qc->child(k);
            if (qk && !qk->value.empty()) want.emplace_back(k, qk->value);
        }
        if (want.size() == cs->keys.size()) {
            std::vector<std::string_view> keys;
            for (const auto &w : want) keys.push_back(w.second);
            if (const data_node *e = s.entry(cs, keys)) visit(*qc, *e);
            continue;
        }
        for (const auto &sc : s.children) {
            if (sc->schema != cs) continue;
            bool match = true;
            for (const auto &[k, v] : want) {
                const data_node *sk = sc->child(k);
                match = match && sk && sk->value == v;
            }
            if (match) visit(*qc, *sc);
        }
    }
}

bool selection::selected(const data_node &s, mark &m) const {
    if (s.selection_stamp != stamp_ || s.selection_mark == 0) return false;
    m = static_cast<mark>(s.selection_mark);
    return true;
}

namespace {

template <typename Fn>
void for_selected(const data_node &s, bool whole, const Fn &is_selected, data_node &out) {
    out.schema = s.schema;
    out.value = s.value;
    for (const auto &c : s.children) {
        bool child_whole = whole;
        // An entry on a selected path keeps its keys, which name it.
        if (!whole && !is_selected(*c, child_whole) &&
            !(c->schema->is_key && s.schema->kind == kind::list))
            continue;
        auto n = std::make_unique<data_node>();
        n->parent = &out;
        for_selected(*c, whole || child_whole || c->schema->is_key, is_selected, *n);
        out.children.push_back(std::move(n));
    }
}

}  // namespace

data_tree selection::copy() const {
    data_tree t = data_tree::empty(*config_.schema);
    mark m;
    if (!selected(config_, m)) return t;
    auto is_selected = [this](const data_node &n, bool &whole) {
        mark mk;
        if (!selected(n, mk)) return false;
        whole = mk == mark::whole;
        return true;
    };
    for_selected(config_, m == mark::whole, is_selected, *t.root);
    return t;
}

void selection::fill(request_tree &t, const data_node &s, bool whole, yfw_map_node &to) const {
    to = yfw_map_node{};
    to.tag = s.schema->name.c_str();
    to.ns = s.schema->ns;
    if (s.schema->is_leaf()) {
        if (!s.value.empty()) {
            to.value = t.keep(s.value);
            to.flags |= YFW_NODE_HAS_VALUE;
        }
        return;
    }
    // The children copy() would keep, and whether each is selected whole.
    auto take = [&](const data_node &c, bool &child_whole) {
        child_whole = whole;
        if (whole) return true;
        mark m;
        if (selected(c, m)) {
            child_whole = m == mark::whole;
            return true;
        }
        // An entry on a selected path keeps its keys, which name it.
        return c.schema->is_key && s.schema->kind == kind::list;
    };
    bool child_whole = false;
    uint32_t count = 0;
    for (const auto &c : s.children) count += take(*c, child_whole) ? 1 : 0;
    if (count == 0) return;
    yfw_map_node *kids = t.alloc_nodes(count);
    uint32_t i = 0;
    for (const auto &c : s.children)
        if (take(*c, child_whole)) fill(t, *c, child_whole || c->schema->is_key, kids[i++]);
    to.children = kids;
    to.child_count = count;
    to.host_capacity = count;
    to.flags |= YFW_NODE_CHILDREN_VALID;
}

request_tree selection::request() const {
    // The same nodes copy() would give, in the store's order, built straight
    // from the configuration: a data_tree copy first would double what the
    // read costs.
    request_tree r;
    r.root_ = r.alloc_nodes(1);
    mark m;
    if (!selected(config_, m)) {
        *r.root_ = yfw_map_node{};
        r.root_->tag = config_.schema->name.c_str();
        r.root_->ns = config_.schema->ns;
        return r;
    }
    fill(r, config_, m == mark::whole, *r.root_);
    return r;
}

}  // namespace yfw_host
