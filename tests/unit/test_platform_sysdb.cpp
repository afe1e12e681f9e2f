// The configuration database as the plug-in's lookups use it: pattern
// searches, the entries the writer produces, and packed tuples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sysdb_writer.h"

namespace {

using platform::native_next_hop;

const std::string root = platform::static_route_root;

struct search_result {
    uint32_t rc = 0;
    uint32_t count = 0;
    std::vector<std::string> paths;
    std::vector<std::vector<uint8_t>> data;
};

class sysdb_test : public ::testing::Test {
protected:
    void SetUp() override {
        platform::sysdb_clear();
        ASSERT_EQ(_sysdb_bind(&conn, root.c_str(), 4), SYSDB_OK);
    }
    void TearDown() override { platform::sysdb_clear(); }

    search_result find(const std::string &pattern) {
        search_result r;
        r.count = 99;
        sysdb_datalist *list = reinterpret_cast<sysdb_datalist *>(&r);  // must be reset
        r.rc = sysdb_find_data(conn, pattern.c_str(), "", &r.count, &list, 4, 0);
        if (r.rc != SYSDB_OK) {
            EXPECT_EQ(list, nullptr);
            return r;
        }
        char *path = nullptr;
        void *data = nullptr;
        uint32_t type = 0, len = 0, reserved = 0;
        while (sysdb_datalist_next(list, &path, &type, &data, &len, &reserved) == SYSDB_OK) {
            r.paths.emplace_back(path);
            auto *bytes = static_cast<const uint8_t *>(data);
            r.data.emplace_back(bytes, bytes + len);
        }
        EXPECT_EQ(r.paths.size(), r.count);
        sysdb_datalist_free(list);
        return r;
    }

    // Last element of each found path: the next-hop key the plug-in reads.
    std::vector<std::string> keys(const std::string &pattern) {
        std::vector<std::string> k;
        for (const auto &p : find(pattern).paths) k.push_back(p.substr(p.rfind('/') + 1));
        return k;
    }

    static native_next_hop hop(bool ipv4, std::string prefix, uint32_t len, std::string intf,
                               std::string addr) {
        native_next_hop nh;
        nh.ipv4 = ipv4;
        nh.prefix = std::move(prefix);
        nh.prefix_length = len;
        nh.interface_name = std::move(intf);
        nh.next_hop_address = std::move(addr);
        return nh;
    }

    sysdb_connid_t conn = nullptr;
};

TEST_F(sysdb_test, route_pattern_sees_only_its_own_routes_next_hops) {
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 8, "", "192.0.2.1")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 8, "Gi0/0/0/1", "")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 1, "", "192.0.2.9")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 16, "", "192.0.2.2")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.64", 26, "", "192.0.2.3")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "0.0.0.0", 0, "Null0", "")), 0u);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(false, "::", 8, "", "2001:db8::1")), 0u);
    ASSERT_EQ(platform::sysdb_size(), 7u);

    const std::string v4 = "ipv4/unicast/ord_c/default/route/";
    EXPECT_EQ(
        keys(v4 + "0x0a000000/0x8/.*,.*/nexthop/"),
        (std::vector<std::string>{"Gi0_0_0_1,________,________", "________,0xc0000201,________"}));
    // "0x1" must not take in the /16 route stored under "0x10".
    EXPECT_EQ(keys(v4 + "0x0a000000/0x1/.*,.*/nexthop/"),
              (std::vector<std::string>{"________,0xc0000209,________"}));
    EXPECT_EQ(keys(v4 + "0x0a000000/0x10/.*,.*/nexthop/"),
              (std::vector<std::string>{"________,0xc0000202,________"}));
    EXPECT_EQ(keys(v4 + "0x0a000040/0x1a/.*,.*/nexthop/"),
              (std::vector<std::string>{"________,0xc0000203,________"}));
    EXPECT_EQ(keys(v4 + "0x00000000/0x0/.*,.*/nexthop/"),
              (std::vector<std::string>{"Null0,________,________"}));
    EXPECT_EQ(keys("ipv6/unicast/ord_c/default/route/0x00000000000000000000000000000000/0x8/"
                   ".*,.*/nexthop/"),
              (std::vector<std::string>{"________,0x20010db8000000000000000000000001,________"}));

    auto miss = find(v4 + "0x0a000000/0x18/.*,.*/nexthop/");
    EXPECT_EQ(miss.rc, 0x40818600u);
    EXPECT_EQ(miss.count, 0u);
    EXPECT_STREQ(cerr_strerror(miss.rc), "sysdb: no such entry");

    // The same search again after a write, after a route's next-hops are
    // erased, and after a clear, sees the change.
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 24, "", "192.0.2.4")), 0u);
    EXPECT_EQ(keys(v4 + "0x0a000000/0x18/.*,.*/nexthop/"),
              (std::vector<std::string>{"________,0xc0000204,________"}));
    platform::sysdb_erase_under(std::string(platform::static_route_root) +
                                platform::route_next_hops_path(true, "10.0.0.0", 24));
    EXPECT_EQ(find(v4 + "0x0a000000/0x18/.*,.*/nexthop/").rc, SYSDB_ERR_NOT_FOUND);
    ASSERT_EQ(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 24, "", "192.0.2.4")), 0u);
    platform::sysdb_clear();
    EXPECT_EQ(find(v4 + "0x0a000000/0x18/.*,.*/nexthop/").rc, SYSDB_ERR_NOT_FOUND);
}

