// The configuration database: one process-wide ordered store of absolute
// paths and their packed data. Searches start at the first key that carries
// the pattern's literal prefix and stop at the first that does not, so a
// search costs O(log n + entries under that prefix), never a scan of the
// whole store.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sysdb_writer.h"

struct sysdb_conn {
    std::string root;  // always ends with '/'
};

// A search's result: copies of the matching entries, so that later writes
// cannot pull them from under the caller. All paths (each terminated) and
// tuples sit in one buffer, which makes a result three allocations
// whatever its size.
struct sysdb_datalist {
    struct entry {
        size_t path_at;
        size_t data_at;
        size_t data_len;
    };
    std::vector<entry> entries;
    std::vector<char> bytes;
    size_t next = 0;
};

namespace {

// Type word reported for every entry: all data here is a packed tuple.
constexpr uint32_t entry_type_tuple = 1;
// Private to this runtime: the store could not allocate a search result.
constexpr uint32_t sysdb_err_no_memory = 0x40818c00u;

using entry_map = std::map<std::string, std::vector<uint8_t>, std::less<>>;
using entry_iterator = entry_map::const_iterator;

// The last search and the entries it matched. A route's next-hops and its
// tag are looked up one after another with the same pattern; as long as
// nothing was written in between, the same entries match.
struct last_search {
    const sysdb_conn *conn = nullptr;
    std::string pattern;
    uint64_t generation = 0;
    std::vector<entry_iterator> found;
};

struct database {
    std::mutex mutex;
    entry_map entries;
    uint64_t generation = 1;  // changes with every write and clear
    // Connections live as long as the process: the plug-in keeps its handle
    // in a global and never unbinds.
    std::map<std::string, std::unique_ptr<sysdb_conn>, std::less<>> connections;
    bool recording = false;
    std::vector<std::string> searches;
    std::function<void()> pending_fill;  // see sysdb_fill_on_first_search
    last_search last;
};

// Never destroyed, so a search from another library's static destructor
// still finds a live store.
database &db() {
    static database *d = new database;
    return *d;
}

bool is_connection(const database &d, const sysdb_conn *conn) {
    return std::any_of(d.connections.begin(), d.connections.end(),
                       [conn](const auto &c) { return c.second.get() == conn; });
}

// ".*" matches any run of characters inside one component; everything else
// is literal. Inner pieces match at their first occurrence, which is enough
// because ".*" is the only wildcard.
bool component_matches(std::string_view pat, std::string_view text) {
    size_t star = pat.find(".*");
    if (star == std::string_view::npos) return pat == text;
    if (text.substr(0, star) != pat.substr(0, star)) return false;
    text.remove_prefix(star);
    pat.remove_prefix(star + 2);
    for (;;) {
        size_t next = pat.find(".*");
        if (next == std::string_view::npos)
            return text.size() >= pat.size() && text.substr(text.size() - pat.size()) == pat;
        std::string_view piece = pat.substr(0, next);
        size_t at = text.find(piece);
        if (at == std::string_view::npos) return false;
        text.remove_prefix(at + piece.size());
        pat.remove_prefix(next + 2);
    }
}

// A pattern's components. Patterns have about ten; only a longer one
// spills into the heap.
class part_list {
public:
    void push_back(std::string_view part) {
        if (count_ < inline_parts.size())
            inline_parts[count_] = part;
        else
            spilled_.push_back(part);
        ++count_;
    }
    size_t size() const { return count_; }
    std::string_view operator[](size_t i) const {
        return i < inline_parts.size() ? inline_parts[i] : spilled_[i - inline_parts.size()];
    }

private:
    std::array<std::string_view, 16> inline_parts;
    std::vector<std::string_view> spilled_;
    size_t count_ = 0;
};

struct search_pattern {
    part_list parts;
    bool one_level_below = false;  // the pattern ended in '/'
    size_t literal_parts = 0;      // components before the first wildcard

    explicit search_pattern(std::string_view text) {
        while (!text.empty() && text.front() == '/') text.remove_prefix(1);
        if (!text.empty() && text.back() == '/') {
            one_level_below = true;
            text.remove_suffix(1);
        }
        while (!text.empty()) {
            size_t slash = text.find('/');
            parts.push_back(text.substr(0, slash));
            if (slash == std::string_view::npos) break;
            text.remove_prefix(slash + 1);
        }
        while (literal_parts < parts.size() &&
               parts[literal_parts].find(".*") == std::string_view::npos)
            ++literal_parts;
    }

