// The NETCONF server: libnetconf2 over libssh, one user, the running and
// candidate datastores behind a netconf_backend.
//
// Threads: a few accept threads, because nc_accept runs the whole SSH and
// <hello> handshake inside the call and one slow client would otherwise
// hold up every other. As many stalled handshakes as there are accept
// threads do hold up new logins until the handshake timeouts end them
// (authentication 20 s, hello 30 s): a bound on the peers this server
// expects, not a defence against a flood of connections. Worker threads that poll the established
// sessions from one pollsession, so a session stuck in the middle of a message only holds its own
// worker. Backend calls are serialized by one mutex; the sessions, locks and counters have a mutex
// of their own, always taken after the backend's when both are needed.
#include "netconf_server.h"

#include <crypt.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libyang/libyang.h>
#include <nc_server.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

#include "netconf_monitoring.h"
#include "yang_schema.h"
#include "yfw_host.h"

namespace yfw_host {
extern const char *const native_yang_text;
extern const char *const oc_yang_text;
}  // namespace yfw_host

namespace ocmap::netconf {

namespace {

constexpr const char *endpoint = "ocmap";
constexpr const char *netconf_module = "ietf-netconf";
constexpr const char *monitoring_module = "ietf-netconf-monitoring";
constexpr int accept_threads = 3;
constexpr int worker_threads = 3;
constexpr int poll_ms = 200;

struct c_free {
    void operator()(void *p) const { std::free(p); }
};
using c_string = std::unique_ptr<char, c_free>;

struct key_free {
    void operator()(ssh_key k) const { ssh_key_free(k); }
};
using key_ptr = std::unique_ptr<ssh_key_struct, key_free>;

void say(const std::string &message) {
    std::cerr << "ocmap: " << message << "\n";
}

// ---------------------------------------------------------------- credentials

struct credentials {
    std::string user;
    std::string password_hash;  // empty: no password login
    std::vector<key_ptr> keys;
};

bool read_text(const std::string &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return !in.bad();
}

std::optional<std::string> load_password_hash(const std::string &path) {
    std::string text;
    if (!read_text(path, text)) {
        say(path + ": cannot read the password file");
        return std::nullopt;
    }
    std::string hash = text.substr(0, text.find('\n'));
    while (!hash.empty() && (hash.back() == '\r' || hash.back() == ' ' || hash.back() == '\t'))
        hash.pop_back();
    int checked = hash.empty() ? CRYPT_SALT_INVALID : crypt_checksalt(hash.c_str());
    if (checked != CRYPT_SALT_OK) {
        say(path +
            (checked == CRYPT_SALT_METHOD_LEGACY
                 ? ": the hash uses a legacy method too weak to accept"
                 : ": the first line is not a crypt(3) hash") +
            " (make one with 'openssl passwd -6')");
        return std::nullopt;
    }
    return hash;
}

// OpenSSH authorized_keys: [options] TYPE BASE64 [comment]. The options
// may hold quoted spaces, so the key is found as the first word that names
// a key type rather than by position.
bool load_authorized_keys(const std::string &path, std::vector<key_ptr> &keys) {
    std::string text;
    if (!read_text(path, text)) {
        say(path + ": cannot read the authorized keys file");
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == '#') continue;
        ssh_keytypes_e type = SSH_KEYTYPE_UNKNOWN;
        do {
            type = ssh_key_type_from_name(word.c_str());
        } while (type == SSH_KEYTYPE_UNKNOWN && words >> word);
        std::string base64;
        bool usable = type == SSH_KEYTYPE_ED25519 || type == SSH_KEYTYPE_RSA ||
                      type == SSH_KEYTYPE_ECDSA_P256 || type == SSH_KEYTYPE_ECDSA_P384 ||
                      type == SSH_KEYTYPE_ECDSA_P521;
        ssh_key key = nullptr;
        if (!usable || !(words >> base64) ||
            ssh_pki_import_pubkey_base64(base64.c_str(), type, &key) != SSH_OK) {
            say(path + ":" + std::to_string(number) +
                ": not an ed25519, ecdsa or rsa public key in OpenSSH form, ignored");
            continue;
        }
        keys.emplace_back(key);
    }
    if (keys.empty()) say(path + ": no usable public key");
    return !keys.empty();
}

bool same_user(const nc_session *s, const credentials &c) {
    const char *user = nc_session_get_username(s);
    return user != nullptr && c.user == user;
}

// A hash's length is no secret; its bytes are compared without an early
// exit.
bool equal_hashes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

int password_auth(const nc_session *s, const char *password, void *data) {
    const auto &c = *static_cast<const credentials *>(data);
    try {
        if (c.password_hash.empty() || !same_user(s, c) || password == nullptr) return 1;
        auto scratch = std::make_unique<crypt_data>();
        const char *hash = crypt_r(password, c.password_hash.c_str(), scratch.get());
        return hash != nullptr && equal_hashes(hash, c.password_hash) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

int pubkey_auth(const nc_session *s, ssh_key key, void *data) {
    const auto &c = *static_cast<const credentials *>(data);
    if (!same_user(s, c)) return 1;
    for (const auto &k : c.keys)
        if (ssh_key_cmp(key, k.get(), SSH_KEY_CMP_PUBLIC) == 0) return 0;
    return 1;
}

// Keyboard-interactive is not offered; without this callback libnetconf2
// would check it against the system's users.
int refuse_interactive(const nc_session *, const ssh_message, void *) {
    return 1;
}

int host_key_path(const char *, void *data, char **privkey_path, char **, NC_SSH_KEY_TYPE *) {
    *privkey_path = strdup(static_cast<const std::string *>(data)->c_str());
    return *privkey_path == nullptr ? 1 : 0;
}

// The host key file, made as a new Ed25519 key readable by its owner only
// when it does not exist yet; O_EXCL so that two servers started together
// never write one file.
bool ensure_host_key(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        ssh_key key = nullptr;
        if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &key) != SSH_OK) {
            say("cannot generate an Ed25519 host key");
            return false;
        }
        key_ptr owned(key);
        char *pem = nullptr;
        if (ssh_pki_export_privkey_base64(key, nullptr, nullptr, nullptr, &pem) != SSH_OK) {
            say("cannot encode the new host key");
            return false;
        }
        c_string text(pem);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            say(path + ": cannot create the host key file: " + std::strerror(errno));
            return false;
        }
        std::size_t size = std::strlen(pem);
        bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, pem, size) == static_cast<ssize_t>(size) &&
                  ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (!ok) {
            ::unlink(path.c_str());
            say(path + ": cannot write the host key file");
            return false;
        }
    }
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK) {
        say(path + ": not a private key libssh can read");
        return false;
    }
    ssh_key_free(key);
    return true;
}

// ---------------------------------------------------------------- helpers

const lyd_node *child_named(const lyd_node *parent, std::string_view name) {
    for (const lyd_node *c = lyd_child(parent); c != nullptr; c = c->next)
        if (name == LYD_NAME(c)) return c;
    return nullptr;
}

