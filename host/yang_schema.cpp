// The host's view of the two YANG modules, compiled with libyang.
//
// Why libyang at run time: the order of children, the list keys and the
// leaf types must come from the same module text the plug-in's tables are
// generated from, and the generated tables carry the plug-in's handler
// addresses, which the host must not link (it loads the plug-in with
// dlopen, possibly a different build). The module texts are built into the
// host library, so no file has to be found at run time; compiling them
// takes a few milliseconds once per process.
#include "yang_schema.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <libyang/libyang.h>

#include "value_types.h"

namespace yfw_host {

extern const char *const native_yang_text;
extern const char *const oc_yang_text;

const char *namespace_of_module(std::string_view module) {
    if (module == oc_module_name) return "http://openconfig.net/yang/local-routing";
    if (module == native_module_name)
        return "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg";
    if (module == netconf_module_name) return "urn:ietf:params:xml:ns:netconf:base:1.0";
    return nullptr;
}

const char *module_of_namespace(std::string_view ns) {
    for (const char *m : {oc_module_name, native_module_name, netconf_module_name})
        if (ns == namespace_of_module(m)) return m;
    return nullptr;
}

const schema_node *schema_node::child(std::string_view n) const {
    for (const auto &c : children)
        if (c->name == n) return c.get();
    return nullptr;
}

std::string schema_node::path() const {
    return parent ? parent->path() + "/" + name : "/" + name;
}

struct yang_schema::impl {
    ly_ctx *ctx = nullptr;
    value_type_set types;
};

namespace {

bool is_integer(LY_DATA_TYPE t) {
    switch (t) {
        case LY_TYPE_UINT8:
        case LY_TYPE_UINT16:
        case LY_TYPE_UINT32:
        case LY_TYPE_INT8:
        case LY_TYPE_INT16:
        case LY_TYPE_INT32: return true;
        default: return false;
    }
}

const lysc_type *real_type(const lysc_type *t) {
    while (t->basetype == LY_TYPE_LEAFREF)
        t = reinterpret_cast<const lysc_type_leafref *>(t)->realtype;
    return t;
}

value_class classify(const lysc_type *t) {
    t = real_type(t);
    if (is_integer(t->basetype)) return value_class::number;
    switch (t->basetype) {
        case LY_TYPE_BOOL: return value_class::boolean;
        case LY_TYPE_EMPTY: return value_class::empty;
        case LY_TYPE_IDENT: return value_class::identity;
        case LY_TYPE_UNION: {
            const auto *u = reinterpret_cast<const lysc_type_union *>(t);
            bool number = false, identity = false;
            LY_ARRAY_COUNT_TYPE i;
            LY_ARRAY_FOR(u->types, i) {
                value_class c = classify(u->types[i]);
                number |= c == value_class::number;
                identity |= c == value_class::identity;
            }
            if (number) return value_class::number_or_string;
            if (identity) return value_class::string_or_identity;
            return value_class::string;
        }
        default: return value_class::string;
    }
}

using type_owner = value_type_set;

// parent is the module holder (no name) for a module's top node.
void set_written_texts(schema_node &s, const schema_node &parent) {
    const bool top = parent.name.empty();
    s.depth = top ? 0 : static_cast<uint16_t>(parent.depth + 1);
    const std::string indent(static_cast<std::size_t>(s.depth) * 2, ' ');
    s.xml_open = indent + "<" + s.name + ">";
    s.xml_close = "</" + s.name + ">\n";
    s.xml_close_block = indent + s.xml_close;
    const bool qualified = top || std::strcmp(parent.module, s.module) != 0;
    s.json_member =
        "\"" + (qualified ? std::string(s.module) + ":" : std::string()) + s.name + "\": ";
}

void build(schema_node &parent, const lysc_node *first, type_owner &types) {
    for (const lysc_node *n = first; n; n = n->next) {
        if (n->nodetype & (LYS_CHOICE | LYS_CASE)) {
            build(parent, lysc_node_child(n), types);
            continue;
        }
        if (!(n->nodetype & (LYS_CONTAINER | LYS_LIST | LYS_LEAF | LYS_LEAFLIST))) continue;
        auto s = std::make_unique<schema_node>();
        s->name = n->name;
        s->ns = n->module->ns;
        s->module = n->module->name;
        s->parent = &parent;
        s->ly = n;
        s->order = static_cast<uint16_t>(parent.children.size());
        s->config = (n->flags & LYS_CONFIG_W) != 0;
        switch (n->nodetype) {
            case LYS_CONTAINER: s->kind = schema_node::node_kind::container; break;
            case LYS_LIST: s->kind = schema_node::node_kind::list; break;
            case LYS_LEAF: s->kind = schema_node::node_kind::leaf; break;
            default: s->kind = schema_node::node_kind::leaf_list; break;
        }
        if (n->nodetype & (LYS_LEAF | LYS_LEAFLIST)) {
            const lysc_type *t = reinterpret_cast<const lysc_node_leaf *>(n)->type;
            s->value = classify(t);
            s->type = value_type::compile(t, types);
            s->is_key = (n->flags & LYS_KEY) != 0;
        }
        set_written_texts(*s, parent);
        schema_node *raw = s.get();
        parent.children.push_back(std::move(s));
        if (n->nodetype & (LYS_CONTAINER | LYS_LIST)) build(*raw, lysc_node_child(n), types);
        for (const auto &c : raw->children)
            raw->lists_below |= c->kind == schema_node::node_kind::list || c->lists_below;
        if (raw->is_key) parent.keys.push_back(raw);
    }
}

std::unique_ptr<schema_node> root_of(const lys_module *m, type_owner &types) {
    // A holder whose only child is the module's top container.
    auto holder = std::make_unique<schema_node>();
    build(*holder, m->compiled->data, types);
    if (holder->children.size() != 1) return nullptr;
    std::unique_ptr<schema_node> top = std::move(holder->children.front());
    top->parent = nullptr;
    return top;
}

[[noreturn]] void broken(const char *what, ly_ctx *ctx) {
    // The module texts are part of the build; failing to compile them is a
    // broken build, not a user error.
    std::fprintf(stderr, "yfw_host: built-in YANG module %s does not compile: %s\n", what,
                 ctx ? ly_errmsg(ctx) : "no context");
    std::abort();
}

// Readers note which children of a node they have seen in a 64-bit mask
// indexed by the child's order.
bool fits_seen_masks(const schema_node &n) {
    if (n.children.size() > 64) return false;
    for (const auto &c : n.children)
        if (!fits_seen_masks(*c)) return false;
    return true;
}

}  // namespace

yang_schema::yang_schema() : impl_(std::make_unique<impl>()) {
    ly_log_options(LY_LOSTORE_LAST);
    if (ly_ctx_new(nullptr, LY_CTX_DISABLE_SEARCHDIRS, &impl_->ctx) != LY_SUCCESS)
        broken("context", nullptr);
    lys_module *native = nullptr, *oc = nullptr;
    if (lys_parse_mem(impl_->ctx, native_yang_text, LYS_IN_YANG, &native) != LY_SUCCESS)
        broken(native_module_name, impl_->ctx);
    if (lys_parse_mem(impl_->ctx, oc_yang_text, LYS_IN_YANG, &oc) != LY_SUCCESS)
        broken(oc_module_name, impl_->ctx);
    native_ = root_of(native, impl_->types);
    oc_ = root_of(oc, impl_->types);
    if (!native_ || !oc_) broken("top node", impl_->ctx);
    for (const schema_node *top : {native_.get(), oc_.get()})
        if (!fits_seen_masks(*top)) broken("node with more than 64 children", impl_->ctx);
    assign_plugin_limits(*oc_, *native_);
}

yang_schema::~yang_schema() {
    native_.reset();
    oc_.reset();
    ly_ctx_destroy(impl_->ctx);
}

const yang_schema &yang_schema::get() {
    // Never destroyed: tearing down thousands of schema nodes and the
    // libyang context at exit costs a run as much as reading a thousand
    // routes, and the process is ending anyway.
    static const yang_schema *schema = new yang_schema();
    return *schema;
}

const schema_node *yang_schema::root(std::string_view ns, std::string_view name) const {
    for (const schema_node *r : {native_.get(), oc_.get()})
        if (ns == r->ns && name == r->name) return r;
    return nullptr;
}

std::string yang_schema::check_value(const schema_node &leaf, std::string_view value) const {
    thread_local std::string scratch, why;
    std::string_view canonical;
    if (!canonical_value(*leaf.type, {value, lexical_kind::xml_text, nullptr}, leaf.module, scratch,
                         canonical, why))
        return why;
    if (canonical != value)
        return "is not in canonical form (write " + std::string(canonical) + ")";
    return leaf_limit_problem(leaf.limit, value);
}

}  // namespace yfw_host
