// Bad input of every kind, through the tool as a user runs it. Every
// refused edit must be refused the same way by `edit` (a dry run against
// the store) and by `edit --apply`, with the documented status and one
// clear, bounded error line, and the store must be byte for byte what it
// was. Status 2 is input the tool cannot use (the message names the file,
// and the line and column); status 1 is a refusal, on one line
// "ocmap: error 0xXXXXXXXX: TEXT (tag: TAG)".
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

std::string address_hop(const std::string &address, const std::string &more = "") {
    return "<vrf-next-hop-next-hop-address><next-hop-address>" + address + "</next-hop-address>" +
           more + "</vrf-next-hop-next-hop-address>";
}

// 10.0.0.0/8 via 192.0.2.1 (index 1, metric 5), and 2001:db8::/32 out of an
// interface with a description (index 1).
const std::string BASE_STORE = routes_of(
    native_route("10.0.0.0", "8", address_hop("192.0.2.1", "<metric>5</metric><index>1</index>")),
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

std::string interface(const std::string &name, const std::string &sub = "") {
    return "<interface-ref><config><interface>" + name + "</interface>" +
           (sub.empty() ? "" : "<subinterface>" + sub + "</subinterface>") +
           "</config></interface-ref>";
}

std::string out_of(const std::string &name, const std::string &sub = "") {
    return edit_doc(route("10.1.0.0/16", next_hop("1", "", interface(name, sub))));
}

std::string repeat(const std::string &s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; ++i) r += s;
    return r;
}

const std::string LR = "<local-routes xmlns=\"" + OC + "\">";
const std::string JSON_ROOT = "{\"openconfig-local-routing:local-routes\": ";
const std::string JSON_HOP = JSON_ROOT +
                             "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\", "
                             "\"next-hops\": {\"next-hop\": [{\"index\": \"1\", \"config\": {";
std::string json_hop(const std::string &config) {
    return JSON_HOP + config + "}}]}}]}}}";
}

struct bad_case {
    const char *name;
    std::string request;
    int status;
    std::string error;  // expected in the error line
    std::string store = BASE_STORE;
    const char *request_name = "request.xml";
};

const std::regex one_line("ocmap: [^\n]{1,2000}\n");
const std::regex refusal("ocmap: error 0x[0-9a-f]{8}: [^\n]+ \\(tag: [a-z-]+\\)\n");

// Runs each case as a dry run and as `edit --apply`, and checks status,
// error and store.
void expect_refused(const std::vector<bad_case> &cases) {
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        fs::path store = dir.path / "store.xml";
        fs::path request = dir.path / c.request_name;
        spill(store, c.store);
        spill(request, c.request);
        for (bool apply : {false, true}) {
            std::vector<std::string> args{"edit", "--store", store.string(), request.string()};
            if (apply) args.insert(args.begin() + 1, "--apply");
            ocmap_run r = run_ocmap(args, dir.path);
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
            EXPECT_TRUE(std::regex_match(r.err, c.status == 1 ? refusal : one_line)) << r.err;
            EXPECT_TRUE(r.out.empty()) << "nothing printed for a refused edit";
            // Unusable input is named: the request, or the store when it is
            // the store that cannot be read.
            if (c.status == 2) {
                EXPECT_TRUE(r.err.starts_with("ocmap: " + request.string() + ":") ||
                            r.err.starts_with("ocmap: " + store.string() + ":"))
                    << r.err;
            }
        }
        EXPECT_EQ(slurp(store), c.store) << "the store changed";
        for (const auto &f : fs::directory_iterator(dir.path))
            EXPECT_FALSE(f.path().filename().string().starts_with("store.xml.tmp"))
                << "left behind: " << f.path();
    }
}