const char *value_of(const lyd_node *parent, std::string_view name) {
    const lyd_node *c = child_named(parent, name);
    return c != nullptr ? lyd_get_value(c) : nullptr;
}

// The same as a view, empty when the leaf is absent.
std::string_view text_of(const lyd_node *parent, std::string_view name) {
    const char *v = value_of(parent, name);
    return v != nullptr ? std::string_view(v) : std::string_view();
}

// The name of the datastore leaf (or config anyxml) chosen in a target or
// source container.
std::string_view chosen(const lyd_node *op, std::string_view container) {
    const lyd_node *c = child_named(op, container);
    const lyd_node *choice = c != nullptr ? lyd_child(c) : nullptr;
    return choice != nullptr ? std::string_view(LYD_NAME(choice)) : std::string_view();
}

std::optional<datastore> datastore_named(std::string_view name) {
    if (name == "running") return datastore::running;
    if (name == "candidate") return datastore::candidate;
    return std::nullopt;
}

const char *name_of(datastore ds) {
    return ds == datastore::running ? "running" : "candidate";
}

// The top-level elements of anyxml content (<config>, <filter>) as libyang
// parsed them: data nodes for the loaded modules, opaque nodes otherwise.
const lyd_node *content_of(const lyd_node *any) {
    const auto *a = reinterpret_cast<const lyd_node_any *>(any);
    return a->value_type == LYD_ANYDATA_DATATREE ? a->value.tree : nullptr;
}

// One top-level element as XML text with its namespaces declared. Empty
// containers are kept: printing drops them otherwise, and an empty
// <local-routes/> filter or <static-routes nc:operation="delete"/> would
// silently turn into nothing.
std::string xml_of(const lyd_node *node) {
    char *text = nullptr;
    lyd_print_mem(&text, node, LYD_XML, LYD_PRINT_SHRINK | LYD_PRINT_KEEPEMPTYCONT);
    c_string owned(text);
    return text != nullptr ? text : "";
}

bool is_data_namespace(std::string_view ns) {
    return ns == yfw_host::oc_namespace || ns == yfw_host::native_namespace;
}

NC_ERR error_tag(std::string_view tag) {
    static const std::pair<const char *, NC_ERR> tags[] = {
        {"in-use", NC_ERR_IN_USE},
        {"invalid-value", NC_ERR_INVALID_VALUE},
        {"too-big", NC_ERR_TOO_BIG},
        {"missing-attribute", NC_ERR_MISSING_ATTR},
        {"bad-attribute", NC_ERR_BAD_ATTR},
        {"unknown-attribute", NC_ERR_UNKNOWN_ATTR},
        {"missing-element", NC_ERR_MISSING_ELEM},
        {"bad-element", NC_ERR_BAD_ELEM},
        {"unknown-element", NC_ERR_UNKNOWN_ELEM},
        {"unknown-namespace", NC_ERR_UNKNOWN_NS},
        {"access-denied", NC_ERR_ACCESS_DENIED},
        {"lock-denied", NC_ERR_LOCK_DENIED},
        {"resource-denied", NC_ERR_RES_DENIED},
        {"rollback-failed", NC_ERR_ROLLBACK_FAILED},
        {"data-exists", NC_ERR_DATA_EXISTS},
        {"data-missing", NC_ERR_DATA_MISSING},
        {"operation-not-supported", NC_ERR_OP_NOT_SUPPORTED},
        {"operation-failed", NC_ERR_OP_FAILED},
        {"malformed-message", NC_ERR_MALFORMED_MSG},
    };
    for (const auto &[name, value] : tags)
        if (tag == name) return value;
    return NC_ERR_OP_FAILED;
}

NC_ERR_TYPE error_type(std::string_view type) {
    if (type == "transport") return NC_ERR_TYPE_TRAN;
    if (type == "rpc") return NC_ERR_TYPE_RPC;
    if (type == "protocol") return NC_ERR_TYPE_PROT;
    return NC_ERR_TYPE_APP;
}

// nc_err always writes the error-info children its tag calls for; an empty
// one says nothing, so it goes.
void drop_empty_info(lyd_node *err) {
    lyd_node *info = nullptr;
    for (lyd_node *c = lyd_child(err); c != nullptr; c = c->next)
        if (std::strcmp(LYD_NAME(c), "error-info") == 0) info = c;
    if (info == nullptr) return;
    for (lyd_node *c = lyd_child(info); c != nullptr;) {
        lyd_node *next = c->next;
        const char *v = c->schema == nullptr ? reinterpret_cast<lyd_node_opaq *>(c)->value : "x";
        if (v == nullptr || *v == '\0') lyd_free_tree(c);
        c = next;
    }
    if (lyd_child(info) == nullptr) lyd_free_tree(info);
}

nc_server_reply *error_reply(const ly_ctx *ctx, const rpc_error &e) {
    NC_ERR tag = error_tag(e.tag);
    NC_ERR_TYPE type = error_type(e.type);
    const char *elem = e.bad_element.c_str();
    lyd_node *err = nullptr;
    switch (tag) {
        case NC_ERR_MISSING_ATTR:
        case NC_ERR_BAD_ATTR:
        case NC_ERR_UNKNOWN_ATTR:
            err = nc_err(ctx, tag, type, e.bad_attribute.c_str(), elem);
            break;
        case NC_ERR_MISSING_ELEM:
        case NC_ERR_BAD_ELEM:
        case NC_ERR_UNKNOWN_ELEM: err = nc_err(ctx, tag, type, elem); break;
        case NC_ERR_UNKNOWN_NS: err = nc_err(ctx, tag, type, elem, e.bad_namespace.c_str()); break;
        case NC_ERR_LOCK_DENIED: err = nc_err(ctx, tag, e.session_id.value_or(0)); break;
        case NC_ERR_DATA_EXISTS:
        case NC_ERR_DATA_MISSING:
        case NC_ERR_MALFORMED_MSG: err = nc_err(ctx, tag); break;
        default: err = nc_err(ctx, tag, type); break;
    }
    if (err == nullptr) return nullptr;
    drop_empty_info(err);
    if (!e.message.empty()) nc_err_set_msg(err, e.message.c_str(), "en");
    if (!e.path.empty()) nc_err_set_path(err, e.path.c_str());
    if (!e.app_tag.empty()) nc_err_set_app_tag(err, e.app_tag.c_str());
    if (e.session_id && tag != NC_ERR_LOCK_DENIED) nc_err_set_sid(err, *e.session_id);
    bool names_element = tag == NC_ERR_MISSING_ATTR || tag == NC_ERR_BAD_ATTR ||
                         tag == NC_ERR_UNKNOWN_ATTR || tag == NC_ERR_MISSING_ELEM ||
                         tag == NC_ERR_BAD_ELEM || tag == NC_ERR_UNKNOWN_ELEM ||
                         tag == NC_ERR_UNKNOWN_NS;
    if (!names_element && !e.bad_element.empty()) nc_err_add_bad_elem(err, elem);
    return nc_server_reply_err(err);
}