    size_t wanted_parts() const { return parts.size() + (one_level_below ? 1 : 0); }

    // True when every entry that can match is exactly that key.
    bool names_one_key() const { return literal_parts == parts.size() && !one_level_below; }

    // The root and the literal components, which joined by '/' are the
    // stretch of the pattern they were split from. Written into `buffer`
    // when it fits, so that a search does not allocate for it, else into
    // `spill`.
    template <size_t N>
    std::string_view literal_prefix(const std::string &root, char (&buffer)[N],
                                    std::string &spill) const {
        std::string_view literal;
        if (literal_parts > 0) {
            const std::string_view last = parts[literal_parts - 1];
            literal = {parts[0].data(),
                       static_cast<size_t>(last.data() + last.size() - parts[0].data())};
        }
        // The closing slash keeps "0x1" from taking in "0x10" and the like.
        const bool slash = !names_one_key() && literal_parts > 0;
        const size_t n = root.size() + literal.size() + (slash ? 1 : 0);
        if (n > N) {
            spill.assign(root).append(literal);
            if (slash) spill += '/';
            return spill;
        }
        std::memcpy(buffer, root.data(), root.size());
        if (!literal.empty()) std::memcpy(buffer + root.size(), literal.data(), literal.size());
        if (slash) buffer[n - 1] = '/';
        return {buffer, n};
    }

    // rest: the components of an entry that follow the literal prefix.
    bool matches_rest(std::string_view rest) const {
        size_t i = literal_parts;
        for (;;) {
            if (i >= wanted_parts()) return false;
            size_t slash = rest.find('/');
            if (i < parts.size() && !component_matches(parts[i], rest.substr(0, slash)))
                return false;
            ++i;
            if (slash == std::string_view::npos) break;
            rest.remove_prefix(slash + 1);
        }
        return i == wanted_parts();
    }
};

// The entries a pattern names, in key order, into `found` (cleared first).
void collect(const database &d, const std::string &root, std::string_view pattern_text,
             std::vector<entry_iterator> &found) {
    found.clear();
    search_pattern pat(pattern_text);
    char buffer[256];
    std::string spill;
    const std::string_view prefix = pat.literal_prefix(root, buffer, spill);
    if (pat.names_one_key()) {
        auto it = d.entries.find(prefix);
        if (it != d.entries.end()) found.push_back(it);
        return;
    }
    for (auto it = d.entries.lower_bound(prefix);
         it != d.entries.end() && it->first.starts_with(prefix); ++it) {
        if (pat.matches_rest(std::string_view(it->first).substr(prefix.size())))
            found.push_back(it);
    }
}

std::unique_ptr<sysdb_datalist> copy_out(const std::vector<entry_iterator> &found) {
    auto list = std::make_unique<sysdb_datalist>();
    size_t total = 0;
    for (const auto &it : found) total += it->first.size() + 1 + it->second.size();
    list->entries.reserve(found.size());
    list->bytes.resize(total);
    char *at = list->bytes.data();
    for (const auto &it : found) {
        const size_t path_at = static_cast<size_t>(at - list->bytes.data());
        std::memcpy(at, it->first.data(), it->first.size());
        at += it->first.size();
        *at++ = '\0';
        const size_t data_at = static_cast<size_t>(at - list->bytes.data());
        if (!it->second.empty()) std::memcpy(at, it->second.data(), it->second.size());
        at += it->second.size();
        list->entries.push_back({path_at, data_at, it->second.size()});
    }
    return list;
}

}  // namespace

