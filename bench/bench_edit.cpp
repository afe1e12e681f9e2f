// The OpenConfig edit mapping with the real callbacks, as the configuration
// grows: the database holds N routes of two next-hops each, and an edit of
// N further routes with two next-hops each is walked into a native edit.
// Every next-hop is looked up in the database (and found new) and every
// route's tag is pushed to its stored next-hops, so the figures show how
// the lookups scale. Timed: the walk and the document its adds build; not
// timed: parsing, filling the database and tearing the output down.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_data.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {

// The database is filled once per size, like the parsed edit.
yfw_host::request_tree &prepare(uint32_t routes, uint64_t &nodes) {
    static uint32_t filled = 0;
    static oclr_bench::cached_tree cache;
    if (filled != routes) {
        oclr_bench::fill_database(routes);
        filled = routes;
    }
    auto &edit = cache.get(
        routes, [&] { return oclr_bench::oc_edit(routes, routes); }, "local-routes",
        yfw_host::oc_namespace, true);
    nodes = cache.nodes;
    return edit;
}

void edit_mapping(benchmark::State &state) {
    const auto routes = static_cast<uint32_t>(state.range(0));
    uint64_t nodes = 0;
    auto &edit = prepare(routes, nodes);

    if (!oclr_bench::timed_walks(state, YFW_REQ_EDIT,
                                 ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, edit,
                                 "the mapping refused the edit"))
        return;
    const auto walks = static_cast<double>(state.iterations());
    state.counters["db_entries"] = static_cast<double>(platform::sysdb_size());
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["per_next_hop"] = benchmark::Counter(
        walks * 2 * routes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(edit_mapping)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
