// ymap_codegen: writes the plug-in's schema tables and generated handlers.
//
// Input: the two YANG modules (compiled with libyang) and the mapping
// annotation file, which says which handler family each node has. Output,
// per direction (ox: OpenConfig request to native, xo: native data to
// OpenConfig):
//   ymap_<dir>_schema.h    the constant node table the walkers run on
//   ymap_<dir>_handlers.inc  strong __ymap_ handlers with weak ymap_ aliases,
//                          augmentation handlers, and stub aliases for
//                          every unmapped node (included by the direction's
//                          _auto.cpp, where the family code and stubs live,
//                          because an alias must sit in its target's unit)
//
// Every node's names come from one rule: name pair = root, parent and node
// names without hyphens; variant = the node's ordinal among the nodes with
// the same name pair in depth-first schema order, in bijective base 26.
#include <fnmatch.h>
#include <libyang/libyang.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const std::string &msg) {
    std::cerr << "ymap_codegen: " << msg << "\n";
    std::exit(1);
}

enum class kind { container, list, leaf };

const char *kind_word(kind k) {
    switch (k) {
        case kind::container: return "cont";
        case kind::list: return "list";
        case kind::leaf: return "leaf";
    }
    return "?";
}

// Handler families. Each has one piece of shared code in the plug-in; a
// generated handler is a single call into it.
enum class family {
    stub,             // weak alias of the direction's no-mapping stub
    forward,          // frame, then the hand-written man_ callback
    end_only,         // end record only, 0
    check_args,       // start, argument check, end, 0
    empty_container,  // adds an OpenConfig container when the node is empty
    map_leaf,         // copies the value to config/state (and key) paths
    cond_leaf,        // condition table, leaf
    cond_index,       // condition table, index leaf (skips auto indices)
    cond_container,   // condition table, container
    no_body,          // full frame, 51
};

struct family_info {
    const char *word;
    family fam;
    const char *dirs;   // "ox", "xo" or "oxxo"
    const char *kinds;  // subset of "c", "l", "f" (container, list, leaf)
    size_t min_args, max_args;
    const char *function;  // the shared code's name in namespace ymap::<dir>
};

const family_info families[] = {
    {"stub", family::stub, "oxxo", "clf", 0, 0, nullptr},
    {"forward", family::forward, "oxxo", "clf", 0, 1, "forward"},
    {"end-only", family::end_only, "xo", "l", 0, 0, "end_only"},
    {"check-args", family::check_args, "xo", "cf", 0, 0, "check_args"},
    {"empty-container", family::empty_container, "xo", "c", 1, 1, "empty_container"},
    {"map-leaf", family::map_leaf, "xo", "f", 2, 3, "map_leaf"},
    {"cond-leaf", family::cond_leaf, "ox", "f", 2, 2, "cond_leaf"},
    {"cond-index", family::cond_index, "ox", "f", 2, 2, "cond_index"},
    {"cond-container", family::cond_container, "ox", "c", 2, 2, "cond_container"},
    {"no-body", family::no_body, "ox", "f", 0, 0, "no_body"},
};

const family_info *find_family(const std::string &w) {
    for (const auto &f : families)
        if (w == f.word) return &f;
    return nullptr;
}

struct node {
    std::string tag;
    kind k = kind::container;
    bool is_key = false;
    bool state_only = false;
    int depth = 1;
    int parent = -1;
    std::vector<int> children;
    std::vector<int> keys;
    std::string schema_path;
    std::string pair;
    std::string variant;
    const family_info *fam = &families[0];
    std::vector<std::string> args;
    bool replaced = false;  // a hand-written definition takes the plain name
    int rule_line = 0;
};

struct direction {
    std::string dir;     // "ox" or "xo"
    std::string module;  // squashed module name used in symbols
    std::string yang_module;
    std::string ns;
    std::vector<node> nodes;

    std::string prefix() const { return "ymap_" + dir + "_ocstatic_" + module + "_"; }
    std::string walker(const node &n) const { return prefix() + n.variant + "_" + n.pair; }
    std::string handler(const node &n) const {
        return prefix() + kind_word(n.k) + "_" + n.variant + "_" + n.pair;
    }
    std::string augments(const node &n) const { return walker(n) + "_parse_augments"; }
    std::string stub(kind k) const {
        static const char *names[] = {"duck_map_container", "duck_map_list", "duck_map_leaf"};
        return prefix() + names[static_cast<int>(k)];
    }
};