TEST(bad_input, malformed_documents) {
    std::string good = via("10.1.0.0/16", "192.0.2.9");
    std::string store_with_text = BASE_STORE;
    store_with_text.replace(store_with_text.find("<default-vrf>"), 13, "<default-vrf>text");
    expect_refused({
        {"text before the elements", LR + "text<static-routes/></local-routes>", 2,
         "<local-routes> mixes text and elements"},
        {"text after the elements", LR + "<static-routes/>text</local-routes>", 2,
         "<local-routes> mixes text and elements"},
        {"store with text", good, 2, "<default-vrf> mixes text and elements", store_with_text},
        {"truncated XML", good.substr(0, good.size() / 2), 2, "request.xml:1:"},
        {"mismatched end tag", LR + "<static-routes></local-routes>", 2,
         "request.xml:1:79: malformed XML: mismatched end tag </local-routes>"},
        {"empty document", "", 2, "no document element"},
        {"second root element", good + "<config/>", 2, "a second document element"},
        {"text after the document", good + "junk", 2, "text after the document element"},
        {"C0 control character", via("10.1.0.0/16", "192.0.2.9\x1b[31m"), 2,
         "control character 0x1b"},
        {"invalid UTF-8", via("10.1.0.0/16", "192.0.2.9\xc0\xaf"), 2, "invalid UTF-8"},
        {"no local-routes at all", "<config xmlns=\"" + NC + "\"/>", 2,
         "no <local-routes> in namespace " + OC},
        {"two local-routes", "<config>" + LR + "</local-routes>" + LR + "</local-routes></config>",
         2, "more than one <local-routes>"},
        {"undeclared prefix", edit_doc("<x:static/>"), 2, "undeclared namespace prefix 'x'"},
        {"DOCTYPE", "<!DOCTYPE c [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + good, 2,
         "DOCTYPE declarations are not accepted"},
        {"undefined entity", edit_doc(route("&x;", "")), 2,
         "'&x;' is no predefined entity or character reference"},
        {"character reference to NUL", edit_doc(route("10.1.0.0/16&#0;junk", "")), 2,
         "'&#0;' refers to a character XML does not allow"},
        {"truncated JSON", JSON_ROOT + "{\"static-routes\": {", 2,
         "request.json:1:62: malformed JSON", BASE_STORE, "request.json"},
        {"JSON that is no object", "[1]", 2, "expected an object at the top", BASE_STORE,
         "request.json"},
        {"JSON list entry that is no object",
         JSON_ROOT + "{\"static-routes\": {\"static\": [[1]]}}", 2,
         "expected an object for each entry of the list static", BASE_STORE, "request.json"},
        {"JSON list given as an object",
         JSON_ROOT + "{\"static-routes\": {\"static\": {\"prefix\": \"10.1.0.0/16\"}}}}", 2,
         "expected an array of objects for the list static", BASE_STORE, "request.json"},
        {"JSON array where a leaf belongs", json_hop("\"next-hop\": [\"192.0.2.9\"]"), 2,
         "expected a single value for the leaf next-hop", BASE_STORE, "request.json"},
        {"JSON config given as an array",
         JSON_ROOT + "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\", \"config\": "
                     "[]}]}}}",
         2, "expected an object for config", BASE_STORE, "request.json"},
        {"JSON number with a leading zero", json_hop("\"metric\": 05"), 2,
         "malformed JSON: a number must not have a leading zero", BASE_STORE, "request.json"},
    });
}

