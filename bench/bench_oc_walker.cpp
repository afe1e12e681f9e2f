// The OpenConfig request walker's own cost: an edit of 100k routes with two
// next-hops each, parsed once, walked from the root with the mapping
// callbacks replaced by no-ops that only count their calls. What remains is
// the table-driven dispatch, the handler frame, the generated handlers and
// the host's hierarchy and list bookkeeping; no output adds are made.
#include <benchmark/benchmark.h>

#include "bench_data.h"
#include "oc_lr_types.h"
#include "ymap_ocstatic_oclocalrouting.h"

namespace {
uint64_t callback_calls = 0;

ymap_result counted() {
    ++callback_calls;
    return YMAP_OK;
}
}  // namespace

#define OC_CB(name) ymap_ox_ocstatic_openconfiglocalrouting_man_##name
#define OC_NOOP(name)                                                                       \
    extern "C" ymap_result OC_CB(name)(yfw_map_ctx *, yfw_map_node *, yfw_map_datatree *) { \
        return counted();                                                                   \
    }
extern "C" ymap_result OC_CB(cont_lvla_localroutes_staticroutes)(yfw_map_ctx *, yfw_map_node *,
                                                                 uint32_t, yfw_map_datatree *) {
    return counted();
}
OC_NOOP(list_lvla_localroutes_staticroutes_static)
OC_NOOP(leaf_lvla_localroutes_static_prefix)
OC_NOOP(leaf_lvla_localroutes_config_prefix)
OC_NOOP(leaf_lvla_localroutes_config_settag)
OC_NOOP(list_lvla_localroutes_nexthops_nexthop)
OC_NOOP(leaf_lvla_localroutes_config_nexthop)
OC_NOOP(leaf_lvla_localroutes_config_interface)
OC_NOOP(leaf_lvla_localroutes_config_subinterface)
extern "C" {
ymap_result oc_nexthops_cond_manual_callback(yfw_map_ctx *, uint32_t, ymap_cond_entry *) {
    return counted();
}
ymap_result oc_index_cond_manual_callback(yfw_map_ctx *, uint32_t, ymap_cond_entry *) {
    return counted();
}
ymap_result oc_metric_cond_manual_callback(yfw_map_ctx *, uint32_t, ymap_cond_entry *) {
    return counted();
}
}

namespace {

void oc_walker_edit(benchmark::State &state) {
    const auto routes = static_cast<uint32_t>(state.range(0));
    static oclr_bench::cached_tree cache;
    auto &req = cache.get(
        routes, [&] { return oclr_bench::oc_edit(0, routes); }, "local-routes",
        yfw_host::oc_namespace, true);
    const uint64_t nodes = cache.nodes;
    uint64_t calls_per_walk = 0;

    for (auto _ : state) {
        yfw_host::output_tree out;
        yfw_host::session s(YFW_REQ_EDIT, out, &req, {});
        callback_calls = 0;
        ymap_result rc =
            s.run(ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes, req.root());
        if (rc != YMAP_OK) {
            state.SkipWithError("the walk refused the edit");
            break;
        }
        calls_per_walk = callback_calls;
    }
    const auto walks = static_cast<double>(state.iterations());
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["callbacks"] = static_cast<double>(calls_per_walk);
    // Seconds per node, shown by the reporter in ns.
    state.counters["per_node"] =
        benchmark::Counter(walks * static_cast<double>(nodes),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["per_route"] = benchmark::Counter(
        walks * routes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(oc_walker_edit)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