TEST_F(sysdb_test, pattern_components_and_trailing_slash) {
    // The deep ones have more components than a pattern keeps without
    // allocating.
    for (const char *p :
         {"a/b", "a/b/c", "a/bc/d", "a/x/c", "a/b/c/d", "r/0x0,0x0/n/k", "r/nocomma/n/k", "ab/c",
          "d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17", "d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/x"})
        platform::sysdb_write(root + p, {});
    struct row {
        const char *pattern;
        std::vector<std::string> found;
    };
    const row rows[] = {
        {"a/", {"a/b"}},
        {"a/b", {"a/b"}},
        {"a/.*/c", {"a/b/c", "a/x/c"}},
        {"a/.*/", {"a/b/c", "a/bc/d", "a/x/c"}},
        {"a/b.*/", {"a/b/c", "a/bc/d"}},
        {"a/.*c/", {"a/bc/d"}},
        {".*/c", {"ab/c"}},
        {"r/.*,.*/n/", {"r/0x0,0x0/n/k"}},
        {"a/b/c/", {"a/b/c/d"}},
        {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17",
         {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17"}},
        {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/.*",
         {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17"}},
        {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/.*", {"d/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/x"}},
    };
    for (const auto &r : rows) {
        std::vector<std::string> expected;
        for (const auto &f : r.found) expected.push_back(root + f);
        EXPECT_EQ(find(r.pattern).paths, expected) << r.pattern;
    }
    for (const char *none : {"a/x/c/", "a/x", "a/b/c/d/", ".*/.*/.*/.*/.*/"})
        EXPECT_EQ(find(none).rc, SYSDB_ERR_NOT_FOUND) << none;
}

TEST_F(sysdb_test, searches_are_recorded_and_bad_handles_refused) {
    platform::sysdb_record_searches(true);
    find("x/");
    find("y/.*/");
    platform::sysdb_record_searches(false);
    find("z/");
    EXPECT_EQ(platform::sysdb_recorded_searches(), (std::vector<std::string>{"x/", "y/.*/"}));

    uint32_t count = 0;
    sysdb_datalist *list = nullptr;
    EXPECT_EQ(sysdb_find_data(nullptr, "x/", "", &count, &list, 4, 0), SYSDB_ERR_NOT_BOUND);
    EXPECT_EQ(sysdb_datalist_next(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SYSDB_ERR_BAD_ARGS);
    EXPECT_EQ(_sysdb_bind(nullptr, root.c_str(), 4), SYSDB_ERR_BAD_ARGS);
    EXPECT_STREQ(cerr_strerror(0x12345678u), "unknown error 0x12345678");
}

TEST_F(sysdb_test, written_next_hop_unpacks_with_absent_leaves_defaulted) {
    native_next_hop nh = hop(false, "2001:db8::", 32, "Gi0/0/0/1", "fe80::1");
    nh.explicit_path_name = "p1";
    nh.metric = 10;
    nh.tag = 100;
    nh.bfd_fast_detect = true;
    nh.description = "uplink";
    nh.index = "7";
    ASSERT_EQ(platform::sysdb_write_next_hop(nh), 0u);

    auto r = find(
        "ipv6/unicast/ord_c/default/route/0x20010db8000000000000000000000000/0x20/"
        ".*,.*/nexthop/");
    ASSERT_EQ(r.rc, SYSDB_OK);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0].substr(r.paths[0].rfind('/') + 1),
              "Gi0_0_0_1,0xfe800000000000000000000000000001,p1");

    uint32_t n[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    const char *object = nullptr, *descr = nullptr, *index = nullptr;
    ASSERT_EQ(tuple_unpack(r.data[0].data(), "%d%d%d%d%d%d%d%d%s%s%d%s", &n[0], &n[1], &n[2], &n[3],
                           &n[4], &n[5], &n[6], &n[7], &object, &descr, &n[8], &index),
              SYSDB_OK);
    const uint32_t expected[9] = {1, 0xffffffff, 0xffffffff, 10, 100, 0, 0x100001, 0, 0xffffffff};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(n[i], expected[i]) << "number " << i;
    EXPECT_STREQ(object, "");
    EXPECT_STREQ(descr, "uplink");
    EXPECT_STREQ(index, "7");
}

TEST_F(sysdb_test, writer_refuses_addresses_that_do_not_parse_for_the_family) {
    EXPECT_NE(platform::sysdb_write_next_hop(hop(true, "10.0.0.256", 8, "", "192.0.2.1")), 0u);
    EXPECT_NE(platform::sysdb_write_next_hop(hop(true, "10.0.0.0", 8, "", "2001:db8::1")), 0u);
    EXPECT_NE(platform::sysdb_write_next_hop(hop(false, "2001:db8::", 32, "", "192.0.2.1")), 0u);
    EXPECT_EQ(platform::next_hop_key(hop(false, "2001:db8::", 32, "", "192.0.2.1")), "");
    EXPECT_EQ(platform::sysdb_size(), 0u);
}

using platform::tuple_field;
tuple_field num(uint32_t v) {
    return {tuple_field::kind::number, v, {}};
}
tuple_field txt(std::string t) {
    return {tuple_field::kind::text, 0, std::move(t)};
}
const tuple_field absent{};

TEST(tuple, missing_fields_leave_their_holders_unchanged) {
    auto blob = platform::tuple_pack({num(5), absent, txt("x")});
    uint32_t a = 1, b = 2, d = 4;
    const char *c = nullptr, *e = "keep";
    ASSERT_EQ(tuple_unpack(blob.data(), "%d%d%s%d%s", &a, &b, &c, &d, &e), SYSDB_OK);
    EXPECT_EQ(a, 5u);
    EXPECT_EQ(b, 2u);
    EXPECT_STREQ(c, "x");
    EXPECT_EQ(d, 4u);
    EXPECT_STREQ(e, "keep");
}

TEST(tuple, malformed_or_mismatched_data_is_refused) {
    uint32_t a = 0, b = 0;
    const char *s = nullptr;
    auto mismatch = platform::tuple_pack({num(5), txt("x")});
    EXPECT_EQ(tuple_unpack(mismatch.data(), "%d%d", &a, &b), SYSDB_ERR_BAD_TUPLE);
    EXPECT_EQ(a, 5u);  // the field before the mismatch was taken

    // The length header ends the blob inside the text: nothing may be read past it.
    auto cut = platform::tuple_pack({txt("hello")});
    cut[0] = static_cast<uint8_t>(cut.size() - 2);
    EXPECT_EQ(tuple_unpack(cut.data(), "%s", &s), SYSDB_ERR_BAD_TUPLE);
    EXPECT_EQ(s, nullptr);

    auto unterminated = platform::tuple_pack({txt("hi")});
    unterminated.back() = '!';
    EXPECT_EQ(tuple_unpack(unterminated.data(), "%s", &s), SYSDB_ERR_BAD_TUPLE);

    auto unknown_type = platform::tuple_pack({num(1)});
    unknown_type[4] = 'q';
    EXPECT_EQ(tuple_unpack(unknown_type.data(), "%d", &a), SYSDB_ERR_BAD_TUPLE);
}

}  // namespace