TEST(bad_input, unknown_or_repeated_nodes) {
    std::string hop = next_hop("1", "<next-hop>192.0.2.9</next-hop><bogus>1</bogus>");
    expect_refused({
        {"unknown element in the module's namespace", edit_doc(route("10.1.0.0/16", hop)), 1,
         "unknown element <bogus> under /local-routes/static-routes/static[prefix='10.1.0.0/16']"
         "/next-hops/next-hop[index='1']/config (tag: unknown-element)"},
        {"element of another module", edit_doc("<frob xmlns=\"urn:example:other\"/>"), 1,
         "element <frob> in namespace 'urn:example:other' under /local-routes/static-routes "
         "(tag: unknown-namespace)"},
        {"foreign element with a name of the module",
         via("10.1.0.0/16", "192.0.2.9", "<metric xmlns=\"urn:example:other\">3</metric>"), 1,
         "element <metric> in namespace 'urn:example:other'"},
        {"local-routes in the wrong namespace", "<local-routes xmlns=\"urn:example:other\"/>", 2,
         "no <local-routes> in namespace"},
        {"unknown attribute", edit_doc("<static foo=\"1\"><prefix>10.1.0.0/16</prefix></static>"),
         1,
         "unknown attribute 'foo' on <static> (/local-routes/static-routes/static) (tag: "
         "unknown-attribute)"},
        {"unknown operation", edit_doc("<static nc:operation=\"upsert\"/>"), 1,
         "invalid operation 'upsert' on /local-routes/static-routes/static (expected merge, "
         "replace, create, delete or remove) (tag: bad-attribute)"},
        {"operation given twice",
         "<config xmlns:a=\"urn:ietf:params:xml:ns:netconf:base:1.0\" "
         "xmlns:b=\"urn:ietf:params:xml:ns:netconf:base:1.0\"><local-routes "
         "xmlns=\"http://openconfig.net/yang/local-routing\"><static-routes><static "
         "a:operation=\"delete\" b:operation=\"merge\"><prefix>10.0.0.0/8</prefix></static>"
         "</static-routes></local-routes></config>",
         1,
         "the operation is given twice on /local-routes/static-routes/static (tag: bad-attribute)"},
        {"leaf given twice",
         via("10.1.0.0/16", "192.0.2.9", "<metric>1</metric><metric>2</metric>"), 1,
         "<metric> is given twice in /local-routes/static-routes/static[prefix='10.1.0.0/16']/"
         "next-hops/next-hop[index='1']/config (tag: bad-element)"},
        {"key given twice",
         edit_doc("<static><prefix>10.1.0.0/16</prefix><prefix>10.1.0.0/16</prefix></static>"), 1,
         "<prefix> is given twice"},
        {"JSON member of an unknown module", JSON_ROOT + "{\"example-other:frob\": {}}}", 1,
         "unknown module 'example-other' in member 'example-other:frob' under /local-routes "
         "(tag: unknown-namespace)",
         BASE_STORE, "request.json"},
        {"JSON unknown member", JSON_ROOT + "{\"frob\": 1}}", 1,
         "unknown member 'frob' under /local-routes (tag: unknown-element)", BASE_STORE,
         "request.json"},
        {"JSON member given twice", json_hop("\"metric\": 1, \"metric\": 2"), 1,
         "member 'metric' is given twice", BASE_STORE, "request.json"},
        {"state in an edit", edit_doc("<static><prefix>10.0.0.0/8</prefix><state/></static>"), 1,
         "(tag: state)"},
    });
}

