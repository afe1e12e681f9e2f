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

constexpr char temporary_letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t temporary_suffix = 12;

std::string temporary_name(const std::string &path) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = path + ".tmp.";
    for (std::size_t i = 0; i < temporary_suffix; ++i)
        name += temporary_letters[random() % (sizeof temporary_letters - 1)];
    return name;
}

// Whether a name is one temporary_name gives for the store at path.
bool is_temporary_name(std::string_view name, const std::string &path) {
    std::string_view base = path;
    if (!name.starts_with(base) || !name.substr(base.size()).starts_with(".tmp.")) return false;
    std::string_view suffix = name.substr(base.size() + 5);
    return suffix.size() == temporary_suffix &&
           suffix.find_first_not_of(temporary_letters) == std::string_view::npos;
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
    store_path_ = resolved_store_path(store_path);
    std::string path = store_path_ + ".lock";
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
    // Only a name of ours beside this store, and only a regular file, never
    // through a link: the lock file is writable by whoever can write the
    // directory, and what is there now might not be ours.
    struct stat st {};
    if (is_temporary_name(stale, store_path_) && ::lstat(stale.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
        ::unlink(stale.c_str());
    clear_temporary();
}

namespace {

// The store file's text; nullopt with err set when it cannot be read, and
// with err.message empty when it does not exist (an empty configuration).
std::optional<std::string> store_text(const std::string &path, input_error &err,
                                      std::uint64_t max_bytes) {
    err.file = path;
    // Not blocking: a FIFO or a device at the store's path is refused below,
    // not waited on (with the store lock held). Reads of a regular file do
    // not heed the flag.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
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
    return text;
}

// A store that does not load is unusable whatever is wrong with it.
void not_a_configuration(input_error &err) {
    if (!err.malformed()) err.message = "not a valid configuration: " + err.message;
}

}  // namespace

std::optional<data_tree> read_store(const std::string &path, input_error &err,
                                    std::uint64_t max_bytes, const route_visitor &each_route) {
    const schema_node &root = yang_schema::get().native_root();
    auto text = store_text(path, err, max_bytes);
    if (!text) {
        if (err.message.empty()) return data_tree::empty(root);
        return std::nullopt;
    }
    auto config = read_data_document(*text, path, root, document_role::data, err, each_route);
    if (!config) not_a_configuration(err);
    return config;
}

std::optional<request_tree> read_store_request(const std::string &path, input_error &err,
                                               std::uint64_t max_bytes) {
    const schema_node &root = yang_schema::get().native_root();
    auto text = store_text(path, err, max_bytes);
    if (!text) {
        if (err.message.empty()) return request_tree_of(*data_tree::empty(root).root);
        return std::nullopt;
    }
    auto data = read_request_document(*text, path, root, document_role::data, err, true);
    if (!data) not_a_configuration(err);
    return data;
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
    // The rename is durable only once the directory entry is on disk. The
    // new store is in place and read by everyone from here on, so a failed
    // flush is not reported as a failed write: the caller would take the
    // edit for refused while it is in effect.
    std::string dir = directory_of(path);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

// ------------------------------------------------------------------ commit

bool commit_edit(const std::string &path, data_tree &config, const out_node &edit, store_lock &lock,
                 apply_error &err) {
    if (!apply_checked(path, config, edit, err)) return false;
    return write_store(path, config, lock, err);
}

bool write_store(const std::string &path, const data_tree &config, store_lock &lock,
                 apply_error &err) {
    // Written as it is produced: the text of a large store need not be held
    // whole beside its tree.
    const data_node &root = *config.root;
    err.message = write_file_atomically(
        path, [&root](std::FILE *f) { return write_document(root, doc_format::xml, false, f); },
        lock);
    return err.message.empty();
}

}  // namespace yfw_host