rpc_error protocol_error(const char *tag, std::string message) {
    rpc_error e;
    e.type = "protocol";
    e.tag = tag;
    e.message = std::move(message);
    return e;
}

// The first "quoted" name in a libyang message, which names the node it is
// about.
std::string quoted_name(const char *msg) {
    std::string_view m = msg != nullptr ? msg : "";
    std::size_t b = m.find('"');
    std::size_t e = b == std::string_view::npos ? b : m.find('"', b + 1);
    return e == std::string_view::npos ? std::string() : std::string(m.substr(b + 1, e - b - 1));
}

// The answer to an RPC libyang parsed but does not accept (a mandatory
// parameter missing, a value of the wrong type).
rpc_error invalid_input(const ly_ctx *ctx) {
    const ly_err_item *item = ly_err_last(ctx);
    std::string msg = item != nullptr && item->msg != nullptr ? item->msg : "invalid RPC input";
    bool missing =
        msg.rfind("Mandatory", 0) == 0 || (item != nullptr && item->apptag != nullptr &&
                                           std::strcmp(item->apptag, "missing-choice") == 0);
    rpc_error e = protocol_error(missing ? "missing-element" : "invalid-value", msg);
    e.bad_element = quoted_name(item != nullptr ? item->msg : nullptr);
    return e;
}

nc_server_reply *data_reply(const ly_ctx *ctx, const char *module, const char *rpc,
                            const std::string &content, LYD_ANYDATA_VALUETYPE kind) {
    const lys_module *mod = ly_ctx_get_module_implemented(ctx, module);
    lyd_node *out = nullptr;
    if (mod == nullptr || lyd_new_inner(nullptr, mod, rpc, 0, &out) != LY_SUCCESS) return nullptr;
    if (lyd_new_any(out, nullptr, "data", content.c_str(), 0, kind, 1, nullptr) != LY_SUCCESS) {
        lyd_free_tree(out);
        return nullptr;
    }
    return nc_server_reply_data(out, NC_WD_EXPLICIT, NC_PARAMTYPE_FREE);
}

std::string session_tag(const nc_session *s) {
    uint32_t id = s != nullptr ? nc_session_get_id(s) : 0;
    return id != 0 ? "session " + std::to_string(id) + ": " : "";
}

std::atomic<bool> verbose_log{false};

void print_libnetconf2(const nc_session *s, NC_VERB_LEVEL level, const char *msg) {
    if (level > NC_VERB_WARNING && !verbose_log) return;
    try {
        std::fprintf(stderr, "ocmap: netconf: %s%s\n", session_tag(s).c_str(), msg);
    } catch (...) {
        // nothing may leave a C callback; a lost log line is the lesser harm
    }
}

// ---------------------------------------------------------------- signals

std::atomic<int> signal_pipe{-1};

void on_stop_signal(int) {
    int saved = errno;
    int fd = signal_pipe.load();
    if (fd >= 0) {
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    }
    errno = saved;
}

// Catches SIGTERM and SIGINT into a pipe for as long as it lives, whichever
// thread the kernel hands them to, and ignores SIGPIPE (a client that goes
// away mid-reply must not end the server).
class stop_signals {
public:
    stop_signals() {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) return;
        signal_pipe = fds_[1];
        struct sigaction sa {};
        sa.sa_handler = on_stop_signal;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGTERM, &sa, &old_term_);
        ::sigaction(SIGINT, &sa, &old_int_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &old_pipe_);
        ok_ = true;
    }
    ~stop_signals() {
        if (ok_) {
            ::sigaction(SIGTERM, &old_term_, nullptr);
            ::sigaction(SIGINT, &old_int_, nullptr);
            ::sigaction(SIGPIPE, &old_pipe_, nullptr);
            signal_pipe = -1;
        }
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    stop_signals(const stop_signals &) = delete;
    stop_signals &operator=(const stop_signals &) = delete;
    bool ok() const { return ok_; }
    void wait() const { (void)poll_for(-1); }
    // Whether a signal came already (during the store's load, say).
    bool raised() const { return poll_for(0); }

private:
    bool poll_for(int ms) const {
        pollfd p{fds_[0], POLLIN, 0};
        int n;
        while ((n = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
        }
        return n > 0;
    }
    int fds_[2] = {-1, -1};
    bool ok_ = false;
    struct sigaction old_term_ {};
    struct sigaction old_int_ {};
    struct sigaction old_pipe_ {};
};

// Threads of the server take no stop signals, so that the one waiting for
// them gets them.
std::thread masked_thread(std::function<void()> body) {
    sigset_t stop, old;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    std::thread t(std::move(body));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return t;
}

// Connections on our port that are still in their SSH or <hello>
// handshake live inside nc_accept, out of our reach; shutting their sockets
// down makes it return at once instead of after its timeouts.
void shut_down_handshakes(uint16_t port) {
    DIR *dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return;
    while (const dirent *e = ::readdir(dir)) {
        int fd = std::atoi(e->d_name);
        if (fd <= 2 || fd == ::dirfd(dir)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t len = sizeof local, plen = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) != 0 ||
            ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &plen) != 0)
            continue;
        uint16_t p = local.ss_family == AF_INET
                         ? ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port)
                     : local.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port)
                         : 0;
        if (p == port) ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(dir);
}

// ---------------------------------------------------------------- the server

class server;
std::atomic<server *> active_server{nullptr};
// The RPC this thread's nc_ps_poll is answering, and how long making its
// reply took, for the timing lines.
thread_local std::string rpc_name;
thread_local std::chrono::microseconds rpc_answer{0};

nc_server_reply *rpc_entry(lyd_node *rpc, nc_session *s);

class server {
public:
    server(const server_options &o, netconf_backend &backend, ly_ctx *ctx, ly_ctx *schemas)
        : options_(o), backend_(backend), ctx_(ctx), schemas_(schemas) {}

    int run(const stop_signals &signals);
    nc_server_reply *dispatch(lyd_node *rpc, nc_session *s);

private:
    struct session_info {
        nc_session *session = nullptr;
        monitoring_snapshot::session stats;  // what netconf-state shows of it
    };
    struct lock_state {
        uint32_t holder = 0;
        std::time_t since = 0;
    };

    void accept_loop();
    void worker_loop();
    void add_session(nc_session *s);
    void end_session(nc_session *s, bool dropped);
    // Releases the locks id holds (only the one of `only` when given).
    void release_locks(uint32_t id, std::optional<datastore> only = std::nullopt);

    // Runs one backend call with the backend lock held; an exception
    // becomes operation-failed.
    template <class F>
    bool call(rpc_error &err, F &&f) {
        try {
            return f();
        } catch (const std::exception &e) {
            err = rpc_error{};
            err.tag = "operation-failed";
            err.message = e.what();
        } catch (...) {
            err = rpc_error{};
            err.tag = "operation-failed";
            err.message = "the datastore failed";
        }
        return false;
    }
    nc_server_reply *finish(bool ok, const rpc_error &err) {
        return ok ? nc_server_reply_ok() : error_reply(ctx_, err);
    }
    // in-use when another session holds the lock of ds; state lock held.
    bool locked_by_other(datastore ds, uint32_t sid, rpc_error &err) const;

