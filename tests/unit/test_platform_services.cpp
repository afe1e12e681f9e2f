// Platform services the plug-in calls directly: address text, name
// classification, interface manager, bounded strings, the /pkg/lib/ check
// and the log sinks.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_runtime.h"
#include "ymap_platform.h"

extern "C" int __wrap_access(const char *path, int mode);

namespace {

TEST(address_text, hex_form_round_trips_and_carries_no_separators) {
    struct row {
        uint8_t family;
        const char *text;
        const char *hex;
    };
    for (const row &r :
         {row{YMAP_AF_INET, "192.0.2.1", "0xc0000201"}, row{YMAP_AF_INET, "0.0.0.0", "0x00000000"},
          row{YMAP_AF_INET6, "2001:db8::ab", "0x20010db80000000000000000000000ab"}}) {
        ip_addr_t a{};
        a.family = r.family;
        ASSERT_EQ(inet_pton(r.family == YMAP_AF_INET ? AF_INET : AF_INET6, r.text, a.addr), 1);
        char hex[46];
        ASSERT_EQ(ip_addr2hex_string(&a, hex, sizeof hex), 0u);
        EXPECT_STREQ(hex, r.hex);
        EXPECT_EQ(std::strpbrk(hex, "/,"), nullptr);

        ip_addr_t back;
        std::memset(&back, 0xee, sizeof back);
        ASSERT_EQ(hex_string2ip_addr(hex, &back), 0u);
        EXPECT_EQ(back.family, r.family);
        EXPECT_STREQ(ip_addr_string(&back), r.text);
    }
}

TEST(address_text, bad_records_buffers_and_texts_are_refused) {
    ip_addr_t a{};
    char hex[64];
    a.family = 7;
    EXPECT_NE(ip_addr2hex_string(&a, hex, sizeof hex), 0u);
    a.family = YMAP_AF_INET6;
    EXPECT_NE(ip_addr2hex_string(&a, hex, 34), 0u);  // one byte short of the terminator
    EXPECT_EQ(ip_addr2hex_string(&a, hex, 35), 0u);

    ip_addr_t untouched{};
    untouched.family = YMAP_AF_INET;
    for (const char *bad : {"0x123", "c0000201", "0xc00002g1", "0x", "", "0xc0000201ff"}) {
        EXPECT_NE(hex_string2ip_addr(bad, &untouched), 0u) << bad;
        EXPECT_EQ(untouched.family, YMAP_AF_INET) << bad;
    }
}

TEST(address_text, resolution_classifies_numeric_addresses_and_rejects_names) {
    const addrinfo hints{};
    for (auto [text, family] : {std::pair{"10.0.0.0", 2}, std::pair{"2001:db8::", 10},
                                std::pair{"::ffff:192.0.2.1", 10}}) {
        addrinfo *res = nullptr;
        ASSERT_EQ(getaddrinfo_ornat(text, nullptr, &hints, &res), 0) << text;
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(res->ai_family, family) << text;
        EXPECT_EQ(res->ai_addr->sa_family, family) << text;
        freeaddrinfo_ornat(res);
    }
    for (const char *name : {"localhost", "example.com", "10.0.0.0/8", "10.1", "",
                             static_cast<const char *>(nullptr)}) {
        addrinfo *res = nullptr;
        EXPECT_EQ(getaddrinfo_ornat(name, nullptr, &hints, &res), EAI_NONAME)
            << (name ? name : "(null)");
        EXPECT_EQ(res, nullptr);
    }
}

TEST(interface_manager, known_names_only) {
    platform::imc_set_known_interfaces({"GigabitEthernet0/0/0/0", "Null0"});
    const char *names[] = {"Null0", "GigabitEthernet0/0/0/1", "GigabitEthernet0/0/0/0"};
    uint64_t handles[3] = {};
    uint32_t statuses[3] = {};
    imc_find_result result{handles, statuses};
    ASSERT_EQ(imc_interface_find(yfw_ocifmgr_im_conn, 3, names, 0, &result), 0u);
    EXPECT_EQ(statuses[0], 0u);
    EXPECT_NE(statuses[1], 0u);
    EXPECT_EQ(statuses[2], 0u);
    EXPECT_EQ(handles[0], 2u);
    EXPECT_EQ(handles[2], 1u);
    EXPECT_NE(imc_interface_find(nullptr, 1, names, 0, &result), 0u);
    platform::imc_set_known_interfaces({});
}

TEST(bounded_strings, overflow_and_bad_arguments_leave_an_empty_destination) {
    char d[6];
    EXPECT_EQ(strcpy_s(d, sizeof d, "abcde"), 0);
    EXPECT_STREQ(d, "abcde");
    EXPECT_NE(strcpy_s(d, sizeof d, "abcdef"), 0);
    EXPECT_STREQ(d, "");

    // Only min(strlen, slen) characters have to fit.
    EXPECT_EQ(strncpy_s(d, sizeof d, "abcdefgh", 5), 0);
    EXPECT_STREQ(d, "abcde");
    EXPECT_NE(strncpy_s(d, sizeof d, "abcdefgh", 6), 0);
    EXPECT_STREQ(d, "");
    EXPECT_NE(strncpy_s(d, sizeof d, nullptr, 3), 0);

    strcpy_s(d, sizeof d, "ab");
    EXPECT_EQ(strcat_s(d, sizeof d, "cde"), 0);
    EXPECT_STREQ(d, "abcde");
    EXPECT_NE(strcat_s(d, sizeof d, "f"), 0);
    EXPECT_STREQ(d, "");

    // The buffer variants take the smaller of the two sizes.
    EXPECT_NE(__strncpy_s_to_buf(3, d, sizeof d, "abc", 3), 0);
    EXPECT_STREQ(d, "");
    EXPECT_EQ(__strncpy_s_to_buf(4, d, sizeof d, "abc", 3), 0);
    EXPECT_NE(__strcat_s_to_buf(4, d, sizeof d, "d"), 0);
    EXPECT_STREQ(d, "");

    d[0] = 'x';
    EXPECT_NE(strcpy_s(d, 0, "a"), 0);
    EXPECT_EQ(d[0], 'x');  // a zero size allows no write at all
}

TEST(pkg_lib, router_path_maps_onto_the_loaded_database_library) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&_sysdb_bind), &info), 0);
    const std::string real_dir = std::filesystem::absolute(info.dli_fname).parent_path().string();
    EXPECT_EQ(platform::pkg_lib_dir(), real_dir);
    EXPECT_EQ(__wrap_access("/pkg/lib/libsysdb.so", R_OK), 0);

    auto empty =
        std::filesystem::temp_directory_path() / ("oclr_pkg_lib_" + std::to_string(::getpid()));
    std::filesystem::create_directories(empty);
    platform::set_pkg_lib_dir(empty.string());
    errno = 0;
    EXPECT_EQ(__wrap_access("/pkg/lib/libsysdb.so", R_OK), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(__wrap_access(empty.c_str(), R_OK), 0);  // other paths are not mapped

    platform::set_pkg_lib_dir(real_dir);
    EXPECT_EQ(__wrap_access("/pkg/lib/libsysdb.so", R_OK), 0);
    platform::set_pkg_lib_dir("");
    std::filesystem::remove(empty);
}

