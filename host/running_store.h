// The native running configuration kept in a file: reading it, applying a
// native edit to it with NETCONF edit semantics, writing it back atomically
// under a lock, and selecting from it what a read asks for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data_tree.h"
#include "document_reader.h"

namespace yfw_host {

// The host's own result code for an edit the store refused (outside the
// plug-in's codes, so scripts can tell them apart).
inline constexpr uint32_t store_apply_refused = 0xaaf2f000u;

// The file a store path stands for: symbolic links followed to their
// target, even one that does not exist yet, so that writing the store
// replaces the target and leaves the link in place.
std::string resolved_store_path(const std::string &path);

// An exclusive lock on FILE.lock, beside the store (FILE resolved), held
// while it lives. Every writer takes it for its whole read-modify-write, so
// concurrent applies follow one another and none loses the other's update.
// The lock file also records the temporary file a writer is filling, so
// that the next writer removes it when that writer was killed, and never
// touches a file it did not make.
class store_lock {
public:
    // Blocks until the lock is held; on failure ok() is false and error()
    // says why. A symbolic link at the lock's path is refused, not followed.
    explicit store_lock(const std::string &store_path);
    ~store_lock();
    store_lock(const store_lock &) = delete;
    store_lock &operator=(const store_lock &) = delete;
    bool ok() const { return fd_ >= 0; }
    const std::string &error() const { return error_; }

    // The temporary file being written, for the next writer to find if
    // this one dies; cleared once it is renamed or removed.
    void record_temporary(const std::string &path);
    void clear_temporary();
    // Removes the temporary file a killed writer recorded, if it is still
    // there.
    void remove_stale_temporary();

private:
    int fd_ = -1;
    std::string store_path_;  // the store the lock is for, links resolved
    std::string error_;
};

// Reads the store; a missing file is an empty configuration. Returns
// nullopt with err set when the file cannot be read, is not a regular file,
// is larger than max_bytes, or is not valid native data. each_route sees
// every mapped route as it is read (to fill the configuration database in
// the same pass).
std::optional<data_tree> read_store(const std::string &path, input_error &err,
                                    std::uint64_t max_bytes = UINT64_MAX,
                                    const route_visitor &each_route = {});

// The same store, with the same checks, read straight into the native
// walk's input (for a read, which needs nothing else of it).
std::optional<request_tree> read_store_request(const std::string &path, input_error &err,
                                               std::uint64_t max_bytes = UINT64_MAX);

// Replaces the file's content atomically: a temporary file in the same
// directory is written and flushed to disk, renamed over the store, and the
// directory is flushed, so a crash leaves either the old or the new store.
// The caller holds the store's lock, which records the temporary file.
// Returns an empty string, or what failed.
std::string write_file_atomically(const std::string &path, const std::string &content,
                                  store_lock &lock);
// The same with the content written by `write`, which returns false when
// writing failed.
std::string write_file_atomically(const std::string &path,
                                  const std::function<bool(std::FILE *)> &write, store_lock &lock);

// Why an edit was refused: the error tag (data-exists, data-missing,
// invalid-value, unknown-element, missing-element), the node's path and a
// sentence naming both and the offending value.
struct apply_error {
    std::string tag;
    std::string path;
    std::string message;
};

// Applies a native edit to the configuration: one merge of the edit
// document (an output tree's document_of, bound to the native schema, or a
// native edit read into a data tree) into the store's tree, with each
// node's operation (merge, replace, create, delete, remove; none is merge).
// What a delete or remove names below it only names what goes; a path that
// leads only to removals makes nothing. Key leaves identify their entries.
// Then the result is checked the way a store is checked when it is read,
// for the routes the edit reached: what passes here is what a write would
// store. name (the store file, or empty) starts the messages. On failure
// the tree may be partly edited: apply to a copy, or discard it.
bool apply_checked(const std::string &name, data_tree &config, const out_node &edit,
                   apply_error &err);
bool apply_checked(const std::string &name, data_tree &config, const data_node &edit,
                   apply_error &err);

// Applies the edit (apply_checked) and writes the result to path
// atomically. Nothing is written when the edit is refused (err.tag set) or
// the write fails (err.tag empty, err.message says what failed). The caller
// holds the store's lock from before config was read.
bool commit_edit(const std::string &path, data_tree &config, const out_node &edit, store_lock &lock,
                 apply_error &err);
// Writes the configuration to path atomically, under the lock.
bool write_store(const std::string &path, const data_tree &config, store_lock &lock,
                 apply_error &err);

// Drops containers left without children (none of the native containers
// has a meaning of its own), except the root.
void prune_empty_containers(data_tree &config);

// What a read's native paths select from the configuration: a path without
// a value selects its node and the whole subtree; key leaves with values
// restrict the entries of their list.
class selection {
public:
    selection(const data_node &config, const data_node &query);
    // The selected data as the native walker's input. It holds copies of
    // the values (names point into the schema), so the configuration may go
    // once it is built.
    request_tree request() const;

private:
    enum class mark : uint8_t { path = 1, whole = 2 };
    void visit(const data_node &q, const data_node &s);
    bool selected(const data_node &s, mark &m) const;
    void set(const data_node &s, mark m);
    void fill(request_tree &t, const data_node &s, bool whole, yfw_map_node &to) const;
    const data_node &config_;
    // The marks live in the configuration's nodes, under this selection's
    // stamp: a later selection of the same configuration replaces them, so
    // use one selection of a configuration at a time.
    uint32_t stamp_;
    // The children each node had marked, in the order they were first
    // marked, so that building the request visits only those.
    std::unordered_map<const data_node *, std::vector<const data_node *>> picked_;
};

// The same selection made in place on a store read straight into the
// native walk's input (rooted at router-static): what is not selected is
// dropped from it. For a batch read, which reads the store once; a keyed
// query scans its list.
void keep_selected(yfw_map_node &data, const data_node &query);

}  // namespace yfw_host
