// A configuration made with `ocmap edit --apply` must read back through
// `ocmap get-config` as what was asked for: same routes, indices, next-hops,
// metrics, interfaces, subinterfaces and tags. Configurations are generated
// (fixed seeds) over every next-hop kind in both address families, and run
// through the real tool so that mapping, apply, store and read all take part.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <random>
#include <set>
#include <string>

#include "ocmap_process.h"

namespace {

using oclr_test::run_ocmap;
using oclr_test::slurp;

// One line per route and per next-hop; a missing leaf is "-". An interface
// without subinterface is subinterface 0, the form reads give it.
using facts = std::set<std::string>;

std::string text_of(const pugi::xml_node &n, const char *path) {
    pugi::xml_node c = n.first_element_by_path(path);
    return c ? c.text().get() : "-";
}

// Identity values carry whatever prefix a document bound, or none.
std::string identity_free(std::string v) {
    if (v == "DROP" || v == "LOCAL_LINK") return "oc-loc-rt:" + v;
    auto colon = v.find(':');
    if (colon != std::string::npos && v.find(':', colon + 1) == std::string::npos &&
        v.find('.') == std::string::npos)
        v = "oc-loc-rt" + v.substr(colon);
    return v;
}

facts facts_of(const pugi::xml_node &local_routes) {
    facts f;
    for (pugi::xml_node s : local_routes.child("static-routes").children("static")) {
        std::string p = s.child("prefix").text().get();
        f.insert("route " + p + " tag " + text_of(s, "config/set-tag"));
        for (pugi::xml_node nh : s.child("next-hops").children("next-hop")) {
            std::string intf = text_of(nh, "interface-ref/config/interface");
            std::string sub = text_of(nh, "interface-ref/config/subinterface");
            if (intf != "-" && sub == "-") sub = "0";
            f.insert("nh " + p + " " + nh.child("index").text().get() + " via " +
                     identity_free(text_of(nh, "config/next-hop")) + " metric " +
                     text_of(nh, "config/metric") + " intf " + intf + " sub " + sub);
        }
    }
    return f;
}

// A random configuration of `routes` routes per address family. Within a
// route every next-hop has its own address and interface, as the native
// lists key them; at most one discards.
std::string generate(unsigned seed, int routes) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    std::string x =
        "<config xmlns=\"urn:ietf:params:xml:ns:netconf:base:1.0\">"
        "<local-routes xmlns=\"http://openconfig.net/yang/local-routing\" "
        "xmlns:lr=\"http://openconfig.net/yang/local-routing\"><static-routes>";
    for (int v6 = 0; v6 < 2; ++v6) {
        for (int r = 0; r < routes; ++r) {
            std::string prefix = v6 ? "2001:db8:" + std::to_string(r + 1) + "::/48"
                                    : "10." + std::to_string(r) + ".0.0/16";
            x += "<static><prefix>" + prefix + "</prefix><config><prefix>" + prefix + "</prefix>";
            if (pick(2)) x += "<set-tag>" + std::to_string(1 + pick(4000)) + "</set-tag>";
            x += "</config><next-hops>";
            int count = 1 + pick(4);
            bool dropped = false;
            for (int h = 0; h < count; ++h) {
                std::string addr =
                    v6 ? "2001:db8::" + std::to_string(h + 1) : "192.0.2." + std::to_string(h + 1);
                std::string intf = "eth" + std::to_string(h) + "/" + std::to_string(pick(4));
                std::string via, ref;
                switch (pick(4)) {
                    case 0:  // address only
                        via = addr;
                        break;
                    case 1:  // interface and address
                        via = addr;
                        ref = "<interface>" + intf + "</interface>";
                        if (pick(2))
                            ref += "<subinterface>" + std::to_string(pick(200)) + "</subinterface>";
                        break;
                    case 2:  // interface only
                        via = pick(2) ? "LOCAL_LINK" : "lr:LOCAL_LINK";
                        ref = "<interface>" + intf + "</interface>";
                        if (pick(2))
                            ref += "<subinterface>" + std::to_string(1 + pick(200)) +
                                   "</subinterface>";
                        break;
                    default:  // discard
                        if (dropped) {
                            via = addr;
                            break;
                        }
                        dropped = true;
                        via = pick(2) ? "DROP" : "lr:DROP";
                        break;
                }
                std::string index = pick(2) ? std::to_string(h + 1) : "nh-" + std::to_string(h);
                x += "<next-hop><index>" + index + "</index><config><index>" + index +
                     "</index><next-hop>" + via + "</next-hop>";
                if (pick(2)) x += "<metric>" + std::to_string(1 + pick(254)) + "</metric>";
                x += "</config>";
                if (!ref.empty())
                    x += "<interface-ref><config>" + ref + "</config></interface-ref>";
                x += "</next-hop>";
            }
            x += "</next-hops></static>";
        }
    }
    return x + "</static-routes></local-routes></config>";
}

TEST(round_trip, applied_configurations_read_back_as_written) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        oclr_test::scratch_dir dir;
        const std::string edit = (dir.path / "edit.xml").string();
        const std::string store = (dir.path / "store.xml").string();
        oclr_test::spill(edit, generate(seed, 25));

        auto applied = run_ocmap({"edit", "--apply", "--store", store, edit}, dir.path);
        ASSERT_EQ(applied.status, 0) << applied.err;
        auto read = run_ocmap({"get-config", "--store", store}, dir.path);
        ASSERT_EQ(read.status, 0) << read.err;

        pugi::xml_document want_doc, got_doc;
        ASSERT_TRUE(want_doc.load_file(edit.c_str()));
        ASSERT_TRUE(got_doc.load_string(read.out.c_str())) << read.out;
        facts want = facts_of(want_doc.document_element().child("local-routes"));
        facts got = facts_of(got_doc.child("local-routes"));
        ASSERT_GT(want.size(), 100u);
        EXPECT_EQ(got, want);

        // Sending the same configuration again changes nothing.
        std::string before = slurp(store);
        auto again = run_ocmap({"edit", "--apply", "--store", store, edit}, dir.path);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(slurp(store), before);
    }
}

}  // namespace