// Each row is one leaf value the types or the native side do not admit,
// refused at the boundary with the value and the node's path.
TEST(bad_input, values_outside_their_type_or_the_native_limits) {
    auto tag = [](const std::string &t) {
        return edit_doc(route("10.1.0.0/16", "", "<set-tag>" + t + "</set-tag>"));
    };
    auto with = [](const std::string &leaf) { return via("10.1.0.0/16", "192.0.2.9", leaf); };
    const std::string not_tag = "is not an integer from 0 to 4294967295, or a string matching";
    const std::string not_interface = "printable ASCII without spaces, '.', ',', '_' and '*'";
    expect_refused({
        {"metric 2^32", with("<metric>4294967296</metric>"), 1,
         "invalid value '4294967296' of /local-routes/static-routes/static[prefix='10.1.0.0/16']"
         "/next-hops/next-hop[index='1']/config/metric: is not an integer from 0 to 4294967295 "
         "(tag: invalid-value)"},
        {"negative metric", with("<metric>-5</metric>"), 1, "invalid value '-5'"},
        {"JSON metric as a string", json_hop("\"metric\": \"5\""), 1, "invalid value '5'",
         BASE_STORE, "request.json"},
        {"JSON metric as a fraction", json_hop("\"metric\": 1e1"), 1, "invalid value '1e1'",
         BASE_STORE, "request.json"},
        {"set-tag of nine hexadecimal digits", tag("fffffffff"), 1, not_tag},
        {"set-tag 0x100000001", tag("0x100000001"), 1, not_tag},
        {"set-tag 0x1g", tag("0x1g"), 1, not_tag},
        {"set-tag 0x", tag("0x"), 1, not_tag},
        {"JSON set-tag of digits as a string",
         JSON_ROOT + "{\"static-routes\": {\"static\": [{\"prefix\": \"10.0.0.0/8\", "
                     "\"config\": {\"set-tag\": \"10\"}}]}}}",
         1, "is a JSON string, so text, which the native side would read as the number 10",
         BASE_STORE, "request.json"},
        {"subinterface abc", out_of("eth0", "abc"), 1, "invalid value 'abc'"},
        {"subinterface -1", out_of("eth0", "-1"), 1, "invalid value '-1'"},
        {"subinterface 0x1", out_of("eth0", "0x1"), 1, "invalid value '0x1'"},
        {"subinterface 2^32", out_of("eth0", "4294967296"), 1, "invalid value '4294967296'"},
        {"subinterface of ten digits", out_of("eth0", "4294967295"), 1,
         "subinterfaces above 999999999 cannot be read back"},
        {"interface-only next-hop out of Null0", out_of("Null0"), 1,
         "goes out of Null0 without an address: that is how the native side keeps a DROP"},
        {"interface with an underscore", out_of("eth_0"), 1, not_interface},
        {"interface with a comma", out_of("eth,0"), 1, not_interface},
        {"interface with a dot", out_of("eth0.5"), 1, not_interface},
        {"interface of 64 bytes", out_of(repeat("G", 64)), 1,
         "an interface name of 64 bytes is longer than the native side holds (63)"},
        {"interface of 99 bytes with a subinterface", out_of(repeat("e", 99), "12345"), 1,
         "an interface name of 99 bytes"},
        {"interface and subinterface over 63 bytes", out_of(repeat("G", 60), "123"), 1,
         "the interface name with its subinterface of 64 bytes"},
        {"automatic index spelled otherwise",
         edit_doc(
             route("10.1.0.0/16", next_hop("***192.0.2.9**", "<next-hop>192.0.2.9</next-hop>"))),
         1, "an index framed by '**' is the automatic index of a next-hop"},
        {"automatic index with a non-canonical address",
         edit_doc(route("2001:db8:1::/48",
                        next_hop("**2001:DB8::9**", "<next-hop>2001:db8::9</next-hop>"))),
         1, "with the address in its canonical form"},
        {"index of 128", edit_doc(route("10.1.0.0/16", next_hop(repeat("i", 128), ""))), 1,
         "an index of 128 bytes"},
        {"JSON index holding an escape character",
         JSON_ROOT +
             "{\"static-routes\": {\"static\": [{\"prefix\": \"10.1.0.0/16\", \"next-hops\": "
             "{\"next-hop\": [{\"index\": \"1\\u001b[31m\"}]}}]}}}",
         1, "invalid value '1\\x1b[31m'", BASE_STORE, "request.json"},
        {"JSON value with a NUL", json_hop("\"index\": \"1\\u0000x\""), 1,
         "must not contain a NUL character", BASE_STORE, "request.json"},
        {"host bits set", via("10.1.0.1/16", "192.0.2.9"), 1,
         "has bits set beyond the prefix length (the network is 10.1.0.0/16)"},
        {"IPv6 host bits set", via("2001:db8::1/64", "2001:db8::2"), 1,
         "(the network is 2001:db8::/64)"},
        {"IPv4 length 33", edit_doc(route("10.1.0.0/33", "")), 1,
         "is not an IPv4 prefix, or an IPv6 prefix"},
        {"length with a leading zero", via("10.1.0.0/016", "192.0.2.9"), 1,
         "invalid value '10.1.0.0/016'"},
        {"prefix without a length", via("10.1.0.0", "192.0.2.9"), 1, "invalid value '10.1.0.0'"},
        {"no address at all", via("10.1.0.0/16", "300.1.1.1"), 1,
         "is not an IPv4 address, or an IPv6 address, or one of the identities DROP or "
         "LOCAL_LINK"},
        {"zoned next-hop", via("2001:db8:1::/48", "fe80::1%eth0"), 1,
         "a next-hop address with a zone index cannot be stored natively"},
        {"IPv6 next-hop on an IPv4 route", via("10.1.0.0/16", "2001:db8::9"), 1,
         "next-hop '1' goes to the IPv6 address '2001:db8::9', and the route is IPv4"},
        {"IPv4 next-hop on an IPv6 route", via("2001:db8:1::/48", "192.0.2.9"), 1,
         "the IPv4 address '192.0.2.9', and the route is IPv6"},
        {"identity that is not one", via("10.1.0.0/16", "oc:DROP"), 1,
         "names the prefix 'oc', which is not declared"},
    });
}

