// The handler frame, observed through the plug-in's no-mapping stubs: the
// records they write with tracing and logging on or off, the argument check
// and the null-context stop.
#include <gtest/gtest.h>

#include <regex>

#include "test_support.h"
#include "ymap_ocstatic_oclocalrouting.h"

using namespace oclr_test;
using platform::sink_kind;

namespace {

struct frame_fixture : ::testing::Test {
    yfw_host::request_tree req =
        parse("<local-routes xmlns='http://openconfig.net/yang/local-routing'/>");
    yfw_host::output_tree out;
    line_recorder rec;

    void SetUp() override { yfw_host::reset_trace_index(); }

    std::vector<std::string> texts(sink_kind k) const {
        std::vector<std::string> v;
        for (const auto &l : rec.lines)
            if (l.sink == k) v.push_back(l.text);
        return v;
    }
};

std::string ptr_text(const void *p) {
    char buf[32];
    snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

}  // namespace

TEST_F(frame_fixture, records_start_and_end_in_log_and_trace_with_running_numbers) {
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {true, true, false});
    std::string ctx = ptr_text(s.ctx());
    ASSERT_EQ(0u, ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container(s.ctx(), req.root(), 0,
                                                                             s.tree()));
    ASSERT_EQ(51u,
              ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(s.ctx(), req.root(), s.tree()));

    EXPECT_EQ(texts(sink_kind::trace_log),
              (std::vector<std::string>{
                  "TRC: YFW: ctx=" + ctx + ",Start", "TRC: YFW: ctx=" + ctx + ",End",
                  "TRC: YFW: ctx=" + ctx + ",Start", "TRC: YFW: ctx=" + ctx + ",End"}));
    auto trace = texts(sink_kind::trace_buffer);
    ASSERT_EQ(trace.size(), 4u);
    const std::regex line(R"(#(\d+): TRC: (\w+):(\d+) ctx=(0x[0-9a-f]+),(Start|End))");
    const char *names[] = {"ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container",
                           "ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container",
                           "ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf",
                           "ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf"};
    for (size_t i = 0; i < trace.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(trace[i], m, line)) << trace[i];
        EXPECT_EQ(m[1].str(), std::to_string(i + 1));
        EXPECT_EQ(m[2].str(), names[i]);
        EXPECT_EQ(m[4].str(), ctx);
        EXPECT_EQ(m[5].str(), i % 2 ? "End" : "Start");
    }
    EXPECT_TRUE(texts(sink_kind::error_log).empty());
}

TEST_F(frame_fixture, invalid_arguments_give_start_and_error_but_no_end) {
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {true, true, false});
    std::string ctx = ptr_text(s.ctx());
    EXPECT_EQ(0xaaf2a000u, ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container(
                               s.ctx(), nullptr, 3, s.tree()));
    EXPECT_EQ(0xaaf2a000u,
              ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(s.ctx(), req.root(), nullptr));

    EXPECT_EQ(texts(sink_kind::error_log),
              (std::vector<std::string>{"ERR: YFW: ctx=" + ctx + ",Invalid arguments passed!",
                                        "ERR: YFW: ctx=" + ctx + ",Invalid arguments passed!"}));
    auto trace = texts(sink_kind::trace_buffer);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_TRUE(std::regex_match(trace[0],
                                 std::regex(R"(#1: TRC: \w+container:\d+ ctx=0x[0-9a-f]+,Start)")));
    EXPECT_TRUE(std::regex_match(
        trace[1],
        std::regex(R"(#2: ERR: \w+container:\d+ ctx=0x[0-9a-f]+,Invalid arguments passed!)")));
    EXPECT_TRUE(std::regex_match(
        trace[3], std::regex(R"(#4: ERR: \w+leaf:\d+ ctx=0x[0-9a-f]+,Invalid arguments passed!)")));
    for (const auto &l : rec.lines) EXPECT_EQ(l.text.find(",End"), std::string::npos) << l.text;
}

TEST_F(frame_fixture, quiet_request_produces_nothing_and_stubs_keep_their_results) {
    yfw_host::session s(YFW_REQ_EDIT, out, &req, {false, false, false});
    EXPECT_EQ(51u,
              ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(s.ctx(), req.root(), s.tree()));
    EXPECT_EQ(0u,
              ymap_ox_ocstatic_openconfiglocalrouting_duck_map_list(s.ctx(), req.root(), s.tree()));
    EXPECT_EQ(0u, ymap_ox_ocstatic_openconfiglocalrouting_duck_map_container(s.ctx(), req.root(), 0,
                                                                             s.tree()));
    EXPECT_EQ(0xaaf2a000u,
              ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(s.ctx(), nullptr, s.tree()));
    EXPECT_TRUE(rec.lines.empty());
    EXPECT_TRUE(out.adds().empty());
}

TEST_F(frame_fixture, end_record_only_stubs_skip_start_and_argument_check) {
    yfw_host::session s(YFW_REQ_READ_CONFIG, out, &req, {true, true, false});
    // The native stubs and the OpenConfig list stub accept even a null node:
    // their frame is the end record alone.
    EXPECT_EQ(0u, ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_leaf(s.ctx(), nullptr, nullptr));
    EXPECT_EQ(0u, ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_list(s.ctx(), nullptr, s.tree()));
    EXPECT_EQ(0u, ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_container(s.ctx(), nullptr, 0,
                                                                            nullptr));
    EXPECT_EQ(0u, ymap_ox_ocstatic_openconfiglocalrouting_duck_map_list(s.ctx(), nullptr, nullptr));
    auto trace = texts(sink_kind::trace_buffer);
    ASSERT_EQ(trace.size(), 4u);
    for (const auto &t : trace)
        EXPECT_TRUE(std::regex_match(t, std::regex(R"(#\d+: TRC: \w+:\d+ ctx=0x[0-9a-f]+,End)")))
            << t;
    EXPECT_NE(trace[0].find("ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_leaf"),
              std::string::npos);
    EXPECT_EQ(texts(sink_kind::trace_log).size(), 4u);
    EXPECT_TRUE(texts(sink_kind::error_log).empty());
}

TEST(frame_death, null_context_stops_the_process_with_the_assertion_line) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    yfw_host::output_tree out;
    auto req = parse("<local-routes xmlns='http://openconfig.net/yang/local-routing'/>");
    EXPECT_DEATH(
        ymap_ox_ocstatic_openconfiglocalrouting_duck_map_leaf(nullptr, req.root(), nullptr),
        R"(/[^ ]*ymap_ocstatic_openconfig_local_routing_auto\.cpp: [0-9]+ NULL != ctx -- assertion failed)");
    EXPECT_DEATH(
        ymap_xo_ocstatic_velmoornatipstaticcfg_duck_map_list(nullptr, req.root(), nullptr),
        R"(ymap_ocstatic_velmo_ornat_ip_static_cfg_auto\.cpp: [0-9]+ NULL != ctx -- assertion failed)");
}
