// The XML and JSON tokenizers under the schema-driven builders: events as
// compact strings, and the offset and message of each refusal.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "json_reader.h"
#include "xml_reader.h"

namespace {

using namespace std::string_literals;
using yfw_host::json_kind;

// "<m[a=1]>(text)</m>", each event with "@offset" when offsets is set.
struct xml_recorder : yfw_host::xml_handler {
    bool offsets = false;
    std::string out, stop_at;
    std::vector<std::string> open;
    std::string at(size_t o) const {
        return offsets ? std::string("@").append(std::to_string(o)) : "";
    }
    bool start_element(std::string_view q, std::span<const yfw_host::xml_attribute> attrs,
                       size_t o) override {
        out.append("<").append(q).append(at(o));
        for (auto &a : attrs)
            out.append("[").append(a.name).append(at(a.offset)).append("=").append(a.value) += "]";
        out += ">";
        open.emplace_back(q);
        return q != stop_at;
    }
    bool text(std::string_view t, size_t o) override {
        out.append("(").append(t).append(at(o)) += ")";
        return true;
    }
    bool end_element(size_t o) override {
        out.append("</").append(open.back()).append(at(o)) += ">";
        open.pop_back();
        return true;
    }
};

// Events separated by spaces: { name: [ 1 "text" true ] }
struct json_recorder : yfw_host::json_handler {
    std::string out;
    bool add(const std::string &s) {
        out.append(out.empty() ? "" : " ") += s;
        return true;
    }
    bool begin_object(size_t) override { return add("{"); }
    bool member(std::string_view n, size_t) override { return add(std::string(n) + ":"); }
    bool end_object(size_t) override { return add("}"); }
    bool begin_array(size_t) override { return add("["); }
    bool end_array(size_t) override { return add("]"); }
    bool scalar(json_kind k, std::string_view t, size_t) override {
        return add(k == json_kind::string ? std::string("\"").append(t) + "\"" : std::string(t));
    }
};

std::string refusal(const yfw_host::reader_error &e) {
    return std::string("@").append(std::to_string(e.offset)).append(": ") + e.message;
}
// The events, or "@OFFSET: MESSAGE".
std::string xml(const std::string &in, unsigned depth = 3, bool offsets = false) {
    xml_recorder h;
    h.offsets = offsets;
    yfw_host::reader_error err;
    return yfw_host::read_xml(in, h, depth, err) ? h.out : refusal(err);
}
std::string json(const std::string &in, unsigned depth = 3) {
    json_recorder h;
    yfw_host::reader_error err;
    return yfw_host::read_json(in, h, depth, err) ? h.out : refusal(err);
}

// Rows of (input, events), or (input, "@OFFSET: " and the start of the message).
using table = std::vector<std::pair<std::string, std::string>>;
void check(const table &rows, bool is_json = false) {
    for (const auto &[in, want] : rows) {
        std::string got = is_json ? json(in) : xml(in);
        EXPECT_EQ(want.starts_with("@") ? got.substr(0, want.size()) : got, want) << in;
    }
}

TEST(xml_reader, reads_what_netconf_documents_hold) {
    check({{"<m>1<!-- x -->0</m>", "<m>(10)</m>"},
           {"<m><![CDATA[a<b&amp;]]></m>", "<m>(a<b&amp;)</m>"},
           {"<m>a<?pi x?>b<![CDATA[]]>c<!---->d</m>", "<m>(abcd)</m>"},
           {"<r><m/><e></e><c><!-- c --></c></r>", "<r><m>()</m><e>()</e><c>()</c></r>"},
           {"<m>&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#x1F600;&#13;</m>", "<m>(<>&'\"AB😀\r)</m>"},
           {"<m a=\"x\r\ny\rz\">1\r\n2\r3<![CDATA[\r\n]]></m>", "<m[a=x y z]>(1\n2\n3\n)</m>"},
           {"<m a=\"\tx\n y&#10;&#13;&#9;&#32;\"/>", "<m[a= x  y\n\r\t ]>()</m>"},
           {"<m a='say \"hi\"' b=\"it's\" xmlns:nc='urn:x' nc:operation = 'delete' ></m >",
            "<m[a=say \"hi\"][b=it's][xmlns:nc=urn:x][nc:operation=delete]>()</m>"},
           {"<r>\n  <a>1</a>\r\n  <!-- c --> &#32;&#10;&#9;&#13;<![CDATA[ ]]>\n</r>",
            "<r><a>(1)</a></r>"},
           {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone='yes'?>\n<!-- c -->"
            "<?p?><r/>\n<!-- e --><?q x?> \n",
            "<r>()</r>"},
           {"<é:ü xmlns:é='u'>ö\xEF\xBF\xBD</é:ü>", "<é:ü[xmlns:é=u]>(ö\xEF\xBF\xBD)</é:ü>"},
           {"<r><xml-x/><?xml-stylesheet a?></r>", "<r><xml-x>()</xml-x></r>"}});
    EXPECT_EQ(xml("<r>\n <m a=\"1\">v</m><e/></r>", 3, true),
              "<r@0><m@5[a@8=1]>(v@14)</m@15><e@19>(@19)</e@21></r@23>");
    EXPECT_EQ(xml("<m><!--c--><![CDATA[x]]></m><!---->", 3, true), "<m@0>(x@20)</m@24>");
    EXPECT_EQ(xml("<m>&amp;b</m>", 3, true), "<m@0>(&b@3)</m@9>");
}

TEST(xml_reader, refuses_malformed_and_unwanted_documents) {
    check(
        {{"\xEF\xBB\xBF<!-- c --> ", "@14: malformed XML: no document element"},
         {"<r/><r/>", "@4: malformed XML: a second document element"},
         {"<r/>x", "@4: malformed XML: text after the document element"},
         {"<?xml version='1.0'?><!DOCTYPE r [<!ENTITY e 'x'>]><r/>",
          "@21: DOCTYPE declarations are not accepted"},
         {"<a><b></bc></a>", "@6: malformed XML: mismatched end tag </bc>, expected </b>"},
         {"<a x='1' y='' x=\"2\"/>", "@14: malformed XML: attribute x appears twice"},
         {"<m>&x;</m>",
          "@3: malformed XML: '&x;' is no predefined entity or character "
          "reference (write '&amp;' for '&')"},
         {"<m>a & b</m>", "@5: malformed XML: '&' is no predefined entity or character reference"},
         {"<m>&amp</m>", "@3: malformed XML: '&amp' lacks the ';' that ends a reference"},
         {"<m>&#0;</m>", "@3: malformed XML: '&#0;' refers to a character XML does not allow"},
         {"<m a='b&#1;'/>", "@7: malformed XML: '&#1;' refers to a character"},
         {"<m>&#4294967361;</m>", "@3: malformed XML: '&#4294967361;' refers to a character"},
         {"<m>a\x1b and then more text</m>", "@4: malformed XML: control character 0x1b"},
         {"<m a='\tb\x01'/>", "@8: malformed XML: control character 0x01"},
         {"<m>\xC0\xAF</m>", "@3: malformed XML: invalid UTF-8"},
         {"<m>\xED\xA0\x80</m>", "@3: malformed XML: invalid UTF-8"},
         {"<m>ab\xE2\x82</m>", "@5: malformed XML: invalid UTF-8"},
         {"<m>\xF4\x90\x80\x80</m>", "@3: malformed XML: invalid UTF-8"},
         {"<m>\xEF\xBF\xBF</m>", "@3: malformed XML: U+FFFF is no XML character"},
         {"<r>x<a/></r>", "@3: <r> mixes text and elements"},
         {"<r> \n<a/>\n x </r>", "@11: <r> mixes text and elements"},
         {"<r><a/><![CDATA[ x]]></r>", "@17: <r> mixes text and elements"},
         {"<r>&#65;<a/></r>", "@3: <r> mixes text and elements"},
         {"<r><a/>&#65;</r>", "@7: <r> mixes text and elements"},
         {"<m>a]]>b and then more text</m>", "@4: malformed XML: ']]>' in character data"},
         {"<m><!-- a ---></m>", "@10: malformed XML: '--' inside a comment"},
         {"<m><!-- a</m>", "@13: malformed XML: the document ends inside a comment"},
         {"<m a='1>", "@8: malformed XML: the document ends inside an attribute value"},
         {"<a:b:c/>", "@1: malformed XML: 'a:b:c' is no qualified name"},
         {"<a:1/>", "@1: malformed XML: 'a:1' is no qualified name"},
         {"<?XML version='1.0'?><r/>",
          "@0: malformed XML: an XML declaration ('<?XML') is allowed only at the very start"},
         {"<?xml version='1.0' encoding='ISO-8859-1'?><r/>",
          "@30: only UTF-8 documents are accepted"},
         {"<a><b><c><d/></c></b></a>", "@9: elements nested deeper than 3 levels"}});
}

TEST(xml_reader, keeps_every_attribute_of_a_tag_and_stops_when_the_handler_does) {
    // Every decoded value stays valid while the scratch buffer grows, and a
    // repeat is found among more attributes than are compared pairwise.
    std::string tag = "<m", want = "<m";
    for (int i = 0; i < 40; ++i) {
        std::string v = std::string(static_cast<size_t>(i) * 7, 'v') + "&amp;";
        tag += " a" + std::to_string(i) + "='" + v + "'";
        want += "[a" + std::to_string(i) + "=" + v.substr(0, v.size() - 4) + "]";
    }
    EXPECT_EQ(xml(tag + "/>"), want + ">()</m>");
    EXPECT_EQ(xml(tag + " a1='x' a5='y'/>"),
              "@" + std::to_string(tag.size() + 1) + ": malformed XML: attribute a1 appears twice");

    xml_recorder h;
    h.stop_at = "b";
    yfw_host::reader_error err{7, "untouched"};
    EXPECT_FALSE(yfw_host::read_xml("<a><b>x</b></a>", h, 64, err));
    EXPECT_EQ(h.out + refusal(err), "<a><b>@7: untouched");
}

TEST(readers, survive_deep_nesting) {
    const size_t n = 100000;
    std::string deep;
    for (size_t i = 0; i < 2 * n; ++i) deep += i < n ? "<a>" : "</a>";
    EXPECT_EQ(xml(deep, n).size(), n * 3 + 2 + n * 4);
    EXPECT_EQ(xml(deep, 64), "@192: elements nested deeper than 64 levels");
    deep = std::string(n, '[') + std::string(n, ']');
    EXPECT_EQ(json(deep, n).size(), n * 4 - 1);
    EXPECT_EQ(json(deep, 64), "@64: members nested deeper than 64 levels");
}

TEST(json_reader, reads_rfc_8259_documents) {
    check(
        {{"\xEF\xBB\xBF {\"a\" : 1 }\r\n", "{ a: 1 }"},
         {"[0,-0,12,-1.5,1e5,1E+5,2.5e-3,0.0,-0E-0]", "[ 0 -0 12 -1.5 1e5 1E+5 2.5e-3 0.0 -0E-0 ]"},
         {"[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\",\"\\u00e9\\u20AC\\ud83d\\ude00\",\"a\\u0000b\"]",
          "[ \"\"\\/\b\f\n\r\t\" \"é€😀\" \"a\0b\" ]"s},
         {"{\"\\u0041\":\"é😀\",\"b\":{},\"c\":[],\"d\":[true,false,null,{}]}",
          "{ A: \"é😀\" b: { } c: [ ] d: [ true false null { } ] }"},
         {"-12.5e+3", "-12.5e+3"}},
        true);
}

TEST(json_reader, refuses_anything_rfc_8259_does_not_allow) {
    check({{"", "@0: malformed JSON: expected a value, found the end of the document"},
           {"05", "@1: malformed JSON: a number must not have a leading zero"},
           {"+1", "@0: malformed JSON: expected a value"},
           {"[.5]", "@1: malformed JSON: expected a value"},
           {"1.", "@2: malformed JSON: expected a digit after '.'"},
           {"1e+", "@3: malformed JSON: expected a digit in the exponent"},
           {"[1,]", "@3: malformed JSON: expected a value after ',' (no trailing commas)"},
           {"{\"a\":1,}",
            "@7: malformed JSON: expected a member name after ',' (no trailing commas)"},
           {"{\"a\":1} x", "@8: malformed JSON: text after the JSON value"},
           {"[\"a\x01 and then more text\"]",
            "@3: malformed JSON: control character 0x01 in a string"},
           {"[\"\\x\"]", "@2: malformed JSON: invalid escape '\\x'"},
           {"[\"ab\\ud800\"]", "@4: malformed JSON: lone surrogate '\\ud800'"},
           {"[\"\\uD800\\u0041\"]", "@2: malformed JSON: lone surrogate '\\uD800'"},
           {"[\"\\udc00\"]", "@2: malformed JSON: lone surrogate '\\udc00'"},
           {"[\"\xC0\xAF\"]", "@2: malformed JSON: invalid UTF-8"},
           {"[\"x\\u00e9\xE2\x82\"]", "@9: malformed JSON: invalid UTF-8"},
           {"[\"abc", "@5: malformed JSON: the document ends inside a string"},
           {"{'a':1}", "@1: malformed JSON: expected a member name in double quotes"},
           {"[NaN]", "@1: malformed JSON: expected a value"},
           {"[[[[1]]]]", "@3: members nested deeper than 3 levels"}},
          true);
}

}  // namespace
