// An OpenConfig answer written while the native walk makes it. The walk
// makes the routes one after another: each route's adds are gathered in a
// small output tree, which merges equal entries and puts children in schema
// order as a whole answer would, and the route is written (cut to the
// filter, when there is one) as soon as the next one starts. Only one route
// is held at a time, so an answer of a million routes needs the memory of
// one.
#pragma once

#include <cstdio>
#include <string>
#include <unordered_set>

#include "data_tree.h"
#include "subtree_filter.h"
#include "yfw_host.h"

namespace yfw_host {

class answer_writer final : public add_target {
public:
    // list: the list whose entries the walk makes one after another (the
    // static routes); filter: the request's subtree filter, or null.
    answer_writer(const schema_node &list, doc_format f, std::FILE *file,
                  const yfw_map_node *filter);
    ymap_result add(const char *path, const char *ns, const char *value,
                    const yfw_map_node *req_node, int flag1, int flag2) override;
    // Writes the last entry and ends the document. False with err set when
    // the walk wrote outside the list, two entries had the same keys (one
    // would be lost), or writing failed.
    bool finish(std::string &err);

private:
    bool write_entry();

    const schema_node &list_;
    const schema_node &root_;
    std::string list_path_;  // "/local-routes/static-routes/static"
    streamed_document doc_;
    list_filter filter_;
    const yfw_map_node *filter_root_;
    output_tree entry_;  // the entry being made
    output_tree rest_;   // the containers above the list, as the walk adds them
    doc_format format_;
    std::FILE *file_;
    bool open_ = false;
    std::unordered_set<std::string> keys_;  // of the entries written, to refuse a repeat
    std::string error_;
};

}  // namespace yfw_host