    nc_server_reply *get(const lyd_node *op, bool with_state);
    nc_server_reply *edit_config(const lyd_node *op, uint32_t sid);
    nc_server_reply *copy_config(const lyd_node *op, uint32_t sid);
    nc_server_reply *delete_config(const lyd_node *op, uint32_t sid);
    nc_server_reply *lock(const lyd_node *op, uint32_t sid);
    nc_server_reply *unlock(const lyd_node *op, uint32_t sid);
    nc_server_reply *commit(uint32_t sid);
    nc_server_reply *discard_changes(uint32_t sid);
    nc_server_reply *validate(const lyd_node *op);
    nc_server_reply *kill_session(const lyd_node *op, uint32_t sid);
    nc_server_reply *get_schema(const lyd_node *op);

    // Splits <config> content by namespace into backend text; anything
    // outside the two data modules is unknown-namespace.
    bool config_content(const lyd_node *any, content &config, rpc_error &err) const;
    monitoring_snapshot snapshot();

    const server_options &options_;
    netconf_backend &backend_;
    ly_ctx *ctx_;      // libnetconf2's: the protocol modules only
    ly_ctx *schemas_;  // every module the server has, for get-schema and monitoring
    nc_pollsession *ps_ = nullptr;

    std::mutex backend_mutex_;
    mutable std::mutex state_mutex_;
    std::condition_variable sessions_changed_;
    std::map<uint32_t, session_info> sessions_;
    lock_state locks_[2];
    monitoring_snapshot::counters stats_;
    std::vector<std::string> capabilities_;
    bool closed_ = false;  // no more sessions are taken
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepting_{0};
    std::FILE *rpc_times_ = nullptr;  // options_.rpc_times, line-buffered
};

std::size_t slot(datastore ds) {
    return ds == datastore::running ? 0 : 1;
}

// ---------------------------------------------------------------- sessions

void server::add_session(nc_session *s) {
    {
        std::lock_guard g(state_mutex_);
        if (!closed_) {
            session_info &info = sessions_[nc_session_get_id(s)];
            info.session = s;
            const char *user = nc_session_get_username(s);
            const char *host = nc_session_get_host(s);
            info.stats.id = nc_session_get_id(s);
            info.stats.user = user != nullptr ? user : "";
            info.stats.host = host != nullptr ? host : "";
            info.stats.login = std::time(nullptr);
            ++stats_.in_sessions;
            nc_ps_add_session(ps_, s);
            sessions_changed_.notify_all();
            return;
        }
    }
    nc_session_free(s, nullptr);
}

// Locks die with their session (close, kill, a dropped connection); a
// candidate abandoned under a lock loses its uncommitted changes, as it
// would by <unlock>.
void server::release_locks(uint32_t id, std::optional<datastore> only) {
    std::lock_guard b(backend_mutex_);
    bool candidate = false;
    {
        std::lock_guard g(state_mutex_);
        for (std::size_t i = 0; i < 2; ++i) {
            if (locks_[i].holder != id || (only && slot(*only) != i)) continue;
            locks_[i] = {};
            candidate = candidate || i == slot(datastore::candidate);
        }
    }
    if (!candidate) return;
    rpc_error err;
    bool ok =
        call(err, [&] { return !backend_.candidate_modified() || backend_.discard_changes(err); });
    if (!ok) say("discarding the candidate of session " + std::to_string(id) + ": " + err.message);
}

void server::end_session(nc_session *s, bool dropped) {
    uint32_t id = nc_session_get_id(s);
    nc_ps_del_session(ps_, s);
    release_locks(id);
    {
        std::lock_guard g(state_mutex_);
        sessions_.erase(id);
        if (dropped) ++stats_.dropped_sessions;
    }
    nc_session_free(s, nullptr);
}

