// Registration through the loader, as the framework does it: the record the
// plug-in fills, the database library check, and the binding on a later call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform_runtime.h"
#include "yfw_host.h"
#include "ymap_platform.h"

namespace {

template <typename T>
T sym(const yfw_host::plugin &p, const char *name) {
    void *s = p.symbol(name);
    EXPECT_NE(s, nullptr) << name;
    return reinterpret_cast<T>(s);
}

}  // namespace

TEST(registration, missing_library_fills_record_returns_minus_one_then_later_call_binds) {
    // The first registration finds no database library.
    std::string real_dir = platform::pkg_lib_dir();
    ASSERT_FALSE(real_dir.empty()) << "libsysdb.so is not loaded";
    ASSERT_TRUE(std::filesystem::exists(real_dir + "/libsysdb.so"));
    auto empty = std::filesystem::temp_directory_path() / "oclr-no-pkg-lib";
    std::filesystem::create_directories(empty);
    platform::set_pkg_lib_dir(empty.string());

    std::string err;
    auto p = yfw_host::plugin::load(OCLR_PLUGIN_PATH, err);
    ASSERT_TRUE(p) << err;
    EXPECT_EQ(p->registration_status(), -1);

    const yfw_map_reg &r = p->record();
    EXPECT_STREQ(r.tree_name, "OC-LOCALROUTING tree");
    EXPECT_STREQ(r.native_ns, "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg");
    EXPECT_STREQ(r.oc_ns, "http://openconfig.net/yang/local-routing");
    EXPECT_STREQ(r.native_root, "router-static");
    EXPECT_STREQ(r.oc_root, "local-routes");
    EXPECT_EQ(r.first_int, 0);
    EXPECT_EQ(r.second_int, 1);
    EXPECT_EQ(r.spare_fn[0], nullptr);
    EXPECT_EQ(r.spare_fn[1], nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(r.oc_root_walker),
              p->symbol("ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes"));
    EXPECT_EQ(reinterpret_cast<void *>(r.native_root_walker),
              p->symbol("ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic"));

    auto *conn = sym<sysdb_connid_t *>(*p, "ip_static_sysdb_connid");
    EXPECT_EQ(*conn, nullptr) << "the connection must stay unbound";
    EXPECT_EQ(*sym<uint32_t *>(*p, "ipstatic_init_done"), 0u);

    // With the library in place a later call binds the connection.
    platform::set_pkg_lib_dir(real_dir);
    auto init = sym<int32_t (*)()>(*p, "yfw_ipstatic_init");
    EXPECT_EQ(init(), 0);
    ASSERT_NE(*conn, nullptr);

    // Once found, the library is not looked for again: a second call binds
    // even though the directory is gone.
    platform::set_pkg_lib_dir(empty.string());
    *conn = nullptr;
    EXPECT_EQ(init(), 0);
    EXPECT_NE(*conn, nullptr);
    uint32_t count = 0;
    sysdb_datalist *list = nullptr;
    EXPECT_EQ(sysdb_find_data(*conn, "ipv4/unicast/ord_c/default/route/.*/.*/.*,.*/nexthop/", "",
                              &count, &list, 4, 0),
              0x40818600u);
    platform::set_pkg_lib_dir(real_dir);
}
