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
#include <mutex>

#include <libyang/libyang.h>

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
    std::mutex validate;  // libyang's error slot is per context
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

void build(schema_node &parent, const lysc_node *first) {
    for (const lysc_node *n = first; n; n = n->next) {
        if (n->nodetype & (LYS_CHOICE | LYS_CASE)) {
            build(parent, lysc_node_child(n));
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
        switch (n->nodetype) {
            case LYS_CONTAINER: s->kind = schema_node::node_kind::container; break;
            case LYS_LIST: s->kind = schema_node::node_kind::list; break;
            case LYS_LEAF: s->kind = schema_node::node_kind::leaf; break;
            default: s->kind = schema_node::node_kind::leaf_list; break;
        }
        if (n->nodetype & (LYS_LEAF | LYS_LEAFLIST)) {
            s->value = classify(reinterpret_cast<const lysc_node_leaf *>(n)->type);
            s->is_key = (n->flags & LYS_KEY) != 0;
        }
        schema_node *raw = s.get();
        parent.children.push_back(std::move(s));
        if (n->nodetype & (LYS_CONTAINER | LYS_LIST)) build(*raw, lysc_node_child(n));
        if (raw->is_key) parent.keys.push_back(raw);
    }
}

std::unique_ptr<schema_node> root_of(const lys_module *m) {
    // A holder whose only child is the module's top container.
    auto holder = std::make_unique<schema_node>();
    build(*holder, m->compiled->data);
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

bool in_range(const lysc_range *r, uint64_t v) {
    if (r == nullptr) return true;
    LY_ARRAY_COUNT_TYPE i;
    LY_ARRAY_FOR(r->parts, i) {
        if (v >= r->parts[i].min_u64 && v <= r->parts[i].max_u64) return true;
    }
    return false;
}

bool in_signed_range(const lysc_range *r, int64_t v) {
    if (r == nullptr) return true;
    LY_ARRAY_COUNT_TYPE i;
    LY_ARRAY_FOR(r->parts, i) {
        if (v >= r->parts[i].min_64 && v <= r->parts[i].max_64) return true;
    }
    return false;
}

std::size_t utf8_length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xc0) != 0x80;
    return n;
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
    native_ = root_of(native);
    oc_ = root_of(oc);
    if (!native_ || !oc_) broken("top node", impl_->ctx);
}

yang_schema::~yang_schema() {
    native_.reset();
    oc_.reset();
    ly_ctx_destroy(impl_->ctx);
}

const yang_schema &yang_schema::get() {
    static const yang_schema schema;
    return schema;
}

const schema_node *yang_schema::root(std::string_view ns, std::string_view name) const {
    for (const schema_node *r : {native_.get(), oc_.get()})
        if (ns == r->ns && name == r->name) return r;
    return nullptr;
}

std::string yang_schema::check_value(const schema_node &leaf, std::string_view value) const {
    const lysc_type *t = real_type(reinterpret_cast<const lysc_node_leaf *>(leaf.ly)->type);
    // The types of the native module are checked here directly: libyang's
    // own check stores every value in its dictionary, which costs more than
    // parsing the whole document.
    if (is_integer(t->basetype)) {
        const auto *num = reinterpret_cast<const lysc_type_num *>(t);
        bool is_signed = t->basetype == LY_TYPE_INT8 || t->basetype == LY_TYPE_INT16 ||
                         t->basetype == LY_TYPE_INT32;
        uint64_t width_max = t->basetype == LY_TYPE_UINT8    ? 0xff
                             : t->basetype == LY_TYPE_UINT16 ? 0xffff
                                                             : 0xffffffffu;
        const char *end = value.data() + value.size();
        if (is_signed) {
            int64_t v = 0;
            auto [p, ec] = std::from_chars(value.data(), end, v);
            if (value.empty() || ec != std::errc() || p != end || !in_signed_range(num->range, v))
                return "not a valid integer in the range of " + leaf.name;
            return {};
        }
        uint64_t v = 0;
        auto [p, ec] = std::from_chars(value.data(), end, v);
        if (value.empty() || ec != std::errc() || p != end || v > width_max ||
            !in_range(num->range, v))
            return "not a number in the range of " + leaf.name;
        return {};
    }
    if (t->basetype == LY_TYPE_BOOL) {
        if (value != "true" && value != "false") return "not true or false";
        return {};
    }
    if (t->basetype == LY_TYPE_STRING) {
        const auto *str = reinterpret_cast<const lysc_type_str *>(t);
        if (!in_range(str->length, utf8_length(value)))
            return "length " + std::to_string(utf8_length(value)) +
                   " is outside the allowed length";
        if (str->patterns == nullptr) return {};
    }
    std::lock_guard<std::mutex> lock(impl_->validate);
    LY_ERR rc = lyd_value_validate(impl_->ctx, leaf.ly, value.data(), value.size(), nullptr,
                                   nullptr, nullptr);
    if (rc == LY_SUCCESS || rc == LY_EINCOMPLETE) return {};
    const char *msg = ly_errmsg(impl_->ctx);
    return msg ? msg : "invalid value";
}

}  // namespace yfw_host