void server::accept_loop() {
    while (!stopping_) {
        nc_session *s = nullptr;
        NC_MSG_TYPE m = nc_accept(poll_ms, &s);
        if (m == NC_MSG_HELLO && s != nullptr) {
            add_session(s);
        } else if (m == NC_MSG_BAD_HELLO) {
            std::lock_guard g(state_mutex_);
            ++stats_.in_bad_hellos;
        } else if (m == NC_MSG_ERROR) {
            // A failed handshake, or the listening socket failing: do not
            // spin on the latter.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    nc_thread_destroy();
    --accepting_;
}

void server::worker_loop() {
    // nc_ps_poll waits for a timeout by polling every session every 100
    // microseconds, which keeps a core busy with one idle client; polling
    // without a timeout and sleeping here costs a little latency instead.
    // A client's next RPC usually follows its last reply within
    // milliseconds, so for a while after an RPC the sleeps are short; then
    // they grow, up to idle_max while nothing happens.
    using clock = std::chrono::steady_clock;
    constexpr auto idle_max = std::chrono::milliseconds(8);
    constexpr auto hot = std::chrono::milliseconds(50);
    constexpr auto hot_step = std::chrono::microseconds(50);
    std::chrono::microseconds idle{0};
    clock::time_point last_event = clock::now() - hot;
    while (!stopping_) {
        {
            std::unique_lock g(state_mutex_);
            sessions_changed_.wait_for(g, std::chrono::milliseconds(poll_ms),
                                       [this] { return stopping_ || !sessions_.empty(); });
            if (stopping_) break;
            if (sessions_.empty()) continue;
        }
        nc_session *s = nullptr;
        clock::time_point polled = clock::now();
        int r = nc_ps_poll(ps_, 0, &s);
        if (s == nullptr) {
            if (polled - last_event < hot) {
                std::this_thread::sleep_for(hot_step);
                continue;
            }
            idle = std::min<std::chrono::microseconds>(idle_max,
                                                       idle * 2 + std::chrono::microseconds(250));
            std::this_thread::sleep_for(idle);
            continue;
        }
        last_event = clock::now();
        if ((r & NC_PSPOLL_RPC) && rpc_times_ != nullptr) {
            auto total = std::chrono::duration_cast<std::chrono::microseconds>(last_event - polled);
            std::fprintf(
                rpc_times_, "%s %lld %lld\n", rpc_name.empty() ? "(refused)" : rpc_name.c_str(),
                static_cast<long long>(total.count()), static_cast<long long>(rpc_answer.count()));
        }
        rpc_name.clear();
        rpc_answer = {};
        idle = {};
        if (r & (NC_PSPOLL_BAD_RPC | NC_PSPOLL_REPLY_ERROR)) {
            std::lock_guard g(state_mutex_);
            auto it = sessions_.find(nc_session_get_id(s));
            if (r & NC_PSPOLL_BAD_RPC) {
                ++stats_.in_bad_rpcs;
                if (it != sessions_.end()) ++it->second.stats.in_bad_rpcs;
            }
            if (r & NC_PSPOLL_REPLY_ERROR) {
                ++stats_.out_rpc_errors;
                if (it != sessions_.end()) ++it->second.stats.out_rpc_errors;
            }
        }
        if (r & NC_PSPOLL_SSH_CHANNEL) {
            nc_session *extra = nullptr;
            if (nc_ps_accept_ssh_channel(ps_, &extra) == NC_MSG_HELLO) add_session(extra);
        }
        if (r & NC_PSPOLL_SESSION_TERM) end_session(s, (r & NC_PSPOLL_SESSION_ERROR) != 0);
    }
    nc_thread_destroy();
}

monitoring_snapshot server::snapshot() {
    monitoring_snapshot m;
    m.capabilities = capabilities_;
    std::lock_guard g(state_mutex_);
    for (datastore ds : {datastore::running, datastore::candidate}) {
        const lock_state &l = locks_[slot(ds)];
        m.locks.push_back({name_of(ds), l.holder, l.since});
    }
    for (const auto &entry : sessions_) m.sessions.push_back(entry.second.stats);
    m.stats = stats_;
    return m;
}

// ---------------------------------------------------------------- operations

nc_server_reply *rpc_entry(lyd_node *rpc, nc_session *s) {
    server *srv = active_server.load();
    if (srv == nullptr) return nullptr;  // libnetconf2 answers operation-failed
    try {
        auto started = std::chrono::steady_clock::now();
        nc_server_reply *reply = srv->dispatch(rpc, s);
        rpc_answer = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        return reply;
    } catch (...) {
        rpc_error e;
        e.tag = "operation-failed";
        e.message = "internal error";
        return error_reply(nc_session_get_ctx(s), e);
    }
}

nc_server_reply *server::dispatch(lyd_node *rpc, nc_session *s) {
    uint32_t sid = nc_session_get_id(s);
    {
        std::lock_guard g(state_mutex_);
        ++stats_.in_rpcs;
        auto it = sessions_.find(sid);
        if (it != sessions_.end()) ++it->second.stats.in_rpcs;
    }
    // libnetconf2 only parses the RPC: mandatory parameters and the like
    // are checked here.
    if (lyd_validate_op(rpc, nullptr, LYD_TYPE_RPC_YANG, nullptr) != LY_SUCCESS)
        return error_reply(ctx_, invalid_input(ctx_));

    std::string_view name = LYD_NAME(rpc);
    std::string_view module = rpc->schema->module->name;
    rpc_name = name;
    if (module == monitoring_module && name == "get-schema") return get_schema(rpc);
    if (module == netconf_module) {
        if (name == "get") return get(rpc, true);
        if (name == "get-config") return get(rpc, false);
        if (name == "edit-config") return edit_config(rpc, sid);
        if (name == "copy-config") return copy_config(rpc, sid);
        if (name == "delete-config") return delete_config(rpc, sid);
        if (name == "lock") return lock(rpc, sid);
        if (name == "unlock") return unlock(rpc, sid);
        if (name == "commit") return commit(sid);
        if (name == "discard-changes") return discard_changes(sid);
        if (name == "validate") return validate(rpc);
        if (name == "kill-session") return kill_session(rpc, sid);
        if (name == "close-session") {
            // The locks go before the reply (RFC 6241 7.8), not when a
            // worker gets round to ending the session.
            release_locks(sid);
            nc_session_set_term_reason(s, NC_SESSION_TERM_CLOSED);
            return nc_server_reply_ok();
        }
    }
    rpc_error e = protocol_error("operation-not-supported",
                                 "<" + std::string(name) + "> is not supported by this server");
    return error_reply(ctx_, e);
}

bool server::locked_by_other(datastore ds, uint32_t sid, rpc_error &err) const {
    uint32_t holder = locks_[slot(ds)].holder;
    if (holder == 0 || holder == sid) return false;
    err = protocol_error("in-use", std::string("the ") + name_of(ds) +
                                       " datastore is locked by session " + std::to_string(holder));
    return true;
}

bool server::config_content(const lyd_node *any, content &config, rpc_error &err) const {
    // Content libyang did not parse into nodes is text (or nothing): a
    // <config> of text alone is no configuration, and taking it for an
    // empty one would let a replace wipe the datastore.
    const auto *a = reinterpret_cast<const lyd_node_any *>(any);
    if (a->value_type != LYD_ANYDATA_DATATREE && a->value.str != nullptr &&
        a->value_type != LYD_ANYDATA_LYB &&
        std::string_view(a->value.str).find_first_not_of(" \t\r\n") != std::string_view::npos) {
        err = protocol_error("invalid-value", std::string("<") + LYD_NAME(any) +
                                                  "> holds text, not configuration data");
        err.type = "application";
        err.bad_element = LYD_NAME(any);
        return false;
    }
    for (const lyd_node *top = content_of(any); top != nullptr; top = top->next) {
        const char *ns = node_namespace(top);
        if (!is_data_namespace(ns)) {
            err = protocol_error("unknown-namespace", std::string("<") + LYD_NAME(top) +
                                                          "> is in a namespace this server "
                                                          "does not know: \"" +
                                                          ns + "\"");
            err.type = "application";
            err.bad_element = LYD_NAME(top);
            err.bad_namespace = ns;
            return false;
        }
        config.push_back({ns, xml_of(top)});
    }
    return true;
}

nc_server_reply *server::get(const lyd_node *op, bool with_state) {
    datastore ds = datastore_named(chosen(op, "source")).value_or(datastore::running);
    const lyd_node *filter = child_named(op, "filter");
    // The two data modules' parts of a subtree filter go to the backend,
    // the monitoring ones are answered here, and an element in any other
    // namespace selects nothing (RFC 6241 6.2.1).
    content backend_filter;
    std::vector<const lyd_node *> monitoring_filter;
    if (filter != nullptr) {
        for (const lyd_meta *m = filter->meta; m != nullptr; m = m->next) {
            if (std::strcmp(m->name, "type") == 0 &&
                std::strcmp(lyd_get_meta_value(m), "xpath") == 0)
                return error_reply(ctx_, protocol_error("operation-not-supported",
                                                        "only subtree filters are supported"));
        }
        for (const lyd_node *top = content_of(filter); top != nullptr; top = top->next) {
            std::string_view ns = node_namespace(top);
            if (is_data_namespace(ns))
                backend_filter.push_back({std::string(ns), xml_of(top)});
            else
                monitoring_filter.push_back(top);
        }
    }

    std::string data;
    if (filter == nullptr || !backend_filter.empty()) {
        rpc_error err;
        std::lock_guard b(backend_mutex_);
        bool ok = call(err, [&] {
            return backend_.get_data(ds, with_state, filter != nullptr ? &backend_filter : nullptr,
                                     data, err);
        });
        if (!ok) return error_reply(ctx_, err);
    }
    // netconf-state and the YANG library are state data.
    if (with_state && (filter == nullptr || !monitoring_filter.empty()))
        data +=
            monitoring_xml(schemas_, snapshot(), filter != nullptr ? &monitoring_filter : nullptr);
    return data_reply(ctx_, netconf_module, LYD_NAME(op), data, LYD_ANYDATA_XML);
}

nc_server_reply *server::edit_config(const lyd_node *op, uint32_t sid) {
    datastore ds = datastore_named(chosen(op, "target")).value_or(datastore::running);
    std::string_view dop = text_of(op, "default-operation");
    default_operation operation = dop == "replace" ? default_operation::replace
                                  : dop == "none"  ? default_operation::none
                                                   : default_operation::merge;
    std::string_view test = text_of(op, "test-option");
    test_option testing = test == "set"         ? test_option::set
                          : test == "test-only" ? test_option::test_only
                                                : test_option::test_then_set;
    // error-option is not looked at: the backend applies an edit whole or
    // not at all, so stop-on-error and continue-on-error behave as
    // rollback-on-error.
    content config;
    rpc_error err;
    const lyd_node *any = child_named(op, "config");
    if (any != nullptr && !config_content(any, config, err)) return error_reply(ctx_, err);

    std::lock_guard b(backend_mutex_);
    {
        std::lock_guard g(state_mutex_);
        if (locked_by_other(ds, sid, err)) return error_reply(ctx_, err);
    }
    return finish(
        call(err, [&] { return backend_.edit_config(ds, config, operation, testing, err); }), err);
}

nc_server_reply *server::copy_config(const lyd_node *op, uint32_t sid) {
    std::optional<datastore> to = datastore_named(chosen(op, "target"));
    std::string_view source = chosen(op, "source");
    std::optional<datastore> from = datastore_named(source);
    rpc_error err;
    if (!to || (!from && source != "config"))
        return error_reply(ctx_, protocol_error("operation-not-supported",
                                                "copy-config copies between running, candidate "
                                                "and inline <config> only"));
    if (from == to) {
        rpc_error same = protocol_error(
            "invalid-value", std::string("copy-config from ") + name_of(*to) + " to itself");
        same.type = "application";
        return error_reply(ctx_, same);
    }
    content config;
    if (!from && !config_content(child_named(child_named(op, "source"), "config"), config, err))
        return error_reply(ctx_, err);

    std::lock_guard b(backend_mutex_);
    {
        std::lock_guard g(state_mutex_);
        // Candidate to running is a commit (the candidate is then running
        // again, no longer modified): it is refused as commit is, when
        // another session holds either lock.
        if (locked_by_other(*to, sid, err) ||
            (from == datastore::candidate && locked_by_other(*from, sid, err)))
            return error_reply(ctx_, err);
    }
    return finish(call(err,
                       [&] {
                           return from ? backend_.copy_config(*from, *to, err)
                                       : backend_.replace_config(*to, config, err);
                       }),
                  err);
}

nc_server_reply *server::delete_config(const lyd_node *op, uint32_t sid) {
    // The module lets only the candidate through as a target (see
    // load_netconf_module); startup and url are features this server does
    // not have.
    std::optional<datastore> ds = datastore_named(chosen(op, "target"));
    if (ds != datastore::candidate)
        return error_reply(
            ctx_, protocol_error("operation-not-supported", "only the candidate can be deleted"));
    rpc_error err;
    std::lock_guard b(backend_mutex_);
    {
        std::lock_guard g(state_mutex_);
        if (locked_by_other(*ds, sid, err)) return error_reply(ctx_, err);
    }
    return finish(call(err, [&] { return backend_.delete_config(*ds, err); }), err);
}

nc_server_reply *server::lock(const lyd_node *op, uint32_t sid) {
    std::optional<datastore> ds = datastore_named(chosen(op, "target"));
    if (!ds)
        return error_reply(ctx_, protocol_error("operation-not-supported",
                                                "only running and candidate can be locked"));
    std::lock_guard b(backend_mutex_);
    rpc_error err;
    uint32_t holder = 0;
    {
        std::lock_guard g(state_mutex_);
        holder = locks_[slot(*ds)].holder;
    }
    if (holder != 0) {
        err = protocol_error("lock-denied", std::string("the ") + name_of(*ds) +
                                                " datastore is already locked by session " +
                                                std::to_string(holder));
        err.session_id = holder;
        return error_reply(ctx_, err);
    }
    // RFC 6241 8.3.5.1: the candidate cannot be locked while it holds
    // changes nobody committed or discarded.
    bool modified = false;
    if (*ds == datastore::candidate && !call(err, [&] {
            modified = backend_.candidate_modified();
            return true;
        }))
        return error_reply(ctx_, err);
    if (modified) {
        err = protocol_error("lock-denied",
                             "the candidate has uncommitted changes; commit or discard them first");
        err.session_id = 0;
        return error_reply(ctx_, err);
    }
    std::lock_guard g(state_mutex_);
    locks_[slot(*ds)] = {sid, std::time(nullptr)};
    return nc_server_reply_ok();
}

nc_server_reply *server::unlock(const lyd_node *op, uint32_t sid) {
    std::optional<datastore> ds = datastore_named(chosen(op, "target"));
    if (!ds)
        return error_reply(ctx_, protocol_error("operation-not-supported",
                                                "only running and candidate can be locked"));
    {
        std::lock_guard g(state_mutex_);
        uint32_t holder = locks_[slot(*ds)].holder;
        if (holder != sid)
            return error_reply(
                ctx_,
                protocol_error("operation-failed",
                               std::string("the ") + name_of(*ds) + " datastore is " +
                                   (holder == 0 ? std::string("not locked")
                                                : "locked by session " + std::to_string(holder))));
    }
    release_locks(sid, *ds);
    return nc_server_reply_ok();
}

nc_server_reply *server::commit(uint32_t sid) {
    rpc_error err;
    std::lock_guard b(backend_mutex_);
    {
        std::lock_guard g(state_mutex_);
        if (locked_by_other(datastore::running, sid, err) ||
            locked_by_other(datastore::candidate, sid, err))
            return error_reply(ctx_, err);
    }
    return finish(call(err, [&] { return backend_.commit(err); }), err);
}

nc_server_reply *server::discard_changes(uint32_t sid) {
    rpc_error err;
    std::lock_guard b(backend_mutex_);
    {
        std::lock_guard g(state_mutex_);
        if (locked_by_other(datastore::candidate, sid, err)) return error_reply(ctx_, err);
    }
    return finish(call(err, [&] { return backend_.discard_changes(err); }), err);
}

nc_server_reply *server::validate(const lyd_node *op) {
    std::string_view source = chosen(op, "source");
    std::optional<datastore> ds = datastore_named(source);
    rpc_error err;
    if (!ds && source != "config")
        return error_reply(ctx_, protocol_error("operation-not-supported",
                                                "validate takes running, candidate or <config>"));
    content config;
    if (!ds && !config_content(child_named(child_named(op, "source"), "config"), config, err))
        return error_reply(ctx_, err);
    std::lock_guard b(backend_mutex_);
    return finish(call(err,
                       [&] {
                           return ds ? backend_.validate(*ds, err)
                                     : backend_.validate_config(config, err);
                       }),
                  err);
}

nc_server_reply *server::kill_session(const lyd_node *op, uint32_t sid) {
    const char *value = value_of(op, "session-id");
    uint32_t victim =
        value != nullptr ? static_cast<uint32_t>(std::strtoul(value, nullptr, 10)) : 0;
    rpc_error err = protocol_error("invalid-value", "");
    err.bad_element = "session-id";
    if (victim == sid) {
        err.message = "a session cannot kill itself; use <close-session>";
        return error_reply(ctx_, err);
    }
    {
        std::lock_guard g(state_mutex_);
        auto it = sessions_.find(victim);
        if (it == sessions_.end()) {
            err.message = "there is no session " + std::to_string(victim);
            return error_reply(ctx_, err);
        }
        // The session is ended by the worker that next polls it, after any
        // RPC it is running; its locks go now, as RFC 6241 7.9 asks.
        nc_session_set_term_reason(it->second.session, NC_SESSION_TERM_KILLED);
        nc_session_set_killed_by(it->second.session, sid);
        nc_session_set_status(it->second.session, NC_STATUS_INVALID);
    }
    release_locks(victim);
    return nc_server_reply_ok();
}

// libnetconf2 2.0's own <get-schema> handler reads freed memory; this one
// also returns the two data modules exactly as written.
nc_server_reply *server::get_schema(const lyd_node *op) {
    std::string identifier =
        value_of(op, "identifier") != nullptr ? value_of(op, "identifier") : "";
    const char *version = value_of(op, "version");
    const char *format = value_of(op, "format");
    if (format != nullptr && std::string_view(format) != "ietf-netconf-monitoring:yang") {
        rpc_error err = protocol_error("invalid-value", "schemas are available in YANG only");
        err.type = "application";
        err.bad_element = "format";
        return error_reply(ctx_, err);
    }
    const lys_module *mod = nullptr;
    if (version != nullptr && *version != '\0') {
        mod = ly_ctx_get_module(schemas_, identifier.c_str(), version);
    } else {
        mod = ly_ctx_get_module_implemented(schemas_, identifier.c_str());
        if (mod == nullptr) mod = ly_ctx_get_module_latest(schemas_, identifier.c_str());
    }
    if (mod == nullptr) {
        // ietf-netconf-monitoring names the tag for a schema it does not have.
        rpc_error err;
        err.tag = "invalid-value";
        err.type = "application";
        err.message = "no schema " + identifier +
                      (version != nullptr && *version != '\0' ? "@" + std::string(version) : "");
        return error_reply(ctx_, err);
    }
    std::string text;
    if (identifier == yfw_host::native_module_name) {
        text = yfw_host::native_yang_text;
    } else if (identifier == yfw_host::oc_module_name) {
        text = yfw_host::oc_yang_text;
    } else {
        char *printed = nullptr;
        lys_print_mem(&printed, mod, LYS_OUT_YANG, 0);
        c_string owned(printed);
        text = printed != nullptr ? printed : "";
    }
    return data_reply(ctx_, monitoring_module, "get-schema", text, LYD_ANYDATA_STRING);
}

// ---------------------------------------------------------------- running

int server::run(const stop_signals &signals) {
    ps_ = nc_ps_new();
    if (ps_ == nullptr) return 2;
    if (!options_.rpc_times.empty()) {
        rpc_times_ = std::fopen(options_.rpc_times.c_str(), "a");
        if (rpc_times_ == nullptr) {
            say(options_.rpc_times + ": cannot open for writing: " + std::strerror(errno));
            nc_ps_free(ps_);
            return 2;
        }
        std::setvbuf(rpc_times_, nullptr, _IOLBF, 0);
    }
    {
        // What <hello> sends: libnetconf2 lists YANG 1.0 modules there.
        const char **caps = nc_server_get_cpblts_version(ctx_, LYS_VERSION_1_0);
        for (std::size_t i = 0; caps != nullptr && caps[i] != nullptr; ++i) {
            capabilities_.emplace_back(caps[i]);
            lydict_remove(ctx_, caps[i]);
        }
        std::free(caps);
    }
    stats_.start = std::time(nullptr);

    if (signals.raised()) {
        // Stopped before it was ready: nothing to serve, nothing to close,
        // and no listening line that would send a client to a server on
        // its way out.
        nc_ps_free(ps_);
        ps_ = nullptr;
        if (rpc_times_ != nullptr) std::fclose(rpc_times_);
        return 0;
    }
    std::vector<std::thread> threads;
    accepting_ = accept_threads;
    for (int i = 0; i < accept_threads; ++i)
        threads.push_back(masked_thread([this] { accept_loop(); }));
    for (int i = 0; i < worker_threads; ++i)
        threads.push_back(masked_thread([this] { worker_loop(); }));
    std::cout << "ocmap: listening on " << options_.listen << ":" << options_.port << std::endl;

    signals.wait();

    stopping_ = true;
    sessions_changed_.notify_all();
    for (std::size_t i = accept_threads; i < threads.size(); ++i) threads[i].join();
    // No worker runs now, so no backend call either; the sessions go, and
    // with them their locks.
    std::vector<uint32_t> ids;
    {
        std::lock_guard g(state_mutex_);
        for (const auto &entry : sessions_) ids.push_back(entry.first);
    }
    for (uint32_t id : ids) release_locks(id);
    {
        std::lock_guard g(state_mutex_);
        closed_ = true;
        sessions_.clear();
        nc_ps_clear(ps_, 1, nullptr);
    }
    while (accepting_ > 0) {
        shut_down_handshakes(options_.port);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int i = 0; i < accept_threads; ++i) threads[i].join();
    nc_ps_free(ps_);
    ps_ = nullptr;
    if (rpc_times_ != nullptr) std::fclose(rpc_times_);
    return 0;
}

struct context_free {
    void operator()(ly_ctx *ctx) const { ly_ctx_destroy(ctx); }
};
using context_ptr = std::unique_ptr<ly_ctx, context_free>;

// RFC 6241 lets <delete-config> delete any datastore but running, yet its
// module lists only startup and url as targets, so a client's
// <delete-config><target><candidate/> would not even parse. The module is
// loaded with the candidate added beside them; the schema <get-schema>
// serves is the one loaded, so it says so.
bool load_netconf_module(ly_ctx *ctx, const std::string &dir, const char **features) {
    std::string text;
    if (!read_text(dir + "/" + netconf_module + "@2011-06-01.yang", text)) return false;
    std::size_t rpc = text.find("rpc delete-config");
    std::size_t startup = rpc == std::string::npos ? rpc : text.find("leaf startup", rpc);
    if (startup != std::string::npos)
        text.insert(startup,
                    "leaf candidate {\n"
                    "            if-feature candidate;\n"
                    "            type empty;\n"
                    "            description\n"
                    "              \"The candidate configuration is the config target.\";\n"
                    "          }\n          ");
    ly_in *in = nullptr;
    if (ly_in_new_memory(text.c_str(), &in) != LY_SUCCESS) return false;
    lys_module *mod = nullptr;
    LY_ERR rc = lys_parse(ctx, in, LYS_IN_YANG, features, &mod);
    ly_in_free(in, 0);
    return rc == LY_SUCCESS;
}

context_ptr protocol_modules(const server_options &o) {
    ly_ctx *ctx = nullptr;
    if (ly_ctx_new(o.yang_dir.c_str(), LY_CTX_DISABLE_SEARCHDIR_CWD, &ctx) != LY_SUCCESS) {
        say("cannot create a libyang context");
        return nullptr;
    }
    context_ptr owned(ctx);
    // The capabilities follow from these features (libnetconf2 reads them):
    // :writable-running, :candidate, :rollback-on-error (every edit is
    // all-or-nothing) and :validate:1.1.
    const char *features[] = {"writable-running", "candidate", "rollback-on-error", "validate",
                              nullptr};
    if (!load_netconf_module(ctx, o.yang_dir, features) ||
        ly_ctx_load_module(ctx, monitoring_module, "2010-10-04", nullptr) == nullptr) {
        say("cannot load ietf-netconf@2011-06-01 and ietf-netconf-monitoring@2010-10-04 from " +
            o.yang_dir + " (Debian package libyuma-base)");
        return nullptr;
    }
    return owned;
}

// The data modules live in a context of their own. In libnetconf2's, the
// content of a <config> or <filter> in their namespaces would be parsed
// into data nodes, and printed back canonical: a prefix with host bits
// set would reach the backend as its network, past the checks that refuse
// it. Without them that content stays opaque, exactly as the client sent
// it, and the backend's own readers see it first.
context_ptr all_modules(const server_options &o) {
    context_ptr ctx = protocol_modules(o);
    if (ctx &&
        (lys_parse_mem(ctx.get(), yfw_host::native_yang_text, LYS_IN_YANG, nullptr) != LY_SUCCESS ||
         lys_parse_mem(ctx.get(), yfw_host::oc_yang_text, LYS_IN_YANG, nullptr) != LY_SUCCESS)) {
        say("cannot load the data modules: " + std::string(ly_errmsg(ctx.get())));
        return nullptr;
    }
    return ctx;
}

// The data modules' capabilities, which libnetconf2 cannot derive from its
// context.
bool advertise_data_modules(ly_ctx *schemas) {
    for (const char *name : {yfw_host::oc_module_name, yfw_host::native_module_name}) {
        const lys_module *m = ly_ctx_get_module_implemented(schemas, name);
        std::string cap = std::string(m->ns) + "?module=" + m->name +
                          (m->revision != nullptr ? std::string("&revision=") + m->revision : "");
        if (nc_server_set_capability(cap.c_str()) != 0) return false;
    }
    return true;
}

// libnetconf2's global state, set up and torn down around one run.
class nc_server_scope {
public:
    explicit nc_server_scope(ly_ctx *ctx) : ok_(nc_server_init(ctx) == 0) {}
    ~nc_server_scope() {
        if (ok_) nc_server_destroy();
    }
    nc_server_scope(const nc_server_scope &) = delete;
    nc_server_scope &operator=(const nc_server_scope &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

}  // namespace

int run_netconf_server(const server_options &o, netconf_backend &backend,
                       const std::function<bool()> &prepare) {
    if (o.user.empty() || o.host_key.empty() ||
        (o.authorized_keys.empty() && o.password_file.empty())) {
        say("serve needs --host-key, --user and --authorized-keys and/or --password-file");
        return 2;
    }
    if (o.port == 0) {
        say("--port must be 1 to 65535");
        return 2;
    }
    credentials creds;
    creds.user = o.user;
    if (!o.password_file.empty()) {
        auto hash = load_password_hash(o.password_file);
        if (!hash) return 2;
        creds.password_hash = std::move(*hash);
    }
    if (!o.authorized_keys.empty() && !load_authorized_keys(o.authorized_keys, creds.keys))
        return 2;
    if (!ensure_host_key(o.host_key)) return 2;

    verbose_log = o.verbose;
    // Clients' malformed RPCs are libyang errors too; they go into the
    // replies, not onto standard error, unless asked for.
    struct log_options {
        uint32_t saved;
        ~log_options() { ly_log_options(saved); }
    } restore{ly_log_options(o.verbose ? LY_LOLOG | LY_LOSTORE_LAST : LY_LOSTORE_LAST)};
    nc_verbosity(o.verbose ? NC_VERB_VERBOSE : NC_VERB_WARNING);
    nc_set_print_clb_session(print_libnetconf2);

    context_ptr ctx = protocol_modules(o);
    context_ptr schemas = ctx ? all_modules(o) : nullptr;
    if (!schemas) return 2;
    stop_signals signals;
    if (!signals.ok()) {
        say("cannot set up the signal pipe");
        return 2;
    }
    nc_server_scope scope(ctx.get());
    if (!scope.ok() || !advertise_data_modules(schemas.get())) {
        say("cannot initialise libnetconf2");
        return 2;
    }
    // Every RPC comes to rpc_entry: get-schema and close-session too, which
    // nc_server_init gave libnetconf2's own handlers.
    nc_set_global_rpc_clb(rpc_entry);
    for (const char *path :
         {"/ietf-netconf-monitoring:get-schema", "/ietf-netconf:close-session"}) {
        auto *rpc = const_cast<lysc_node *>(lys_find_path(ctx.get(), nullptr, path, 0));
        if (rpc != nullptr) rpc->priv = reinterpret_cast<void *>(&rpc_entry);
    }

    std::string host_key = o.host_key;
    nc_server_ssh_set_hostkey_clb(host_key_path, &host_key, nullptr);
    nc_server_ssh_set_passwd_auth_clb(password_auth, &creds, nullptr);
    nc_server_ssh_set_pubkey_auth_clb(pubkey_auth, &creds, nullptr);
    nc_server_ssh_set_interactive_auth_clb(refuse_interactive, nullptr, nullptr);
    int methods = (creds.keys.empty() ? 0 : NC_SSH_AUTH_PUBLICKEY) |
                  (creds.password_hash.empty() ? 0 : NC_SSH_AUTH_PASSWORD);
    // The handshake of one client holds an accept thread: bound it.
    nc_server_set_hello_timeout(30);
    if (nc_server_add_endpt(endpoint, NC_TI_LIBSSH) != 0 ||
        nc_server_ssh_endpt_add_hostkey(endpoint, "host-key", -1) != 0 ||
        nc_server_ssh_endpt_set_auth_methods(endpoint, methods) != 0 ||
        nc_server_ssh_endpt_set_auth_timeout(endpoint, 20) != 0 ||
        nc_server_endpt_set_address(endpoint, o.listen.c_str()) != 0 ||
        nc_server_endpt_set_port(endpoint, o.port) != 0) {
        say("cannot listen on " + o.listen + ":" + std::to_string(o.port));
        return 2;
    }

    if (prepare && !prepare()) return 2;
    server srv(o, backend, ctx.get(), schemas.get());
    active_server = &srv;
    int rc = srv.run(signals);
    active_server = nullptr;
    return rc;
}

}  // namespace ocmap::netconf
