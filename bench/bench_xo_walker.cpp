// The native data walker with the real mapping callbacks: 100k native
// routes with two next-hops each, parsed once into a data tree, walked from
// router-static into OpenConfig adds. Timed: the walk and the adds it makes
// into a fresh output tree; not timed: parsing, and tearing the output down.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_data.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {

void xo_walker_to_oc(benchmark::State &state) {
    const auto routes = static_cast<uint32_t>(state.range(0));
    static oclr_bench::cached_tree cache;
    auto &data = cache.get(
        routes, [&] { return oclr_bench::native_store(0, routes); }, "router-static",
        yfw_host::native_namespace, false);
    const uint64_t nodes = cache.nodes;

    if (!oclr_bench::timed_walks(state, YFW_REQ_READ_CONFIG,
                                 ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic, data,
                                 "the walk refused the native data"))
        return;
    const auto walks = static_cast<double>(state.iterations());
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["per_route"] = benchmark::Counter(
        walks * routes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["per_node"] =
        benchmark::Counter(walks * static_cast<double>(nodes),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(xo_walker_to_oc)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
