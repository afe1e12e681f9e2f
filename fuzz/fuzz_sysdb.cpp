// The configuration database: pattern searches over an ordered index,
// checked against a plain scan of every entry, and tuple decoding of what
// the searches return, checked against packing.
//
// Input: byte 0 the number of entries (mod 8); per entry a length byte and
// that many bytes of path (relative to the static-route root unless it
// starts with '/'), a length byte and that many bytes of tuple; then search
// lines separated by '\n', each led by a byte choosing the binding root.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_pipeline.h"
#include "sysdb_writer.h"

namespace {

using entry_map = std::map<std::string, std::vector<uint8_t>>;

struct reader {
    const uint8_t *p;
    const uint8_t *end;
    bool take(size_t n, std::string_view &out) {
        if (static_cast<size_t>(end - p) < n) return false;
        out = {reinterpret_cast<const char *>(p), n};
        p += n;
        return true;
    }
    bool byte(uint8_t &b) {
        if (p == end) return false;
        b = *p++;
        return true;
    }
};

// ".*" is any run of characters; everything else is literal. Matched by
// dynamic programming over (pattern position, text position), so a pattern
// of many wildcards costs no more than a plain one.
bool glob(std::string_view pat, std::string_view text) {
    std::vector<char> can(text.size() + 1, 0), next(text.size() + 1);
    can[0] = 1;  // can[j]: the pattern read so far matches text[0, j)
    for (size_t i = 0; i < pat.size();) {
        bool star = pat[i] == '.' && i + 1 < pat.size() && pat[i + 1] == '*';
        std::fill(next.begin(), next.end(), 0);
        for (size_t j = 0; j <= text.size(); ++j) {
            if (star)
                next[j] = can[j] || (j > 0 && next[j - 1]);
            else
                next[j] = j > 0 && can[j - 1] && text[j - 1] == pat[i];
        }
        can.swap(next);
        i += star ? 2 : 1;
    }
    return can[text.size()] != 0;
}

std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> out;
    for (;;) {
        size_t slash = s.find('/');
        out.push_back(s.substr(0, slash));
        if (slash == std::string_view::npos) return out;
        s.remove_prefix(slash + 1);
    }
}

// What a search means, written as plainly as possible: a pattern is a path
// of components below the root, ".*" matches within one component, and a
// closing '/' asks for the entries one level below.
bool plain_match(const std::string &root, std::string_view pattern, const std::string &key) {
    if (key.compare(0, root.size(), root) != 0) return false;
    std::string_view rest = std::string_view(key).substr(root.size());
    while (!pattern.empty() && pattern.front() == '/') pattern.remove_prefix(1);
    bool below = !pattern.empty() && pattern.back() == '/';
    if (below) pattern.remove_suffix(1);
    std::vector<std::string_view> parts;
    if (!pattern.empty()) parts = split(pattern);
    size_t wanted = parts.size() + (below ? 1 : 0);
    if (wanted == 0) return rest.empty();
    std::vector<std::string_view> comps = split(rest);
    if (comps.size() != wanted) return false;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!glob(parts[i], comps[i])) return false;
    return true;
}

// The field list a blob describes, for the packing round trip: per field a
// type byte (d number, s text, else absent) and its content.
std::vector<platform::tuple_field> fields_of(std::string_view blob) {
    std::vector<platform::tuple_field> fields;
    reader r{reinterpret_cast<const uint8_t *>(blob.data()),
             reinterpret_cast<const uint8_t *>(blob.data() + blob.size())};
    uint8_t type = 0;
    while (fields.size() < 12 && r.byte(type)) {
        platform::tuple_field f;
        std::string_view bytes;
        if (type % 3 == 0 && r.take(4, bytes)) {
            f.k = platform::tuple_field::kind::number;
            std::memcpy(&f.number, bytes.data(), 4);
        } else if (type % 3 == 1) {
            uint8_t n = 0;
            if (!r.byte(n) || !r.take(n % 32, bytes)) break;
            f.k = platform::tuple_field::kind::text;
            // Texts reach the database from C strings: no NUL inside.
            for (char c : bytes)
                if (c != '\0') f.text += c;
        }
        fields.push_back(std::move(f));
    }
    return fields;
}

// Holders are passed as void *: tuple_unpack fetches each as the pointer
// type its conversion names, and all object pointers share one
// representation on the platforms this runs on.
struct holders {
    alignas(8) unsigned char slot[12][8];
    void *at(size_t i) { return slot[i]; }
};

uint32_t unpack12(const void *data, const char *fmt, holders &h) {
    return tuple_unpack(data, fmt, h.at(0), h.at(1), h.at(2), h.at(3), h.at(4), h.at(5), h.at(6),
                        h.at(7), h.at(8), h.at(9), h.at(10), h.at(11));
}

void pack_round_trip(std::string_view blob) {
    auto fields = fields_of(blob);
    std::vector<uint8_t> packed = platform::tuple_pack(fields);
    std::string fmt;
    for (const auto &f : fields) fmt += f.k == platform::tuple_field::kind::text ? "%s" : "%d";
    holders h{};
    for (size_t i = 0; i < 12; ++i) std::memset(h.slot[i], 0xa5, 8);
    OCLR_FUZZ_CHECK(unpack12(packed.data(), fmt.c_str(), h) == SYSDB_OK);
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto &f = fields[i];
        if (f.k == platform::tuple_field::kind::number) {
            uint32_t v;
            std::memcpy(&v, h.slot[i], 4);
            OCLR_FUZZ_CHECK(v == f.number);
        } else if (f.k == platform::tuple_field::kind::text) {
            const char *s;
            std::memcpy(&s, h.slot[i], sizeof s);
            OCLR_FUZZ_CHECK(std::string_view(s) == f.text);
        } else {
            // An absent field leaves its holder alone.
            unsigned char untouched[8];
            std::memset(untouched, 0xa5, 8);
            OCLR_FUZZ_CHECK(std::memcmp(h.slot[i], untouched, 8) == 0);
        }
    }
}

