// Generated route sets for the benchmarks: native running configurations and
// OpenConfig edits of N routes with two next-hops each. The same layout as
// bench/scale writes to files, so in-process and end-to-end figures measure
// the same data: three routes in four are IPv4, and the two next-hops of a
// route take two neighbouring kinds of address only, interface and address,
// interface only, and drop.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "document_reader.h"
#include "sysdb_writer.h"
#include "yfw_host.h"

namespace oclr_bench {

enum class nh_kind { address, interface_address, interface_only, drop };

inline bool is_ipv6(uint32_t route) {
    return route % 4 == 3;
}

inline nh_kind kind_of(uint32_t route, uint32_t hop) {
    return static_cast<nh_kind>((route + hop) % 4);
}

// Route `route` as native prefix text and length; distinct for every route
// number up to 2^24, so a store and an edit can take disjoint ranges.
inline std::string prefix_text(uint32_t route, unsigned &length) {
    char buf[48];
    if (is_ipv6(route)) {
        std::snprintf(buf, sizeof buf, "2001:db8:%x:%x::", route >> 16, route & 0xffff);
        length = 64;
    } else {
        uint32_t a = 0x0a000000u + (route << 8);
        std::snprintf(buf, sizeof buf, "%u.%u.%u.0", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff);
        length = 24;
    }
    return buf;
}

inline std::string hop_address(uint32_t route, uint32_t hop) {
    return is_ipv6(route) ? "2001:db8:ffff::" + std::to_string(hop + 1)
                          : "192.0.2." + std::to_string(hop + 1);
}

inline std::string hop_interface(uint32_t route) {
    return "GigabitEthernet0/0/0/" + std::to_string(route % 8);
}

// Next-hop `hop` of route `route` as the native configuration holds it;
// a drop is the interface Null0.
inline platform::native_next_hop native_hop(uint32_t route, uint32_t hop) {
    platform::native_next_hop nh;
    unsigned len = 0;
    nh.ipv4 = !is_ipv6(route);
    nh.prefix = prefix_text(route, len);
    nh.prefix_length = len;
    nh.index = std::to_string(hop + 1);
    nh.tag = 100;
    switch (kind_of(route, hop)) {
        case nh_kind::address:
            nh.next_hop_address = hop_address(route, hop);
            nh.metric = 10;
            break;
        case nh_kind::interface_address:
            nh.interface_name = hop_interface(route);
            nh.next_hop_address = hop_address(route, hop);
            nh.metric = 10;
            break;
        case nh_kind::interface_only: nh.interface_name = hop_interface(route); break;
        case nh_kind::drop: nh.interface_name = "Null0"; break;
    }
    return nh;
}

// A native router-static document holding routes [first, first + count).
inline std::string native_store(uint32_t first, uint32_t count) {
    std::string doc =
        "<router-static xmlns=\"http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg\">"
        "<default-vrf><address-family>";
    doc.reserve(static_cast<size_t>(count) * 600 + 512);
    for (int v6 = 0; v6 < 2; ++v6) {
        doc += v6 ? "<vrfipv6>" : "<vrfipv4>";
        doc += "<vrf-unicast><vrf-prefixes>";
        for (uint32_t r = first; r < first + count; ++r) {
            if (is_ipv6(r) != (v6 == 1)) continue;
            // Two statements: the operands of + are unsequenced, so len could be
            // read before prefix_text sets it.
            unsigned len = 0;
            std::string prefix = prefix_text(r, len);
            doc += "<vrf-prefix><prefix>" + prefix + "</prefix><prefix-length>" +
                   std::to_string(len) + "</prefix-length><vrf-route><vrf-next-hop-table>";
            for (uint32_t h = 0; h < 2; ++h) {
                platform::native_next_hop nh = native_hop(r, h);
                const char *list = nh.interface_name.empty() ? "vrf-next-hop-next-hop-address"
                                   : nh.next_hop_address.empty()
                                       ? "vrf-next-hop-interface-name"
                                       : "vrf-next-hop-interface-name-next-hop-address";
                doc += std::string("<") + list + ">";
                if (!nh.interface_name.empty())
                    doc += "<interface-name>" + nh.interface_name + "</interface-name>";
                if (!nh.next_hop_address.empty())
                    doc += "<next-hop-address>" + nh.next_hop_address + "</next-hop-address>";
                if (nh.metric) doc += "<metric>" + std::to_string(*nh.metric) + "</metric>";
                doc += "<tag>" + std::to_string(*nh.tag) + "</tag><index>" + nh.index + "</index>";
                doc += std::string("</") + list + ">";
            }
            doc += "</vrf-next-hop-table></vrf-route></vrf-prefix>";
        }
        doc += "</vrf-prefixes></vrf-unicast>";
        doc += v6 ? "</vrfipv6>" : "</vrfipv4>";
    }
    doc += "</address-family></default-vrf></router-static>";
    return doc;
}

// The configuration database as a store of routes [0, count) fills it,
// written directly rather than through a parsed document, so that a million
// routes take seconds.
inline void fill_database(uint32_t count) {
    platform::sysdb_clear();
    for (uint32_t r = 0; r < count; ++r)
        for (uint32_t h = 0; h < 2; ++h) platform::sysdb_write_next_hop(native_hop(r, h));
}

// An OpenConfig edit (merge) of routes [first, first + count).
inline std::string oc_edit(uint32_t first, uint32_t count) {
    std::string doc =
        "<local-routes xmlns=\"http://openconfig.net/yang/local-routing\" "
        "xmlns:oc-loc-rt=\"http://openconfig.net/yang/local-routing\"><static-routes>";
    doc.reserve(static_cast<size_t>(count) * 700 + 256);
    for (uint32_t r = first; r < first + count; ++r) {
        unsigned len = 0;
        std::string prefix = prefix_text(r, len);  // sets len: not in the same expression
        prefix += "/" + std::to_string(len);
        doc += "<static><prefix>" + prefix + "</prefix><config><prefix>" + prefix +
               "</prefix><set-tag>100</set-tag></config><next-hops>";
        for (uint32_t h = 0; h < 2; ++h) {
            std::string index = std::to_string(h + 1);
            doc += "<next-hop><index>" + index + "</index><config><index>" + index + "</index>";
            nh_kind k = kind_of(r, h);
            if (k == nh_kind::address || k == nh_kind::interface_address)
                doc += "<next-hop>" + hop_address(r, h) + "</next-hop><metric>10</metric>";
            else if (k == nh_kind::drop)
                doc += "<next-hop>oc-loc-rt:DROP</next-hop>";
            doc += "</config>";
            if (k == nh_kind::interface_address || k == nh_kind::interface_only)
                doc += "<interface-ref><config><interface>" + hop_interface(r) +
                       "</interface></config></interface-ref>";
            doc += "</next-hop>";
        }
        doc += "</next-hops></static>";
    }
    doc += "</static-routes></local-routes>";
    return doc;
}

// Every node of a tree, the root included: what a walk of the whole tree
// visits.
inline uint64_t count_nodes(const yfw_map_node *n) {
    uint64_t c = 1;
    for (uint32_t i = 0; i < n->child_count; ++i) c += count_nodes(&n->children[i]);
    return c;
}

inline yfw_host::request_tree parse_or_die(const std::string &xml, const char *root, const char *ns,
                                           bool edit) {
    yfw_host::input_error err;
    const auto &schema = yfw_host::yang_schema::get();
    const yfw_host::schema_node *r = schema.root(ns, root);
    std::optional<yfw_host::request_tree> t;
    if (r == &schema.native_root()) {
        if (auto data = yfw_host::read_data_document(xml, "bench.xml", *r,
                                                     yfw_host::document_role::data, err))
            t = yfw_host::request_tree_of(*data->root);
    } else {
        t = yfw_host::read_request_document(
            xml, "bench.xml", *r,
            edit ? yfw_host::document_role::edit : yfw_host::document_role::filter, err);
    }
    if (!t) {
        std::fprintf(stderr, "benchmark input refused: %s\n", err.text().c_str());
        std::abort();
    }
    return std::move(*t);
}

// Google Benchmark calls a benchmark function several times per argument
// while it settles the iteration count; a tree is parsed once per size and
// kept until another size is asked for.
struct cached_tree {
    uint32_t routes = 0;
    std::optional<yfw_host::request_tree> tree;
    uint64_t nodes = 0;

