// Bad input of every kind, through the tool as a user runs it: `ocmap edit
// --apply` must answer with the documented status and a clear error, and the
// store must be byte for byte what it was. Status 2 is input the tool cannot
// use (the message names the file, and the line and column for XML); status 1
// is a refusal by the mapping or by the store, on one error line.
#include <gtest/gtest.h>

#include <regex>

#include "ocmap_process.h"

namespace {

using namespace oclr_test;

const std::string NC = "urn:ietf:params:xml:ns:netconf:base:1.0";
const std::string OC = "http://openconfig.net/yang/local-routing";
const std::string NATIVE = "http://velmo.example/ns/yang/Velmo-Ornat-ip-static-cfg";

std::string routes_of(const std::string &v4, const std::string &v6 = "") {
    auto family = [](const char *name, const std::string &entries) {
        if (entries.empty()) return std::string();
        return std::string("<") + name + "><vrf-unicast><vrf-prefixes>" + entries +
               "</vrf-prefixes></vrf-unicast></" + name + ">";
    };
    return "<router-static xmlns=\"" + NATIVE + "\"><default-vrf><address-family>" +
           family("vrfipv4", v4) + family("vrfipv6", v6) +
           "</address-family></default-vrf></router-static>\n";
}

std::string native_route(const std::string &prefix, const std::string &len,
                         const std::string &hops) {
    return "<vrf-prefix><prefix>" + prefix + "</prefix><prefix-length>" + len +
           "</prefix-length><vrf-route><vrf-next-hop-table>" + hops +
           "</vrf-next-hop-table></vrf-route></vrf-prefix>";
}

// 10.0.0.0/8 via 192.0.2.1 (index 1, metric 5), and 2001:db8::/32 out of an
// interface with a description (index 1).
const std::string BASE_STORE = routes_of(
    native_route("10.0.0.0", "8",
                 "<vrf-next-hop-next-hop-address><next-hop-address>192.0.2.1</next-hop-address>"
                 "<metric>5</metric><index>1</index></vrf-next-hop-next-hop-address>"),
    native_route("2001:db8::", "32",
                 "<vrf-next-hop-interface-name><interface-name>GigabitEthernet0/0/0/1"
                 "</interface-name><description>uplink</description><index>1</index>"
                 "</vrf-next-hop-interface-name>"));

std::string edit_doc(const std::string &static_routes) {
    return "<config xmlns=\"" + NC + "\" xmlns:nc=\"" + NC + "\"><local-routes xmlns=\"" + OC +
           "\"><static-routes>" + static_routes + "</static-routes></local-routes></config>";
}

std::string next_hop(const std::string &index, const std::string &config,
                     const std::string &more = "") {
    return "<next-hop><index>" + index + "</index><config><index>" + index + "</index>" + config +
           "</config>" + more + "</next-hop>";
}

// A static route with its prefix in the key and in config, and next-hops.
std::string route(const std::string &prefix, const std::string &hops,
                  const std::string &config = "", const std::string &op = "") {
    std::string attr = op.empty() ? "" : " nc:operation=\"" + op + "\"";
    return "<static" + attr + "><prefix>" + prefix + "</prefix><config><prefix>" + prefix +
           "</prefix>" + config + "</config>" +
           (hops.empty() ? "" : "<next-hops>" + hops + "</next-hops>") + "</static>";
}

std::string via(const std::string &prefix, const std::string &address,
                const std::string &extra = "") {
    return edit_doc(route(prefix, next_hop("1", "<next-hop>" + address + "</next-hop>" + extra)));
}

std::string repeat(const std::string &s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; ++i) r += s;
    return r;
}

struct bad_case {
    const char *name;
    std::string request;
    int status;
    std::string error;  // expected in the error line
    std::string store = BASE_STORE;
    const char *request_name = "request.xml";
};

// Runs each case as `edit --apply` and checks status, error and store.
void expect_refused(const std::vector<bad_case> &cases) {
    static const std::regex refusal("ocmap: error 0x[0-9a-f]{8}: [^\n]+\n");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        fs::path store = dir.path / "store.xml";
        fs::path request = dir.path / c.request_name;
        spill(store, c.store);
        spill(request, c.request);
        ocmap_run r =
            run_ocmap({"edit", "--apply", "--store", store.string(), request.string()}, dir.path);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        if (c.status == 1) {
            EXPECT_TRUE(std::regex_match(r.err, refusal)) << r.err;
        }
        // Unusable input is named: the request, or the store when it is the
        // store that cannot be read.
        if (c.status == 2) {
            EXPECT_TRUE(r.err.starts_with("ocmap: " + request.string() + ":") ||
                        r.err.starts_with("ocmap: " + store.string() + ":"))
                << r.err;
        }
        EXPECT_EQ(slurp(store), c.store) << "the store changed";
        for (const auto &f : fs::directory_iterator(dir.path))
            EXPECT_FALSE(f.path().filename().string().starts_with("store.xml.tmp"))
                << "left behind: " << f.path();
    }
}