std::string squash(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != '-') out += c;
    return out;
}

// 1 -> a, 26 -> z, 27 -> aa, 53 -> ba.
std::string bijective26(int n) {
    std::string s;
    while (n > 0) {
        --n;
        s.insert(s.begin(), static_cast<char>('a' + n % 26));
        n /= 26;
    }
    return s;
}

void collect(direction &d, const lysc_node *sn, int parent) {
    node n;
    n.tag = sn->name;
    switch (sn->nodetype) {
        case LYS_CONTAINER: n.k = kind::container; break;
        case LYS_LIST: n.k = kind::list; break;
        case LYS_LEAF: n.k = kind::leaf; break;
        default: die("node '" + n.tag + "' has a YANG statement the walkers do not support");
    }
    n.is_key = (sn->flags & LYS_KEY) != 0;
    n.state_only = (sn->flags & LYS_CONFIG_R) != 0;
    n.parent = parent;
    n.depth = parent < 0 ? 1 : d.nodes[parent].depth + 1;
    n.schema_path = (parent < 0 ? "" : d.nodes[parent].schema_path) + "/" + n.tag;
    if (n.depth > 250) die("schema deeper than the table can hold");
    int index = static_cast<int>(d.nodes.size());
    d.nodes.push_back(n);
    if (parent >= 0) {
        d.nodes[parent].children.push_back(index);
        if (d.nodes[index].is_key) d.nodes[parent].keys.push_back(index);
    }
    for (const lysc_node *c = lysc_node_child(sn); c != nullptr; c = c->next) collect(d, c, index);
}

void name_nodes(direction &d) {
    const std::string root = squash(d.nodes[0].tag);
    std::map<std::string, int> seen;
    for (auto &n : d.nodes) {
        if (n.parent < 0)
            n.pair = root;
        else if (n.depth == 2)
            n.pair = root + "_" + squash(n.tag);
        else
            n.pair = root + "_" + squash(d.nodes[n.parent].tag) + "_" + squash(n.tag);
        n.variant = "lvl" + bijective26(++seen[n.pair]);
    }
}

void load(direction &d, ly_ctx *ctx) {
    const lys_module *m = ly_ctx_load_module(ctx, d.yang_module.c_str(), nullptr, nullptr);
    if (m == nullptr || m->compiled == nullptr)
        die("cannot load YANG module '" + d.yang_module + "'");
    d.ns = m->ns;
    const lysc_node *root = m->compiled->data;
    if (root == nullptr || root->next != nullptr)
        die("module '" + d.yang_module + "' must have exactly one top-level node");
    collect(d, root, -1);
    if (d.nodes.size() >= 0xffff) die("too many schema nodes for 16-bit indices");
    name_nodes(d);
}

// ------------------------------------------------------------ annotations

struct cond_table {
    std::vector<std::string> rows;
    int line = 0;
};

struct annotations {
    std::map<std::string, cond_table> tables;
};