// A value is one line in a message however it was written, and cut short
// when it is long.
TEST(bad_input, error_lines_are_one_bounded_line) {
    expect_refused({
        {"a newline in a value", via("10.1.0.0/16", "192.0.2.9\nocmap: error forged"), 1,
         "invalid value '192.0.2.9\\nocmap: error forged'"},
        {"a value of a megabyte", via("10.1.0.0/16", repeat("1", 1 << 20)), 1,
         "invalid value '" + repeat("1", 80) + "...'"},
        {"a C1 control (CSI) in a value",
         via("10.1.0.0/16",
             "192.0.2.9\xc2\x9b"
             "31m"),
         1, "invalid value '192.0.2.9\\u009b31m'"},
        {"an element name of 5000 characters", edit_doc("<" + repeat("x", 5000) + "/>"), 1,
         "unknown element <" + repeat("x", 80) +
             "...> under /local-routes/static-routes (tag: "
             "unknown-element)"},
    });
}

TEST(bad_input, keys_and_conflicting_operations) {
    std::string hop = next_hop("1", "<next-hop>192.0.2.9</next-hop>");
    expect_refused({
        {"route without its key",
         edit_doc("<static><config><prefix>10.1.0.0/16</prefix></config></static>"), 1,
         "error 0xaaf2e800: List key node error. (at /local-routes/static-routes/static) "
         "(tag: prefix)"},
        {"next-hop without its index",
         edit_doc(route("10.1.0.0/16",
                        "<next-hop><config><next-hop>192.0.2.9</next-hop></config></next-hop>")),
         1, "List key node error."},
        {"prefix against config/prefix",
         edit_doc("<static><prefix>10.1.0.0/16</prefix><config><prefix>10.2.0.0/16</prefix>"
                  "</config></static>"),
         1, "error 0xaaf2e800: leafref value check fail"},
        {"delete on the route's key",
         edit_doc("<static><prefix nc:operation=\"delete\">10.0.0.0/8</prefix></static>"), 1,
         "error 0xaaf2ea00: The key node should not have delete operation."},
        {"delete of an absent route", edit_doc(route("10.9.0.0/16", "", "", "delete")), 1,
         "vrf-prefix[prefix='10.9.0.0'][prefix-length='16'], which does not exist (tag: "
         "data-missing)"},
        {"delete of an absent next-hop",
         edit_doc("<static><prefix>10.0.0.0/8</prefix><next-hops><next-hop "
                  "nc:operation=\"delete\"><index>3</index></next-hop></next-hops></static>"),
         1,
         "error 0x40818600: nothing stored matches the request (at /local-routes/static-routes/"
         "static[prefix='10.0.0.0/8']/next-hops/next-hop[index='3']) (tag: data-missing)"},
        {"create of an existing route", edit_doc(route("10.0.0.0/8", hop, "", "create")), 1,
         "which already exists (tag: data-exists)"},
        {"one route twice",
         edit_doc(route("10.1.0.0/16", "", "", "create") + route("10.1.0.0/16", "", "")), 1,
         "duplicate entry /local-routes/static-routes/static[prefix='10.1.0.0/16'] (each entry "
         "is given once) (tag: bad-element)"},
        {"a tag on a route without next-hops",
         edit_doc(route("10.1.0.0/16", "", "<set-tag>0x1F</set-tag>")), 1,
         "the set-tag '0x1F' of route '10.1.0.0/16' cannot be stored: the native side keeps a "
         "route's tag on its next-hops, and the route has none (tag: invalid-value)"},
        {"a new route's next-hop with neither address nor interface",
         edit_doc(route("10.1.0.0/16", next_hop("4", ""))), 1,
         "the next-hop '4' of route '10.1.0.0/16' cannot be stored: a native next-hop is an "
         "address or an interface, and it gives neither (tag: invalid-value)"},
        {"two next-hops of a new route to one interface",
         edit_doc(route("10.1.0.0/16",
                        next_hop("a", "", interface("eth0")) +
                            next_hop("b", "<next-hop>LOCAL_LINK</next-hop>", interface("eth0")))),
         1,
         "the next-hops 'a' and 'b' of route '10.1.0.0/16' go to the same address and interface"},
        {"a DROP next-hop with an interface",
         edit_doc(
             route("10.1.0.0/16", next_hop("1", "<next-hop>DROP</next-hop>", interface("eth0")))),
         1,
         "error 0xaaf29e00: Interface configuration is not allowed when next-hop is drop (at "
         "/local-routes/static-routes/static[prefix='10.1.0.0/16']/next-hops/next-hop[index='1']) "
         "(tag: invalid-value)"},
    });
}

