#include "answer_writer.h"

#include <cstring>

namespace yfw_host {

namespace {

const schema_node &root_of(const schema_node &s) {
    const schema_node *r = &s;
    while (r->parent != nullptr) r = r->parent;
    return *r;
}

std::string path_of(const schema_node &s) {
    return s.parent == nullptr ? "/" + s.name : path_of(*s.parent) + "/" + s.name;
}

// The entry of the list in a document holding one entry.
out_node *entry_in(out_node &doc, const schema_node &list) {
    out_node *n = &doc;
    std::vector<const schema_node *> path;
    for (const schema_node *s = &list; s->parent != nullptr; s = s->parent)
        path.insert(path.begin(), s);
    for (const schema_node *s : path) {
        out_node *next = nullptr;
        for (out_node *c : n->children)
            if (c->schema == s) next = c;
        if (next == nullptr) return nullptr;
        n = next;
    }
    return n;
}

}  // namespace

answer_writer::answer_writer(const schema_node &list, doc_format f, std::FILE *file,
                             const yfw_map_node *filter)
    : list_(list),
      root_(root_of(list)),
      list_path_(path_of(list)),
      doc_(list, f, file),
      filter_root_(filter),
      format_(f),
      file_(file) {
    if (filter != nullptr) filter_ = filter_for_list(*filter, list);
    entry_.record_adds(false);
    entry_.entries_are_distinct(true);
    entry_.expect_root(root_);
    rest_.record_adds(false);
    rest_.expect_root(root_);
}

ymap_result answer_writer::add(const char *path, const char *ns, const char *value,
                               const yfw_map_node *req_node, int flag1, int flag2) {
    std::string_view p(path != nullptr ? path : "");
    bool in_list =
        p.starts_with(list_path_) && (p.size() == list_path_.size() || p[list_path_.size()] == '/');
    if (in_list) {
        if (p.size() == list_path_.size() && flag1 == 1) {
            if (open_) write_entry();
            entry_.clear();
            open_ = true;
        }
        open_ = true;
        return entry_.add(path, ns, value, req_node, flag1, flag2);
    }
    // Only the containers above the list may come outside its entries: the
    // answer is written around the entries, which leaves no place for
    // anything else.
    bool above = list_path_.starts_with(p) && list_path_.size() > p.size() &&
                 list_path_[p.size()] == '/' && value == nullptr;
    if (!above && error_.empty())
        error_ = "the mapping wrote " + std::string(p) + " outside the entries of " + list_path_;
    if (above) rest_.add(path, ns, value, req_node, flag1, flag2);
    return YMAP_OK;
}

bool answer_writer::write_entry() {
    std::string err;
    out_node *doc = entry_.document_of(root_, err);
    if (doc == nullptr) {
        if (error_.empty()) error_ = err;
        return false;
    }
    out_node *entry = entry_in(*doc, list_);
    if (entry == nullptr) return true;
    // Entries are made one by one, so two with one key would each stand in
    // the answer: one of them would be lost to whoever reads it.
    std::string id;
    for (const schema_node *k : list_.keys)
        for (const out_node *c : entry->children)
            if (c->schema == k && c->value()) id.append(*c->value()).push_back('\0');
    if (!keys_.insert(id).second) {
        std::string shown;
        for (const schema_node *k : list_.keys)
            for (const out_node *c : entry->children)
                if (c->schema == k && c->value())
                    shown += "[" + k->name + "=" + quoted(*c->value()) + "]";
        if (error_.empty())
            error_ = "two entries " + list_path_ + shown + ": one of them would be lost";
        return false;
    }
    if (filter_root_ != nullptr && !filter_entry(*entry, filter_)) return true;
    doc_.write_entry(*entry);
    return true;
}

bool answer_writer::finish(std::string &err) {
    if (open_ && error_.empty()) write_entry();
    open_ = false;
    bool written = true;
    if (error_.empty() && doc_.entries() == 0) {
        // No entry: the containers the walk made, as a whole answer would
        // show them.
        out_node *doc = rest_.document_of(root_, err);
        if (doc == nullptr) return false;
        if (filter_root_ != nullptr) apply_subtree_filter(*doc, *filter_root_);
        written = write_document(*doc, format_, false, file_);
    } else if (error_.empty()) {
        written = doc_.close();
    }
    if (!error_.empty()) {
        err = error_;
        return false;
    }
    if (!written) err = "cannot write the answer";
    return written;
}

}  // namespace yfw_host