const std::string LR = "<local-routes xmlns=\"" + OC + "\">";
const std::string JSON_ROOT = "{\"openconfig-local-routing:local-routes\": ";

TEST(bad_input, malformed_or_truncated_documents) {
    std::string good = via("10.1.0.0/16", "192.0.2.9");
    // Text ahead of an element's children is parsed apart from text after
    // them, so both places are tried, in a request and in the store.
    std::string store_with_text = BASE_STORE;
    store_with_text.replace(store_with_text.find("<default-vrf>"), 13, "<default-vrf>text");
    expect_refused({
        {"text before the elements", LR + "text<static-routes/></local-routes>", 2,
         "<local-routes> mixes text and elements"},
        {"text after the elements", LR + "<static-routes/>text</local-routes>", 2,
         "<local-routes> mixes text and elements"},
        {"store with text before the elements", good, 2, "<default-vrf> mixes text and elements",
         store_with_text},
        {"truncated XML", good.substr(0, good.size() / 2), 2, ":1:", "request.xml"},
        {"mismatched end tag", LR + "<static-routes></local-routes>", 2,
         "request.xml:1:81: malformed XML: Start-end tags mismatch"},
        {"empty document", "", 2, "malformed XML: No document element found"},
        {"text after the document", LR + "</local-routes>junk<", 2, "malformed XML"},
        {"no local-routes at all", "<config xmlns=\"" + NC + "\"/>", 2,
         "no <local-routes> in namespace " + OC},
        {"two local-routes", "<config>" + LR + "</local-routes>" + LR + "</local-routes></config>",
         2, "more than one <local-routes>"},
        {"unknown operation", edit_doc("<static nc:operation=\"upsert\"/>"), 2,
         "invalid operation 'upsert' on <static>"},
        {"truncated JSON", JSON_ROOT + "{\"static-routes\": {", 2,
         "request.json:1:62: malformed JSON", BASE_STORE, "request.json"},
        {"JSON that is no object", "[1]", 2, "must be a JSON object", BASE_STORE, "request.json"},
        {"JSON leaf of the wrong kind", JSON_ROOT + "{\"static-routes\": {\"static\": [[1]]}}}", 2,
         "nested arrays", BASE_STORE, "request.json"},
    });
}

TEST(bad_input, doctype_and_entity_tricks) {
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
        "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>" +
        edit_doc(route("&lol3;", ""));
    const std::string external =
        "<!DOCTYPE c [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + edit_doc(route("&x;", ""));
    expect_refused({
        {"billion laughs", laughs, 2, "request.xml:1:32: DOCTYPE declarations are not accepted"},
        {"external entity", external, 2, "DOCTYPE declarations are not accepted"},
        // Without a DOCTYPE pugixml would keep "&x;" as text and hand it on.
        {"undefined entity", edit_doc(route("&x;", "")), 2,
         "malformed XML: '&x;' is no predefined entity"},
        {"bare ampersand", via("10.1.0.0/16", "192.0.2.9", "<metric>1 & 2</metric>"), 2,
         "malformed XML: '&' is no predefined entity"},
        // &#0; would end the value early: "10.1.0.0/16&#0;junk" read as a good prefix.
        {"character reference to NUL", edit_doc(route("10.1.0.0/16&#0;junk", "")), 2,
         "'&#0;' is no predefined entity or character reference"},
        {"JSON string with an escaped NUL",
         JSON_ROOT + "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\\u0000x\"}]}}}",
         2, "must not contain a NUL character", BASE_STORE, "request.json"},
    });
}

TEST(bad_input, unknown_elements_and_namespaces) {
    std::string hop = next_hop("1", "<next-hop>192.0.2.9</next-hop><bogus>1</bogus>");
    expect_refused({
        {"unknown element in the module's namespace", edit_doc(route("10.1.0.0/16", hop)), 1,
         "error 0xaaf2e600: Unsupported tag is specified in the request. (tag: bogus)"},
        {"state in an edit", edit_doc("<static><prefix>10.0.0.0/8</prefix><state/></static>"), 1,
         "(tag: state)"},
        {"element of another module", edit_doc("<frob xmlns=\"urn:example:other\"/>"), 1,
         "error 0xaaf2ee00: a node of another module cannot be added (tag: frob)"},
        {"undeclared prefix", edit_doc("<x:static/>"), 2,
         "undeclared namespace prefix 'x' on <x:static>"},
        {"local-routes in the wrong namespace", "<local-routes xmlns=\"urn:example:other\"/>", 2,
         "no <local-routes> in namespace"},
        {"JSON member of an unknown module", JSON_ROOT + "{\"example-other:frob\": {}}}", 2,
         "unknown module 'example-other'", BASE_STORE, "request.json"},
        {"JSON unknown member", JSON_ROOT + "{\"frob\": 1}}", 1, "(tag: frob)", BASE_STORE,
         "request.json"},
    });
}