extern "C" {

uint32_t _sysdb_bind(sysdb_connid_t *conn, const char *root, int) {
    if (conn == nullptr || root == nullptr) return SYSDB_ERR_BAD_ARGS;
    try {
        std::string r = root;
        if (r.empty() || r.back() != '/') r += '/';
        database &d = db();
        std::lock_guard lock(d.mutex);
        auto &slot = d.connections[r];
        if (!slot) slot = std::make_unique<sysdb_conn>(sysdb_conn{r});
        *conn = slot.get();
        return SYSDB_OK;
    } catch (...) {
        return sysdb_err_no_memory;
    }
}

uint32_t sysdb_find_data(sysdb_connid_t conn, const char *pattern, const char *, uint32_t *count,
                         sysdb_datalist **list, int, int) {
    if (pattern == nullptr || count == nullptr || list == nullptr) return SYSDB_ERR_BAD_ARGS;
    *count = 0;
    *list = nullptr;
    try {
        database &d = db();
        std::unique_lock lock(d.mutex);
        if (d.pending_fill) {
            std::function<void()> fill = std::exchange(d.pending_fill, nullptr);
            lock.unlock();
            fill();
            lock.lock();
        }
        if (d.recording) d.searches.emplace_back(pattern);
        if (conn == nullptr || !is_connection(d, conn)) return SYSDB_ERR_NOT_BOUND;
        last_search &last = d.last;
        if (last.generation != d.generation || last.conn != conn || last.pattern != pattern) {
            last.generation = 0;  // in case the search throws
            collect(d, conn->root, pattern, last.found);
            last.conn = conn;
            last.pattern.assign(pattern);
            last.generation = d.generation;
        }
        const std::vector<entry_iterator> &found = last.found;
        if (found.empty()) return SYSDB_ERR_NOT_FOUND;
        auto result = copy_out(found);
        lock.unlock();
        *count = static_cast<uint32_t>(result->entries.size());
        *list = result.release();
        return SYSDB_OK;
    } catch (...) {
        return sysdb_err_no_memory;
    }
}

uint32_t sysdb_datalist_next(sysdb_datalist *list, char **path, uint32_t *type, void **data,
                             uint32_t *data_len, uint32_t *reserved) {
    if (list == nullptr) return SYSDB_ERR_BAD_ARGS;
    if (list->next >= list->entries.size()) return SYSDB_ERR_END_OF_LIST;
    const auto &e = list->entries[list->next++];
    if (path != nullptr) *path = list->bytes.data() + e.path_at;
    if (type != nullptr) *type = entry_type_tuple;
    if (data != nullptr) *data = e.data_len != 0 ? list->bytes.data() + e.data_at : nullptr;
    if (data_len != nullptr) *data_len = static_cast<uint32_t>(e.data_len);
    if (reserved != nullptr) *reserved = 0;
    return SYSDB_OK;
}

void sysdb_datalist_free(sysdb_datalist *list) {
    delete list;
}

const char *cerr_strerror(uint32_t code) {
    switch (code) {
        case SYSDB_OK: return "sysdb: success";
        case SYSDB_ERR_NOT_FOUND: return "sysdb: no such entry";
        case SYSDB_ERR_NOT_BOUND: return "sysdb: connection not bound";
        case SYSDB_ERR_BAD_ARGS: return "sysdb: invalid arguments";
        case SYSDB_ERR_END_OF_LIST: return "sysdb: end of list";
        case SYSDB_ERR_BAD_TUPLE: return "sysdb: malformed tuple";
        case sysdb_err_no_memory: return "sysdb: out of memory";
        default: break;
    }
    thread_local char text[32];
    std::snprintf(text, sizeof text, "unknown error 0x%08x", code);
    return text;
}

}  // extern "C"

namespace platform {

void sysdb_write(std::string absolute_path, std::vector<uint8_t> data) {
    database &d = db();
    std::lock_guard lock(d.mutex);
    // A store is loaded in its own order, which is mostly the database's:
    // try the end first, and a full search only when the path is not last.
    auto hint = d.entries.empty() || d.entries.rbegin()->first < absolute_path
                    ? d.entries.end()
                    : d.entries.lower_bound(absolute_path);
    d.entries.insert_or_assign(hint, std::move(absolute_path), std::move(data));
    ++d.generation;
}

void sysdb_clear() {
    database &d = db();
    std::lock_guard lock(d.mutex);
    d.entries.clear();
    ++d.generation;
    d.pending_fill = nullptr;
}

void sysdb_erase_under(const std::string &prefix) {
    database &d = db();
    std::lock_guard lock(d.mutex);
    auto first = d.entries.lower_bound(prefix);
    auto last = first;
    while (last != d.entries.end() && last->first.starts_with(prefix)) ++last;
    d.entries.erase(first, last);
    ++d.generation;
}

void sysdb_fill_on_first_search(std::function<void()> fill) {
    database &d = db();
    std::lock_guard lock(d.mutex);
    d.pending_fill = std::move(fill);
}

std::size_t sysdb_size() {
    database &d = db();
    std::lock_guard lock(d.mutex);
    return d.entries.size();
}

// Switching recording on starts a fresh record; switching it off keeps the
// record readable.
void sysdb_record_searches(bool on) {
    database &d = db();
    std::lock_guard lock(d.mutex);
    if (on) d.searches.clear();
    d.recording = on;
}

std::vector<std::string> sysdb_recorded_searches() {
    database &d = db();
    std::lock_guard lock(d.mutex);
    return d.searches;
}

}  // namespace platform