std::vector<std::string> split(const std::string &line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// A comma-separated list of shell patterns.
bool matches(const std::string &patterns, const std::string &name) {
    std::istringstream in(patterns);
    std::string p;
    while (std::getline(in, p, ','))
        if (fnmatch(p.c_str(), name.c_str(), 0) == 0) return true;
    return false;
}

annotations apply_annotations(const std::string &file, std::vector<direction *> dirs) {
    std::ifstream in(file);
    if (!in) die(file + ": cannot read");
    annotations a;
    std::map<std::string, std::string> vars;
    std::string line;
    int lineno = 0;
    auto fail = [&](const std::string &msg) {
        die(file + ":" + std::to_string(lineno) + ": " + msg);
    };
    while (std::getline(in, line)) {
        ++lineno;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::vector<std::string> w = split(line);
        if (w.empty()) continue;
        for (auto &t : w)
            if (t[0] == '$') {
                size_t end = t.find('/');
                auto it = vars.find(t.substr(1, end == std::string::npos ? end : end - 1));
                if (it == vars.end()) fail("unknown variable in '" + t + "'");
                t = it->second + (end == std::string::npos ? "" : t.substr(end));
            }
        if (w[0] == "set") {
            if (w.size() != 3) fail("set NAME VALUE");
            vars[w[1]] = w[2];
            continue;
        }
        if (w[0] == "row") {
            if (w.size() != 3) fail("row TABLE NATIVE-PATH");
            auto &t = a.tables[w[1]];
            if (t.line == 0) t.line = lineno;
            t.rows.push_back(w[2]);
            continue;
        }
        // DIR KIND NAME-PAIR VARIANT FAMILY [ARGS...] [replaced]
        if (w.size() < 5) fail("expected: DIR KIND NAME-PAIR VARIANT FAMILY [ARGS...]");
        direction *d = nullptr;
        for (auto *x : dirs)
            if (x->dir == w[0]) d = x;
        if (d == nullptr) fail("unknown direction '" + w[0] + "'");
        kind k{};  // fail() does not return; clang cannot see that
        if (w[1] == "cont")
            k = kind::container;
        else if (w[1] == "list")
            k = kind::list;
        else if (w[1] == "leaf")
            k = kind::leaf;
        else
            fail("unknown kind '" + w[1] + "'");
        const family_info *f = find_family(w[4]);
        if (f == nullptr) fail("unknown family '" + w[4] + "'");
        std::vector<std::string> args(w.begin() + 5, w.end());
        bool replaced = !args.empty() && args.back() == "replaced";
        if (replaced) args.pop_back();
        if (std::string(f->dirs).find(d->dir) == std::string::npos)
            fail(std::string("family '") + f->word + "' does not exist on the " + d->dir + " side");
        if (std::strchr(f->kinds, "clf"[static_cast<int>(k)]) == nullptr)
            fail(std::string("family '") + f->word + "' does not apply to a " + w[1]);
        if (args.size() < f->min_args || args.size() > f->max_args)
            fail(std::string("wrong number of arguments for '") + f->word + "'");
        int matched = 0;
        // Later rules override earlier ones, so a broad rule can be refined
        // for the few variants that differ.
        for (auto &n : d->nodes) {
            if (n.k != k) continue;
            if (!matches(w[2], n.pair) || !matches(w[3], n.variant)) continue;
            n.fam = f;
            n.args = args;
            n.replaced = replaced;
            n.rule_line = lineno;
            ++matched;
        }
        if (matched == 0) fail("rule matches no schema node");
    }
    return a;
}

// ------------------------------------------------------------ emission

std::string quoted(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string signature(kind k) {
    return k == kind::container ? "(yfw_map_ctx *ctx, yfw_map_node *node, uint32_t child_count, "
                                  "yfw_map_datatree *tree)"
                                : "(yfw_map_ctx *ctx, yfw_map_node *node, yfw_map_datatree *tree)";
}

const char *export_attr = "__attribute__((visibility(\"default\")))";

std::string header_line(const std::string &what) {
    return "// Generated by ymap_codegen from yang/ and the mapping annotations: " + what +
           ". Do not edit.\n";
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out.flush()) die(path + ": cannot write");
}

std::string emit_schema(const direction &d) {
    std::ostringstream o;
    o << header_line("the " + d.yang_module + " node table");
    o << "#pragma once\n#include \"ymap_schema.h\"\n\nextern \"C\" {\n";
    for (const auto &n : d.nodes) {
        if (n.k != kind::leaf)
            o << export_attr << " ymap_result " << d.augments(n) << signature(kind::leaf) << ";\n";
        o << export_attr << " ymap_result " << d.handler(n) << signature(n.k) << ";\n";
    }
    o << "}\n\nnamespace ymap::" << d.dir << "_schema {\n\n";
    o << "inline constexpr const char ns[] = " << quoted(d.ns) << ";\n";
    o << "inline constexpr uint16_t node_count = " << d.nodes.size() << ";\n\n";
    o << "inline constexpr uint16_t children[] = {\n";
    std::vector<size_t> first(d.nodes.size());
    size_t off = 0;
    for (size_t i = 0; i < d.nodes.size(); ++i) {
        first[i] = off;
        for (int c : d.nodes[i].children) {
            o << "    " << c << ",\n";
            ++off;
        }
    }
    o << "};\n\ninline constexpr schema_node nodes[] = {\n";
    for (size_t i = 0; i < d.nodes.size(); ++i) {
        const node &n = d.nodes[i];
        o << "    // " << i << ": " << n.schema_path << "\n    {" << quoted(n.tag)
          << ", schema_kind::"
          << (n.k == kind::container ? "container"
              : n.k == kind::list    ? "list"
                                     : "leaf")
          << ", " << n.is_key << ", " << n.state_only << ", " << n.depth << ", "
          << (n.parent < 0 ? std::string("no_node") : std::to_string(n.parent)) << ", " << first[i]
          << ", " << n.children.size() << ", "
          << (n.keys.empty() ? std::string("no_node") : std::to_string(n.keys[0])) << ", "
          << n.keys.size() << ", " << (n.k == kind::list ? quoted(n.schema_path) : "nullptr")
          << ", " << quoted(d.walker(n)) << ", "
          << (n.k == kind::container ? d.handler(n) : "nullptr") << ", "
          << (n.k == kind::container ? "nullptr" : d.handler(n)) << ", "
          << (n.k == kind::leaf ? "nullptr" : d.augments(n)) << "},\n";
    }
    o << "};\n\ninline constexpr schema_tree tree{nodes, node_count, children, " << off
      << ", ns};\n\n";
    o << "static_assert(schema_is_consistent(nodes, node_count, children, " << off
      << "), \"generated " << d.dir << " schema table is inconsistent\");\n\n}\n";
    return o.str();
}

std::string emit_handlers(const direction &d, const annotations &a, const direction &native) {
    std::ostringstream o;
    o << header_line("the " + d.yang_module + " handlers");
    o << "// Included at the end of the direction's _auto.cpp, after its family code.\n\n";

    // Condition tables used by this direction's generated handlers, checked
    // against the native schema so a mistyped path cannot reach the output.
    std::set<std::string> used_tables;
    for (const auto &n : d.nodes)
        if (n.fam->fam == family::cond_leaf || n.fam->fam == family::cond_index ||
            n.fam->fam == family::cond_container)
            used_tables.insert(n.args[0]);
    for (const auto &name : used_tables) {
        auto it = a.tables.find(name);
        if (it == a.tables.end()) die("condition table '" + name + "' has no rows");
        // The handlers copy a table onto the stack into room for six rows
        // and the terminator.
        if (it->second.rows.size() > 6) die("condition table '" + name + "' has over 6 rows");
        for (const auto &row : it->second.rows) {
            bool found = false;
            for (const auto &nn : native.nodes) found = found || nn.schema_path == row;
            if (!found) die("condition table '" + name + "': no native node " + row);
        }
        o << "static const ymap_cond_entry cond_table_" << name << "[" << it->second.rows.size() + 1
          << "] = {\n";
        for (const auto &row : it->second.rows)
            o << "    {" << quoted(row) << ", " << quoted(native.ns) << ", ::ymap::" << d.dir
              << "::cond_value, 0, 0, \"NULL\"},\n";
        o << "    {\"NULL\", \"NULL\", nullptr, 0, 0, \"None\"},\n};\n";
    }
    o << "\nextern \"C\" {\n\n";

    std::set<std::string> declared;
    auto declare = [&](const std::string &name, const std::string &sig) {
        if (declared.insert(name).second)
            o << export_attr << " ymap_result " << name << sig << ";\n";
    };
    for (const auto &n : d.nodes) {
        if (n.fam->fam == family::forward) {
            std::string target =
                d.prefix() + (n.args.empty() ? std::string("man_") + kind_word(n.k) + "_" +
                                                   n.variant + "_" + n.pair
                                             : n.args[0]);
            declare(target, signature(n.k));
        }
        if (n.fam->fam == family::cond_leaf || n.fam->fam == family::cond_index ||
            n.fam->fam == family::cond_container)
            declare(n.args[1], "(yfw_map_ctx *ctx, uint32_t row_count, ymap_cond_entry *rows)");
    }
    o << "\n";

    auto strong_and_alias = [&](const std::string &plain, kind k, const std::string &body,
                                const node &n, bool replaced) {
        o << "// " << n.schema_path << (replaced ? " (replaced by a hand-written definition)" : "")
          << "\n";
        o << export_attr << " ymap_result __" << plain << signature(k) << " {\n    return " << body
          << ";\n}\n";
        o << export_attr << " ymap_result " << plain << signature(k)
          << " __attribute__((weak, alias(\"__" << plain << "\")));\n";
    };

    for (const auto &n : d.nodes) {
        const std::string plain = d.handler(n);
        const std::string fn =
            std::string("::ymap::") + d.dir + "::" + (n.fam->function ? n.fam->function : "");
        const std::string self = quoted("__" + plain);
        const std::string count = n.k == kind::container ? "child_count, " : "";
        std::string body;
        switch (n.fam->fam) {
            case family::stub:
                o << "// " << n.schema_path << ": no mapping\n"
                  << export_attr << " ymap_result " << plain << signature(n.k)
                  << " __attribute__((weak, alias(\"" << d.stub(n.k) << "\")));\n";
                break;
            case family::forward: {
                std::string target =
                    d.prefix() + (n.args.empty() ? std::string("man_") + kind_word(n.k) + "_" +
                                                       n.variant + "_" + n.pair
                                                 : n.args[0]);
                body = fn + "(ctx, node, " + count + "tree, " + self + ", " + target + ")";
                break;
            }
            case family::end_only:
            case family::check_args:
            case family::no_body: body = fn + "(ctx, node, " + count + "tree, " + self + ")"; break;
            case family::empty_container:
                body =
                    fn + "(ctx, node, child_count, tree, " + self + ", " + quoted(n.args[0]) + ")";
                break;
            case family::map_leaf:
                body = fn + "(ctx, node, tree, " + self + ", " + quoted(n.args[0]) + ", " +
                       quoted(n.args[1]) + ", " +
                       (n.args.size() > 2 ? quoted(n.args[2]) : std::string("nullptr")) + ")";
                break;
            case family::cond_leaf:
            case family::cond_index:
            case family::cond_container: {
                size_t rows = a.tables.at(n.args[0]).rows.size();
                body = fn + "(ctx, node, " + count + "tree, " + self + ", cond_table_" + n.args[0] +
                       ", " + std::to_string(rows) + ", " + n.args[1] + ")";
                break;
            }
        }
        if (!body.empty()) strong_and_alias(plain, n.k, body, n, n.replaced);
        if (n.k != kind::leaf)
            strong_and_alias(d.augments(n), kind::leaf,
                             "::ymap::" + d.dir + "::parse_augments(ctx, node, tree, " +
                                 quoted("__" + d.augments(n)) + ")",
                             n, false);
    }
    o << "\n}  // extern \"C\"\n";
    return o.str();
}

}  // namespace