TEST(bad_input, missing_empty_duplicate_and_mismatched_keys) {
    std::string hop = next_hop("1", "<next-hop>192.0.2.9</next-hop>");
    std::string json_twice =
        JSON_ROOT +
        "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\", \"prefix\": "
        "\"10.2.0.0/16\", \"config\": {\"prefix\": \"10.2.0.0/16\"}}]}}}";
    expect_refused({
        {"route without its key",
         edit_doc("<static><config><prefix>10.1.0.0/16</prefix></config></static>"), 1,
         "error 0xaaf2e800: List key node error. (tag: prefix)"},
        {"route with an empty key", edit_doc("<static><prefix/><config/></static>"), 1,
         "error 0xaaf2e800: List key node error. (tag: prefix)"},
        {"route with two keys",
         edit_doc("<static><prefix>10.1.0.0/16</prefix><prefix>10.1.0.0/16</prefix></static>"), 1,
         "error 0xaaf2e800: List key node error. (tag: prefix)"},
        {"next-hop without its index",
         edit_doc(route("10.1.0.0/16",
                        "<next-hop><config><next-hop>192.0.2.9</next-hop></config></next-hop>")),
         1, "List key node error. (tag: index)"},
        {"prefix against config/prefix",
         edit_doc("<static><prefix>10.1.0.0/16</prefix><config><prefix>10.2.0.0/16</prefix>"
                  "</config></static>"),
         1, "error 0xaaf2e800: leafref value check fail (tag: prefix)"},
        {"index against config/index",
         edit_doc(route("10.1.0.0/16",
                        "<next-hop><index>1</index><config><index>2</index>"
                        "</config></next-hop>")),
         1, "leafref value check fail (tag: index)"},
        // The JSON parser keeps only the last of two equal members; without
        // the host's check the first prefix would vanish unnoticed.
        {"JSON key given twice", json_twice, 2,
         "member /openconfig-local-routing:local-routes/static-routes/static/prefix appears twice",
         BASE_STORE, "request.json"},
        {"JSON leaf given twice",
         JSON_ROOT + "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\", \"config\": "
                     "{\"prefix\": \"10.1.0.0/16\", \"set-tag\": 1, \"set-tag\": 2}}]}}}",
         2, "static/config/set-tag appears twice", BASE_STORE, "request.json"},
    });
}

TEST(bad_input, invalid_and_non_canonical_addresses_and_prefixes) {
    // The mapping carries these texts over as they are; the store would key
    // one route or next-hop under two spellings, so the apply refuses them.
    expect_refused({
        {"host bits set", via("10.1.0.1/16", "192.0.2.9"), 1,
         "bits are set beyond the prefix length (the network is 10.1.0.0/16) (tag: invalid-value)"},
        {"IPv6 host bits set", via("2001:db8::1/64", "2001:db8::2"), 1,
         "(the network is 2001:db8::/64)"},
        {"IPv4 length 33", edit_doc(route("10.1.0.0/33", "")), 1,
         "the length is not a number from 0 to 32"},
        {"length with a leading zero", via("10.1.0.0/016", "192.0.2.9"), 1,
         "'10.1.0.0/016': the length is not a number from 0 to 32"},
        {"IPv4 next-hop under an IPv6 prefix", via("2001:db8:1::/48", "192.0.2.9"), 1,
         "not a valid IPv6 address: '192.0.2.9' (tag: invalid-value)"},
        {"upper-case IPv6 prefix", via("2001:DB8:1::/48", "2001:db8::9"), 1,
         "not in canonical form (write 2001:db8:1::)"},
        {"uncompressed IPv6 next-hop", via("2001:db8:1::/48", "2001:db8:0:0:0:0:0:9"), 1,
         "'2001:db8:0:0:0:0:0:9', which is not in canonical form (write 2001:db8::9)"},
        {"no address at all", via("10.1.0.0/16", "300.1.1.1"), 1, "not a valid IPv4 address"},
        // The plug-in finds no route for an address it cannot read and says so.
        {"prefix without a length", via("10.1.0.0", "192.0.2.9"), 1,
         "error 0xffffffff: Index lookup failed"},
    });
}