class log_sinks : public ::testing::Test {
protected:
    void SetUp() override {
        platform::set_line_consumer([this](platform::sink_kind k, const std::string &line) {
            lines.emplace_back(k, line);
        });
    }
    void TearDown() override {
        platform::set_line_consumer({});
        for (auto k : {platform::sink_kind::error_log, platform::sink_kind::trace_log,
                       platform::sink_kind::trace_buffer})
            platform::set_sink_enabled(k, false);
    }
    std::vector<std::pair<platform::sink_kind, std::string>> lines;
    uint32_t site = 0xffffffffu;
};

TEST_F(log_sinks, disabled_sinks_never_reach_the_consumer) {
    using platform::sink_kind;
    _tlos_dt_log_filter_adv(platform::log_handle(sink_kind::error_log), 0, 0, 0, 0, 0, &site,
                            "ERR: %d", 1);
    _lstrace(platform::log_handle(sink_kind::trace_buffer), YMAP_TRACE_MASK, "t");
    EXPECT_TRUE(lines.empty());

    platform::set_sink_enabled(sink_kind::trace_log, true);
    platform::set_sink_enabled(sink_kind::trace_buffer, true);
    const std::string long_text(2000, 'x');
    _tlos_dt_log_filter_adv(platform::log_handle(sink_kind::trace_log), 0, 0, 0, 0, 0, &site,
                            "TRC: %s|%u", long_text.c_str(), 42u);
    _tlos_dt_log_filter_adv(platform::log_handle(sink_kind::error_log), 0, 0, 0, 0, 0, &site,
                            "still off");
    _lstrace(platform::log_handle(sink_kind::trace_buffer), YMAP_TRACE_MASK, "#1: TRC: f:1");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, sink_kind::trace_log);
    EXPECT_EQ(lines[0].second, "TRC: " + long_text + "|42");
    EXPECT_EQ(lines[1].first, sink_kind::trace_buffer);
    EXPECT_EQ(lines[1].second, "#1: TRC: f:1");
}

TEST_F(log_sinks, default_consumer_writes_one_line_each) {
    platform::set_line_consumer({});
    platform::set_sink_enabled(platform::sink_kind::trace_buffer, true);
    void *trace = platform::log_handle(platform::sink_kind::trace_buffer);
    ::testing::internal::CaptureStderr();
    _lstrace(trace, YMAP_TRACE_MASK, "one");
    _lstrace(trace, YMAP_TRACE_MASK, "two\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "one\ntwo\n");
}

}  // namespace
