// A schema-agnostic XML tokenizer for NETCONF documents: well-formedness
// (XML 1.0 fifth edition, with the QName rules of Namespaces in XML) is
// checked in one pass, and what a YANG data tree is made of is handed to a
// handler as it is read. Namespace declarations are passed on as ordinary
// attributes; binding prefixes is the handler's business.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "reader_error.h"

namespace yfw_host {

struct xml_attribute {
    std::string_view name;   // qualified name as written: "nc:operation", "xmlns", "xmlns:nc"
    std::string_view value;  // decoded: references resolved, attribute-value normalisation applied
    std::size_t offset;      // byte offset of the name in the document
};

class xml_handler {
public:
    virtual ~xml_handler() = default;
    // qname as written ("oc:static" or "static"), its attributes in document order,
    // offset of its '<'. Returning false stops the reader at once (the handler has
    // recorded its own error); read_xml then returns false with err untouched.
    virtual bool start_element(std::string_view qname, std::span<const xml_attribute> attributes,
                               std::size_t offset) = 0;
    // Only for elements WITHOUT child elements, once, just before end_element: the
    // element's whole character data, decoded and joined across comments, CDATA
    // sections and processing instructions (so <m>1<!-- x -->0</m> gives "10" and
    // <m><![CDATA[a<b]]></m> gives "a<b"). offset: where the first character of the
    // content is (for an empty element such as <m/> or <m></m>, the offset of the
    // element's '<'). An empty element still gets text("").
    virtual bool text(std::string_view text, std::size_t offset) = 0;
    // offset: the end tag's '<', or the '/' of an empty-element tag.
    virtual bool end_element(std::size_t offset) = 0;
};

// Reads a whole document. Views passed to the handler are valid only during the
// call. max_depth: deepest element nesting accepted (the document element is depth 1).
bool read_xml(std::string_view document, xml_handler &handler, unsigned max_depth,
              reader_error &err);

}  // namespace yfw_host