TEST(bad_input, overlong_texts_in_every_copied_leaf) {
    const std::string long_text = repeat("x", 300);
    auto interface = [](const std::string &name, const std::string &sub = "") {
        return "<interface-ref><config><interface>" + name + "</interface>" +
               (sub.empty() ? "" : "<subinterface>" + sub + "</subinterface>") +
               "</config></interface-ref>";
    };
    std::string stored_description = routes_of(native_route(
        "10.2.0.0", "16",
        "<vrf-next-hop-interface-name><interface-name>GigabitEthernet0/0/0/1</interface-name>"
        "<description>" +
            repeat("d", 30) + "</description><index>1</index></vrf-next-hop-interface-name>"));
    expect_refused({
        {"interface", edit_doc(route("10.1.0.0/16", next_hop("1", "", interface(long_text)))), 1,
         "is outside the allowed length (tag: invalid-value)"},
        {"interface one over the limit",
         edit_doc(route("10.1.0.0/16", next_hop("1", "", interface(repeat("G", 65))))), 1,
         "length 65 is outside the allowed length"},
        {"subinterface",
         edit_doc(
             route("10.1.0.0/16", next_hop("1", "<next-hop>192.0.2.9</next-hop>",
                                           interface("GigabitEthernet0/0/0/1", repeat("1", 120))))),
         1, "has no key 'interface-name' (tag: missing-element)"},
        {"index of 128",
         edit_doc(
             route("10.1.0.0/16", next_hop(repeat("i", 128), "<next-hop>192.0.2.9</next-hop>"))),
         1, "length 128 is outside the allowed length"},
        {"set-tag of 40 digits",
         edit_doc(route("10.1.0.0/16", next_hop("1", "<next-hop>192.0.2.9</next-hop>"),
                        "<set-tag>" + repeat("1", 40) + "</set-tag>")),
         1, "error 0xaaf29e00: Invalid request"},
        {"next-hop", via("10.1.0.0/16", "192.0.2.9" + long_text), 1, "not a valid IPv4 address"},
        {"description of a stored next-hop", edit_doc(route("10.2.0.0/16", "")), 2,
         "length 30 is outside the allowed length", stored_description},
    });
}