int main(int argc, char **argv) {
    std::string yang_dir, annotation_file, out_dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--yang")
            yang_dir = argv[i + 1];
        else if (opt == "--annotations")
            annotation_file = argv[i + 1];
        else if (opt == "--out")
            out_dir = argv[i + 1];
        else
            die("unknown option " + opt);
    }
    if (yang_dir.empty() || annotation_file.empty() || out_dir.empty())
        die("usage: ymap_codegen --yang DIR --annotations FILE --out DIR");

    ly_log_options(LY_LOLOG | LY_LOSTORE_LAST);
    ly_ctx *ctx = nullptr;
    if (ly_ctx_new(yang_dir.c_str(), LY_CTX_DISABLE_SEARCHDIR_CWD, &ctx) != LY_SUCCESS)
        die("cannot create a libyang context on " + yang_dir);

    direction ox{"ox", "openconfiglocalrouting", "openconfig-local-routing", "", {}};
    direction xo{"xo", "velmoornatipstaticcfg", "Velmo-Ornat-ip-static-cfg", "", {}};
    load(ox, ctx);
    load(xo, ctx);
    annotations a = apply_annotations(annotation_file, {&ox, &xo});

    for (const direction *d : {&ox, &xo}) {
        write_file(out_dir + "/ymap_" + d->dir + "_schema.h", emit_schema(*d));
        write_file(out_dir + "/ymap_" + d->dir + "_handlers.inc", emit_handlers(*d, a, xo));
    }
    ly_ctx_destroy(ctx);
    return 0;
}