// Decodes one stored entry the way the plug-in's lookups do; texts it hands
// out must lie inside the entry's data and end there.
void decode(const void *data, uint32_t len) {
    uint32_t n[8] = {}, load = 0;
    const char *object = nullptr, *description = nullptr, *index = nullptr;
    uint32_t rc = tuple_unpack(data, "%d%d%d%d%d%d%d%d%s%s%d%s", &n[0], &n[1], &n[2], &n[3], &n[4],
                               &n[5], &n[6], &n[7], &object, &description, &load, &index);
    if (rc != SYSDB_OK) {
        OCLR_FUZZ_CHECK(rc == SYSDB_ERR_BAD_TUPLE);
        return;
    }
    const char *lo = static_cast<const char *>(data);
    for (const char *s : {object, description, index}) {
        if (s == nullptr) continue;
        OCLR_FUZZ_CHECK(s >= lo && s < lo + len);
        OCLR_FUZZ_CHECK(std::memchr(s, '\0', static_cast<size_t>(lo + len - s)) != nullptr);
    }
}

sysdb_connid_t bind(const char *root) {
    sysdb_connid_t c = nullptr;
    OCLR_FUZZ_CHECK(_sysdb_bind(&c, root, 4) == SYSDB_OK);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    platform::sysdb_clear();
    reader in{data + 1, data + size};
    entry_map mirror;
    for (unsigned i = 0, count = data[0] % 8u; i < count; ++i) {
        uint8_t n = 0;
        std::string_view path, blob;
        if (!in.byte(n) || !in.take(n, path) || !in.byte(n) || !in.take(n, blob)) break;
        // Paths reach the database as C strings: no NUL inside.
        std::string abs = !path.empty() && path[0] == '/' ? "" : platform::static_route_root;
        for (char c : path)
            if (c != '\0') abs += c;
        // The database only ever holds tuples it packed; their length word
        // is never more than the data. Keep that, but let a shorter one in.
        std::vector<uint8_t> tuple(blob.begin(), blob.end());
        if (tuple.size() < 4) tuple.resize(4, 0);
        uint32_t declared = tuple[0] | tuple[1] << 8 | tuple[2] << 16 | uint32_t{tuple[3]} << 24;
        if (declared > tuple.size()) {
            auto total = static_cast<uint32_t>(tuple.size());
            for (int b = 0; b < 4; ++b) tuple[b] = static_cast<uint8_t>(total >> (8 * b));
        }
        pack_round_trip(blob);
        platform::sysdb_write(abs, tuple);
        mirror.insert_or_assign(abs, std::move(tuple));
    }
    OCLR_FUZZ_CHECK(platform::sysdb_size() == mirror.size());

    static const char *const roots[] = {platform::static_route_root, "/cfg/gl/static", "/"};
    std::string_view rest(reinterpret_cast<const char *>(in.p), static_cast<size_t>(in.end - in.p));
    for (int searches = 0; !rest.empty() && searches < 8; ++searches) {
        size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (line.empty()) continue;
        std::string root = roots[static_cast<uint8_t>(line[0]) % 3];
        std::string pattern(line.substr(1));
        // Empty components ("a//b") are outside what the database is asked
        // for; the paths it holds never have them.
        if (pattern.find('\0') != std::string::npos || pattern.find("//") != std::string::npos)
            continue;
        sysdb_connid_t conn = bind(root.c_str());
        if (root.back() != '/') root += '/';

        std::vector<std::string> expected;
        for (const auto &[key, value] : mirror)
            if (plain_match(root, pattern, key)) expected.push_back(key);

        uint32_t count = 0;
        sysdb_datalist *list = nullptr;
        uint32_t rc = sysdb_find_data(conn, pattern.c_str(), "", &count, &list, 4, 0);
        std::vector<std::string> found;
        if (rc == SYSDB_OK) {
            char *path = nullptr;
            void *blob = nullptr;
            uint32_t type = 0, len = 0, reserved = 0;
            while (sysdb_datalist_next(list, &path, &type, &blob, &len, &reserved) == SYSDB_OK) {
                found.emplace_back(path);
                auto it = mirror.find(path);
                OCLR_FUZZ_CHECK(it != mirror.end() && it->second.size() == len);
                decode(blob, len);
            }
            OCLR_FUZZ_CHECK(found.size() == count);
            sysdb_datalist_free(list);
        } else {
            OCLR_FUZZ_CHECK(rc == SYSDB_ERR_NOT_FOUND && list == nullptr && count == 0);
        }
        if (found != expected) {
            std::fprintf(stderr, "search '%s' under '%s': %zu found, %zu expected\n",
                         pattern.c_str(), root.c_str(), found.size(), expected.size());
            for (const auto &k : found) std::fprintf(stderr, "  found    %s\n", k.c_str());
            for (const auto &k : expected) std::fprintf(stderr, "  expected %s\n", k.c_str());
        }
        OCLR_FUZZ_CHECK(found == expected);
    }
    return 0;
}
