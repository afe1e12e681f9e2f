// netconf-state (RFC 6022) and the YANG library (RFC 8525) as the server
// answers them, and RFC 6241 subtree filtering of that data. Clients ask
// for these at connect (yangcli reads the schema list to fetch modules it
// lacks), usually through a filter.
#include "netconf_monitoring.h"

#include <libyang/libyang.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace ocmap::netconf {

namespace {

constexpr const char *monitoring_module = "ietf-netconf-monitoring";

struct tree_free {
    void operator()(lyd_node *n) const { lyd_free_siblings(n); }
};
using tree_ptr = std::unique_ptr<lyd_node, tree_free>;

std::string date_and_time(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

void add_term(lyd_node *parent, const char *name, const std::string &value) {
    lyd_new_term(parent, nullptr, name, value.c_str(), 0, nullptr);
}

lyd_node *netconf_state(ly_ctx *ctx, const monitoring_snapshot &s) {
    const lys_module *mod = ly_ctx_get_module_implemented(ctx, monitoring_module);
    lyd_node *state = nullptr;
    if (mod == nullptr || lyd_new_inner(nullptr, mod, "netconf-state", 0, &state) != LY_SUCCESS)
        return nullptr;
    lyd_node *node = nullptr;
    lyd_new_inner(state, nullptr, "capabilities", 0, &node);
    for (const auto &c : s.capabilities) add_term(node, "capability", c);

    lyd_node *stores = nullptr;
    lyd_new_inner(state, nullptr, "datastores", 0, &stores);
    for (const auto &l : s.locks) {
        lyd_node *ds = nullptr;
        lyd_new_list(stores, nullptr, "datastore", 0, &ds, l.datastore);
        if (ds == nullptr || l.session == 0) continue;
        lyd_node *locks = nullptr, *global = nullptr;
        lyd_new_inner(ds, nullptr, "locks", 0, &locks);
        lyd_new_inner(locks, nullptr, "global-lock", 0, &global);
        add_term(global, "locked-by-session", std::to_string(l.session));
        add_term(global, "locked-time", date_and_time(l.since));
    }

    lyd_node *schemas = nullptr;
    lyd_new_inner(state, nullptr, "schemas", 0, &schemas);
    uint32_t i = 0;
    while (const lys_module *m = ly_ctx_get_module_iter(ctx, &i)) {
        lyd_node *schema = nullptr;
        lyd_new_list(schemas, nullptr, "schema", 0, &schema, m->name,
                     m->revision != nullptr ? m->revision : "", "ietf-netconf-monitoring:yang");
        if (schema == nullptr) continue;
        add_term(schema, "namespace", m->ns);
        add_term(schema, "location", "NETCONF");
    }

    lyd_node *sessions = nullptr;
    lyd_new_inner(state, nullptr, "sessions", 0, &sessions);
    for (const auto &c : s.sessions) {
        lyd_node *session = nullptr;
        lyd_new_list(sessions, nullptr, "session", 0, &session, std::to_string(c.id).c_str());
        if (session == nullptr) continue;
        add_term(session, "transport", "ietf-netconf-monitoring:netconf-ssh");
        add_term(session, "username", c.user);
        if (!c.host.empty()) add_term(session, "source-host", c.host);
        add_term(session, "login-time", date_and_time(c.login));
        add_term(session, "in-rpcs", std::to_string(c.in_rpcs));
        add_term(session, "in-bad-rpcs", std::to_string(c.in_bad_rpcs));
        add_term(session, "out-rpc-errors", std::to_string(c.out_rpc_errors));
        add_term(session, "out-notifications", "0");
    }

    lyd_node *stats = nullptr;
    lyd_new_inner(state, nullptr, "statistics", 0, &stats);
    add_term(stats, "netconf-start-time", date_and_time(s.stats.start));
    add_term(stats, "in-bad-hellos", std::to_string(s.stats.in_bad_hellos));
    add_term(stats, "in-sessions", std::to_string(s.stats.in_sessions));
    add_term(stats, "dropped-sessions", std::to_string(s.stats.dropped_sessions));
    add_term(stats, "in-rpcs", std::to_string(s.stats.in_rpcs));
    add_term(stats, "in-bad-rpcs", std::to_string(s.stats.in_bad_rpcs));
    add_term(stats, "out-rpc-errors", std::to_string(s.stats.out_rpc_errors));
    add_term(stats, "out-notifications", "0");
    return state;
}

// ---------------------------------------------------------------- filtering

std::string_view trimmed(const char *text) {
    std::string_view v = text != nullptr ? text : "";
    const char *space = " \t\r\n";
    std::size_t b = v.find_first_not_of(space);
    if (b == std::string_view::npos) return {};
    return v.substr(b, v.find_last_not_of(space) - b + 1);
}

// The text of a filter or data leaf; null for a node that cannot have one.
const char *text_of(const lyd_node *n) {
    if (n->schema == nullptr) return reinterpret_cast<const lyd_node_opaq *>(n)->value;
    if (n->schema->nodetype & LYD_NODE_TERM) return lyd_get_value(n);
    return nullptr;
}

bool has_attributes(const lyd_node *f) {
    if (f->schema == nullptr) return reinterpret_cast<const lyd_node_opaq *>(f)->attr != nullptr;
    return f->meta != nullptr;
}

// A filter element without a namespace matches the name in every namespace
// (RFC 6241 6.2.1). Our data carries no XML attributes, so a filter node
// with an attribute match selects nothing.
bool matches(const lyd_node *f, const lyd_node *d) {
    if (std::string_view(LYD_NAME(f)) != LYD_NAME(d) || has_attributes(f)) return false;
    std::string_view ns = node_namespace(f);
    return ns.empty() || ns == node_namespace(d);
}

bool is_content_match(const lyd_node *f) {
    return lyd_child(f) == nullptr && !trimmed(text_of(f)).empty();
}

struct selection {
    std::unordered_set<const lyd_node *> whole;  // kept with everything below
    std::unordered_set<const lyd_node *> path;   // kept, children filtered
};

// Filters the children of data node d by the children of the containment
// node f that matched it (RFC 6241 6.2.5: every content match of the
// sibling set must hold; content matches alone select the whole parent).
bool select_children(const lyd_node *d, const lyd_node *f, selection &sel) {
    bool only_content = true;
    bool any_content = false;
    for (const lyd_node *fc = lyd_child(f); fc != nullptr; fc = fc->next) {
        if (!is_content_match(fc)) {
            only_content = false;
            continue;
        }
        any_content = true;
        bool found = false;
        for (const lyd_node *dc = lyd_child(d); dc != nullptr && !found; dc = dc->next)
            found = matches(fc, dc) && text_of(dc) != nullptr &&
                    trimmed(text_of(dc)) == trimmed(text_of(fc));
        if (!found) return false;
    }
    if (only_content) {
        sel.whole.insert(d);
        return true;
    }
    bool selected = any_content;
    for (const lyd_node *fc = lyd_child(f); fc != nullptr; fc = fc->next) {
        bool content = is_content_match(fc);
        for (const lyd_node *dc = lyd_child(d); dc != nullptr; dc = dc->next) {
            if (!matches(fc, dc)) continue;
            if (content) {
                if (text_of(dc) != nullptr && trimmed(text_of(dc)) == trimmed(text_of(fc)))
                    sel.path.insert(dc);
            } else if (lyd_child(fc) == nullptr) {
                sel.whole.insert(dc);
                selected = true;
            } else if (select_children(dc, fc, sel)) {
                sel.path.insert(dc);
                selected = true;
            }
        }
    }
    return selected;
}

// Frees what the selection does not keep below d; list keys of a kept
// entry stay so that it still names itself.
void prune(lyd_node *d, const selection &sel) {
    for (lyd_node *c = lyd_child(d); c != nullptr;) {
        lyd_node *next = c->next;
        if (sel.whole.count(c) != 0) {
            // kept as it is
        } else if (sel.path.count(c) != 0) {
            prune(c, sel);
        } else if (c->schema == nullptr || !lysc_is_key(c->schema)) {
            lyd_free_tree(c);
        }
        c = next;
    }
}

}  // namespace

const char *node_namespace(const lyd_node *node) {
    if (node->schema != nullptr) return node->schema->module->ns;
    const char *ns = reinterpret_cast<const lyd_node_opaq *>(node)->name.module_ns;
    return ns != nullptr ? ns : "";
}

std::string monitoring_xml(ly_ctx *ctx, const monitoring_snapshot &snapshot,
                           const std::vector<const lyd_node *> *filter_roots) {
    tree_ptr data(netconf_state(ctx, snapshot));
    lyd_node *library = nullptr;
    if (ly_ctx_get_yanglib_data(ctx, &library, "%u", ly_ctx_get_change_count(ctx)) == LY_SUCCESS) {
        lyd_node *first = data.release();
        lyd_insert_sibling(first, library, &first);
        data.reset(first);
    }
    if (!data) return {};

    if (filter_roots != nullptr) {
        selection sel;
        for (const lyd_node *f : *filter_roots) {
            for (const lyd_node *d = data.get(); d != nullptr; d = d->next) {
                if (!matches(f, d) || is_content_match(f)) continue;
                if (lyd_child(f) == nullptr)
                    sel.whole.insert(d);
                else if (select_children(d, f, sel))
                    sel.path.insert(d);
            }
        }
        lyd_node *first = data.release();
        for (lyd_node *d = first; d != nullptr;) {
            lyd_node *next = d->next;
            if (sel.whole.count(d) != 0) {
                // kept as it is
            } else if (sel.path.count(d) != 0) {
                prune(d, sel);
            } else {
                if (d == first) first = next;
                lyd_free_tree(d);
            }
            d = next;
        }
        data.reset(first);
        if (!data) return {};
    }
    char *text = nullptr;
    lyd_print_mem(&text, data.get(), LYD_XML,
                  LYD_PRINT_WITHSIBLINGS | LYD_PRINT_SHRINK | LYD_PRINT_KEEPEMPTYCONT);
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
}

}  // namespace ocmap::netconf