    yfw_host::request_tree &get(uint32_t n, const std::function<std::string()> &text,
                                const char *root, const char *ns, bool edit) {
        if (tree && routes == n) return *tree;
        tree.reset();
        tree.emplace(parse_or_die(text(), root, ns, edit));
        nodes = count_nodes(tree->root());
        routes = n;
        return *tree;
    }
};

// Runs the walker over tree once per benchmark iteration, timing the walk
// and the output document it builds; making and tearing down the output tree
// are not timed. The call-order record of the adds, which only --adds and
// the store's apply read, is not kept: that keeps a million-route edit
// within the machine's memory. Returns false (and marks the benchmark) when
// the walk refuses.
inline bool timed_walks(benchmark::State &state, uint32_t kind, yfw_map_walker_fn walker,
                        yfw_host::request_tree &tree, const char *refusal) {
    for (auto _ : state) {
        state.PauseTiming();
        auto out = std::make_unique<yfw_host::output_tree>();
        out->record_adds(false);
        state.ResumeTiming();
        ymap_result rc;
        {
            yfw_host::session s(kind, *out, &tree, {});
            rc = s.run(walker, tree.root());
        }
        state.PauseTiming();
        out.reset();
        state.ResumeTiming();
        if (rc != YMAP_OK) {
            state.SkipWithError(refusal);
            return false;
        }
    }
    return true;
}

}  // namespace oclr_bench