// The longest texts the native schema allows go through whole: a bounded copy
// in the mapping that cut them would store a different interface or index.
TEST(bad_input, texts_at_their_limits_arrive_whole) {
    const std::string interface = "GigabitEthernet0/0/0/" + repeat("9", 43);  // 64
    const std::string index = repeat("i", 127);
    const std::string description = repeat("d", 29);
    std::string store = routes_of(native_route(
        "10.2.0.0", "16",
        "<vrf-next-hop-interface-name><interface-name>GigabitEthernet0/0/0/1</interface-name>"
        "<description>" +
            description + "</description><index>1</index></vrf-next-hop-interface-name>"));
    std::string request =
        edit_doc(route("10.1.0.0/16", next_hop(index, "",
                                               "<interface-ref><config><interface>" + interface +
                                                   "</interface></config></interface-ref>")) +
                 // Moving the stored next-hop to the list with an address carries its
                 // description over.
                 route("10.2.0.0/16", next_hop("1", "<next-hop>192.0.2.5</next-hop>")));
    scratch_dir dir;
    spill(dir.path / "store.xml", store);
    spill(dir.path / "request.xml", request);
    std::string s = (dir.path / "store.xml").string();
    ocmap_run r =
        run_ocmap({"edit", "--apply", "--store", s, (dir.path / "request.xml").string()}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string after = slurp(dir.path / "store.xml");
    EXPECT_NE(after.find("<interface-name>" + interface + "</interface-name>"), std::string::npos);
    EXPECT_NE(after.find("<index>" + index + "</index>"), std::string::npos);
    EXPECT_NE(after.find("<vrf-next-hop-interface-name-next-hop-address>"), std::string::npos);
    EXPECT_NE(after.find("<description>" + description + "</description>"), std::string::npos);
}

TEST(bad_input, deep_nesting_is_refused_without_exhausting_the_stack) {
    const size_t depth = 100000;
    std::string xml = LR + repeat("<a>", depth) + repeat("</a>", depth) + "</local-routes>";
    std::string objects = JSON_ROOT + repeat("{\"a\": ", depth) + "1" + repeat("}", depth) + "}";
    std::string arrays = JSON_ROOT + "{\"a\": " + repeat("[", depth) + repeat("]", depth) + "}}";
    std::string deep_store = "<router-static xmlns=\"" + NATIVE + "\">" + repeat("<a>", depth) +
                             repeat("</a>", depth) + "</router-static>";
    expect_refused({
        {"XML elements", xml, 2, "request.xml:1:"},
        {"JSON objects", objects, 2, "members nested deeper than 64 levels", BASE_STORE,
         "request.json"},
        {"JSON arrays", arrays, 2, "nested arrays", BASE_STORE, "request.json"},
        {"store", via("10.1.0.0/16", "192.0.2.9"), 2, "elements nested deeper than 64 levels",
         deep_store},
    });
}

// 65,536 is where a 16-bit count wraps. A refusal at the very end of a huge
// edit must leave nothing of it behind; without it, every route arrives.
TEST(bad_input, huge_counts_apply_whole_or_not_at_all) {
    const int routes = 70000;
    std::string body;
    for (int i = 0; i < routes; ++i) {
        std::string p = std::to_string(11 + i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                        std::to_string(i % 256) + ".0/24";
        body += "<static><prefix>" + p + "</prefix></static>";
    }
    std::string conflict = route("10.0.0.0/8", "", "", "create");
    expect_refused({{"70,000 routes and a conflict at the end", edit_doc(body + conflict), 1,
                     "create of /router-static/default-vrf/address-family/vrfipv4/vrf-unicast/"
                     "vrf-prefixes/vrf-prefix[prefix='10.0.0.0'][prefix-length='8'], which "
                     "already exists (tag: data-exists)"}});

    scratch_dir dir;
    std::string store = (dir.path / "store.xml").string();
    spill(dir.path / "store.xml", BASE_STORE);
    spill(dir.path / "request.xml", edit_doc(body));
    ocmap_run r = run_ocmap(
        {"edit", "--apply", "--store", store, (dir.path / "request.xml").string()}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_ocmap({"get-config", "--store", store}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    size_t statics = 0;
    for (size_t at = r.out.find("<static>"); at != std::string::npos;
         at = r.out.find("<static>", at + 1))
        ++statics;
    EXPECT_EQ(statics, routes + 2u);
}

TEST(bad_input, conflicting_operations) {
    std::string hop = next_hop("1", "<next-hop>192.0.2.9</next-hop>");
    expect_refused({
        {"delete on the route's key",
         edit_doc("<static><prefix nc:operation=\"delete\">10.0.0.0/8</prefix></static>"), 1,
         "error 0xaaf2ea00: The key node should not have delete operation."},
        {"delete of an absent route", edit_doc(route("10.9.0.0/16", "", "", "delete")), 1,
         "vrf-prefix[prefix='10.9.0.0'][prefix-length='16'], which does not exist (tag: "
         "data-missing)"},
        {"create of an existing route", edit_doc(route("10.0.0.0/8", hop, "", "create")), 1,
         "which already exists (tag: data-exists)"},
        {"create of one route twice",
         edit_doc(route("10.1.0.0/16", "", "", "create") + route("10.1.0.0/16", "", "", "create")),
         1, "vrf-prefix[prefix='10.1.0.0'][prefix-length='16'], which already exists"},
        {"create of an existing next-hop",
         edit_doc(route("10.0.0.0/8",
                        "<next-hop nc:operation=\"create\"><index>1</index><config>"
                        "<index>1</index><next-hop>192.0.2.1</next-hop></config>"
                        "</next-hop>")),
         1, "already exists (tag: data-exists)"},
    });
}

TEST(bad_input, values_out_of_range) {
    auto with = [](const std::string &leaf) { return via("10.1.0.0/16", "192.0.2.9", leaf); };
    expect_refused({
        {"metric 2^32", with("<metric>4294967296</metric>"), 1, "invalid value '4294967296' of "},
        {"negative metric", with("<metric>-5</metric>"), 1,
         "/metric: not a number in the range of metric (tag: invalid-value)"},
        {"metric that is no number", with("<metric>five</metric>"), 1,
         "not a number in the range of metric"},
        {"set-tag 2^32",
         edit_doc(route("10.1.0.0/16", next_hop("1", "<next-hop>192.0.2.9</next-hop>"),
                        "<set-tag>4294967296</set-tag>")),
         1, "/tag: not a number in the range of tag"},
        {"IPv6 length 129", edit_doc(route("2001:db8:1::/129", "")), 1,
         "[prefix-length='129']: not a number in the range of prefix-length"},
        {"IPv4 length 128", edit_doc(route("10.1.0.0/128", "")), 1,
         "the length is not a number from 0 to 32"},
    });
}

}  // namespace
