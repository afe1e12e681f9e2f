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

    for (auto _ : state) {
        state.PauseTiming();
        auto out = std::make_unique<yfw_host::output_tree>();
        // The document is built; the call-order record of the adds that
        // only --adds and the store's apply read is not, which keeps a
        // million-route edit within the machine's memory.
        out->record_adds(false);
        state.ResumeTiming();
        ymap_result rc;
        {
            yfw_host::session s(YFW_REQ_EDIT, *out, &edit, {});
            rc = s.run(ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, edit.root());
        }
        state.PauseTiming();
        out.reset();
        state.ResumeTiming();
        if (rc != YMAP_OK) {
            state.SkipWithError("the mapping refused the edit");
            break;
        }
    }
    const auto walks = static_cast<double>(state.iterations());
    state.counters["db_entries"] = static_cast<double>(platform::sysdb_size());
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["per_next_hop"] = benchmark::Counter(
        walks * 2 * routes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(edit_mapping)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
