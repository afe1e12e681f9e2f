// Cost of one next-hop index lookup as the configuration database grows.
// The database holds N routes of two next-hops each, written by the
// platform's writer from native next-hop data; the lookup asks for the
// second next-hop of a route in the middle. With an ordered store the cost
// should stay flat from 10k to 1M routes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "sysdb_writer.h"
#include "yfw_host.h"
#include "ymap_ocstatic_openconfig_local_routing_man_util.h"

namespace {

std::string route_address(uint32_t i) {
    // Distinct /24 routes: 10.x.y.0 and onwards into 11.0.0.0 and beyond.
    uint32_t a = 0x0a000000u + (i << 8);
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xff) + "." +
           std::to_string((a >> 8) & 0xff) + ".0";
}

void fill(uint32_t routes) {
    static uint32_t filled = 0;
    if (filled == routes) return;
    platform::sysdb_clear();
    for (uint32_t i = 0; i < routes; ++i) {
        platform::native_next_hop nh;
        nh.prefix = route_address(i);
        nh.prefix_length = 24;
        nh.next_hop_address = "192.0.2.1";
        nh.index = "1";
        nh.tag = 100;
        platform::sysdb_write_next_hop(nh);
        nh.next_hop_address = "192.0.2.2";
        nh.index = "2";
        platform::sysdb_write_next_hop(nh);
    }
    filled = routes;
}

void index_lookup(benchmark::State &state) {
    const auto routes = static_cast<uint32_t>(state.range(0));
    fill(routes);
    const std::string prefix = route_address(routes / 2) + "/24";

    yfw_host::output_tree out;
    yfw_host::session s(YFW_REQ_EDIT, out, nullptr, {});
    auto *rec = static_cast<oc_lr_prefix_type *>(std::calloc(1, sizeof(oc_lr_prefix_type)));
    s.rctx()->common_data_ptr = rec;

    // The next-hop entry as the request tree carries it: its index key.
    yfw_map_node index{};
    index.tag = "index";
    index.value = "2";
    index.flags = YFW_NODE_HAS_VALUE;
    yfw_map_node entry{};
    entry.tag = "next-hop";
    entry.children = &index;
    entry.child_count = 1;
    entry.flags = YFW_NODE_CHILDREN_VALID;

    for (auto _ : state) {
        oc_lr_init_prefix_type(rec);
        rec->prefix = prefix.c_str();
        rec->is_ipv4 = 1;
        uint32_t rc = do_index_lookup_on_sysdb(s.ctx(), &entry);
        if (rc != 0 || rec->old_has_addr != 1) {
            state.SkipWithError("lookup did not find the stored next-hop");
            break;
        }
        benchmark::DoNotOptimize(rc);
    }
    state.counters["db_entries"] = static_cast<double>(platform::sysdb_size());
}

}  // namespace

BENCHMARK(index_lookup)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