// What a store or native data may not hold, because the database could not
// key it or a read could not give it back as valid OpenConfig: refused by
// --store (unusable, status 2) and by to-oc (refused, status 1) alike.
TEST(bad_input, native_data_that_cannot_be_read_back) {
    auto hop_index = [](const char *address, const char *index) {
        return address_hop(address, index ? std::string("<index>") + index + "</index>" : "");
    };
    struct row {
        const char *name;
        std::string routes;
        std::string error;
    } rows[] = {
        {"host bits beside the canonical twin",
         native_route("10.0.0.0", "8", "") + native_route("10.0.0.1", "8", ""),
         "has the prefix '10.0.0.1/8': bits are set beyond the prefix length"},
        {"a zoned next-hop", native_route("10.0.0.0", "8", address_hop("fe80::1%eth0")),
         "not a valid IPv4 address: 'fe80::1%eth0'"},
        {"prefix length 33", native_route("10.0.0.0", "33", ""),
         "the length is not a number from 0 to 32"},
        {"two next-hops with one index",
         native_route("10.0.0.0", "8", hop_index("192.0.2.1", "1") + hop_index("192.0.2.2", "1")),
         "would both read back as the OpenConfig next-hop '1'"},
        {"an index equal to another next-hop's automatic index",
         native_route("10.0.0.0", "8",
                      hop_index("192.0.2.1", nullptr) + hop_index("192.0.2.2", "**192.0.2.1**")),
         "would both read back as the OpenConfig next-hop '**192.0.2.1**'"},
        {"an empty address",
         native_route("10.0.0.0", "8",
                      "<vrf-next-hop-next-hop-address><next-hop-address></next-hop-address>"
                      "</vrf-next-hop-next-hop-address>"),
         "has an empty address"},
        {"an empty index", native_route("10.0.0.0", "8", hop_index("192.0.2.1", "")),
         "an empty index would give a next-hop no one can name"},
        {"a subinterface of ten digits",
         native_route("10.0.0.0", "8",
                      "<vrf-next-hop-interface-name><interface-name>eth0.1234567890"
                      "</interface-name></vrf-next-hop-interface-name>"),
         "the subinterface after the '.' must be a number from 1 to 999999999"},
        {"a non-canonical address", native_route("10.0.0.0", "8", address_hop("::FFFF:1.2.3.4")),
         "not a valid IPv4 address"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        scratch_dir dir;
        std::string data = (dir.path / "data.xml").string();
        spill(data, routes_of(r.routes));
        ocmap_run to_oc = run_ocmap({"to-oc", data}, dir.path);
        EXPECT_EQ(to_oc.status, 1) << to_oc.err;
        EXPECT_NE(to_oc.err.find(r.error), std::string::npos) << to_oc.err;
        EXPECT_TRUE(to_oc.out.empty());
        ocmap_run read = run_ocmap({"get-config", "--store", data}, dir.path);
        EXPECT_EQ(read.status, 2) << read.err;
        EXPECT_NE(read.err.find(r.error), std::string::npos) << read.err;
    }
}

// The longest texts the native side keeps go through whole: a bounded copy
// in the mapping that cut them would store a different interface or index.
TEST(bad_input, texts_at_their_limits_arrive_whole) {
    const std::string interface_name = "GigabitEthernet0/0/0/" + repeat("9", 42);  // 63
    const std::string index = repeat("i", 127);
    const std::string description = repeat("d", 29);
    std::string store = routes_of(native_route(
        "10.2.0.0", "16",
        "<vrf-next-hop-interface-name><interface-name>GigabitEthernet0/0/0/1</interface-name>"
        "<description>" +
            description + "</description><index>1</index></vrf-next-hop-interface-name>"));
    std::string request =
        edit_doc(route("10.1.0.0/16", next_hop(index, "", interface(interface_name))) +
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
    EXPECT_NE(after.find("<interface-name>" + interface_name + "</interface-name>"),
              std::string::npos);
    EXPECT_NE(after.find("<index>" + index + "</index>"), std::string::npos);
    EXPECT_NE(after.find("<vrf-next-hop-interface-name-next-hop-address>"), std::string::npos);
    EXPECT_NE(after.find("<description>" + description + "</description>"), std::string::npos);
    // And stay editable: the next-hop at the longest interface name changes.
    spill(dir.path / "metric.xml",
          edit_doc("<static><prefix>10.1.0.0/16</prefix><next-hops><next-hop><index>" + index +
                   "</index><config><metric>7</metric></config></next-hop></next-hops></static>"));
    r = run_ocmap({"edit", "--apply", "--store", s, (dir.path / "metric.xml").string()}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(slurp(dir.path / "store.xml").find("<metric>7</metric>"), std::string::npos);
}

// Nesting far deeper than any request ends in one clean refusal, whatever
// problem the readers meet first, never in an exhausted stack.
TEST(bad_input, deep_nesting_is_refused_without_exhausting_the_stack) {
    const size_t depth = 100000;
    const std::string documents[] = {
        LR + "<static-routes>" + repeat("<static>", depth),
        LR + repeat("<a>", depth) + repeat("</a>", depth) + "</local-routes>",
        JSON_ROOT + repeat("{\"static-routes\": ", depth) + "1" + repeat("}", depth) + "}",
        JSON_ROOT + "{\"static-routes\": " + repeat("[", depth) + repeat("]", depth) + "}}",
    };
    scratch_dir dir;
    for (const auto &doc : documents) {
        spill(dir.path / "deep", doc);
        for (const char *command : {"edit", "to-oc"}) {
            ocmap_run r = run_ocmap({command, (dir.path / "deep").string()}, dir.path);
            EXPECT_TRUE(r.status == 1 || r.status == 2) << r.status << " " << r.err;
            EXPECT_TRUE(std::regex_match(r.err, one_line)) << r.err;
        }
    }
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

    // Entries of a list past the length compared in place are kept apart
    // from those of the other lists beside it, whose keys may be equal.
    std::string hops;
    for (int i = 1; i <= 18; ++i)
        hops += "<vrf-next-hop-interface-name><interface-name>eth" + std::to_string(i) +
                "</interface-name></vrf-next-hop-interface-name>";
    hops +=
        "<vrf-next-hop-explicit-path-name><explicit-path-name>eth1</explicit-path-name>"
        "</vrf-next-hop-explicit-path-name>";
    spill(store, routes_of(native_route("10.0.0.0", "8", hops)));
    for (const char *command : {"to-oc", "get-config"}) {
        r = run_ocmap(std::string(command) == "to-oc"
                          ? std::vector<std::string>{command, store}
                          : std::vector<std::string>{command, "--store", store},
                      dir.path);
        EXPECT_EQ(r.status, 0) << command << ": " << r.err;
    }
}

// What is not a document, or too large to read, is refused before anything
// is allocated for it; output that cannot be written is a failure.
TEST(bad_input, files_that_cannot_be_used) {
    scratch_dir dir;
    fs::create_directory(dir.path / "a-directory");
    ASSERT_EQ(::mkfifo((dir.path / "a-fifo").c_str(), 0600), 0);
    std::string request = (dir.path / "request.xml").string();
    spill(request, via("10.1.0.0/16", "192.0.2.9"));
    struct row {
        const char *name;
        std::vector<std::string> args;
        std::string error;
    } rows[] = {
        {"a directory as the request",
         {"edit", (dir.path / "a-directory").string()},
         "a-directory: is a directory, not a document (tag: operation-failed)"},
        {"a directory as the store",
         {"get-config", "--store", (dir.path / "a-directory").string()},
         "a-directory: is not a regular file (tag: operation-failed)"},
        {"a FIFO as the store, not waited on",
         {"edit", "--apply", "--store", (dir.path / "a-fifo").string(), request},
         "a-fifo: is not a regular file (tag: operation-failed)"},
        {"a request over the input limit",
         {"edit", "--max-input", "100", request},
         "is larger than the input limit of 100 bytes (raise it with --max-input) (tag: too-big)"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        ocmap_run run = run_ocmap(r.args, dir.path);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(r.error), std::string::npos) << run.err;
    }
    // An answer that cannot be written fails with one line that says so.
    spill(dir.path / "store.xml", BASE_STORE);
    for (const char *command : {"edit", "get-config"}) {
        SCOPED_TRACE(command);
        std::string err_file = (dir.path / "stderr").string();
        pid_t pid = ::fork();
        if (pid == 0) {
            int full = ::open("/dev/full", O_WRONLY);
            int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(full, 1);
            ::dup2(err, 2);
            ::chdir(dir.path.c_str());
            ::execl(OCMAP_PATH, OCMAP_PATH, command, "--store", "store.xml",
                    std::string(command) == "edit" ? request.c_str() : nullptr, nullptr);
            ::_exit(127);
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        EXPECT_EQ(status_of(st), 2);
        EXPECT_EQ(slurp(err_file),
                  "ocmap: cannot write to standard output: No space left on device (tag: "
                  "operation-failed)\n");
    }
}

// The store's path may be a link: the write goes to its target. The lock
// is never followed, and only the temporary file a killed writer recorded
// is ever removed.
TEST(bad_input, store_file_hygiene) {
    scratch_dir dir;
    fs::create_directory(dir.path / "real");
    fs::path target = dir.path / "real" / "store.xml";
    fs::path link = dir.path / "store.xml";
    spill(target, BASE_STORE);
    fs::create_symlink("real/store.xml", link);
    spill(dir.path / "request.xml", via("10.1.0.0/16", "192.0.2.9"));
    // Looks like a temporary name of the store, but is a user's file; and
    // a lock file naming another file as a killed writer's temporary.
    spill(dir.path / "real" / "store.xml.tmp.abc123", "mine");
    spill(dir.path / "real" / "store.xml.lock",
          (dir.path / "real" / "store.xml.tmp.abc123").string());
    ocmap_run r = run_ocmap(
        {"edit", "--apply", "--store", link.string(), (dir.path / "request.xml").string()},
        dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(slurp(target).find("10.1.0.0"), std::string::npos) << "written through the link";
    EXPECT_EQ(slurp(dir.path / "real" / "store.xml.tmp.abc123"), "mine");

    // A dangling link where the lock file goes is refused, not created.
    fs::path victim = dir.path / "victim";
    fs::create_symlink(victim, dir.path / "other.xml.lock");
    r = run_ocmap({"edit", "--apply", "--store", (dir.path / "other.xml").string(),
                   (dir.path / "request.xml").string()},
                  dir.path);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("the lock file is a symbolic link"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(victim));
}

}  // namespace
