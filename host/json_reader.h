// A schema-agnostic JSON tokenizer (RFC 8259, nothing more lenient): the
// document is checked in one pass and handed to a handler value by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader_error.h"

namespace yfw_host {

enum class json_kind : uint8_t { string, number, true_value, false_value, null_value };

// Offsets are those of the token's first byte: '{', '}', '[', ']', the opening
// quote of a name or string, a number's first character, a literal's first letter.
// Returning false stops the reader at once; read_json then returns false with err
// untouched.
class json_handler {
public:
    virtual ~json_handler() = default;
    virtual bool begin_object(std::size_t offset) = 0;
    // A member name, decoded; the member's value follows as the next event.
    virtual bool member(std::string_view name, std::size_t offset) = 0;
    virtual bool end_object(std::size_t offset) = 0;
    virtual bool begin_array(std::size_t offset) = 0;
    virtual bool end_array(std::size_t offset) = 0;
    // string: decoded text; number: the number's text exactly as written (never
    // converted to double); true/false/null: the literal.
    virtual bool scalar(json_kind kind, std::string_view text, std::size_t offset) = 0;
};

// Reads a whole document. Views passed to the handler are valid only during the
// call. max_depth: deepest nesting of objects and arrays accepted (a top-level
// object is depth 1).
bool read_json(std::string_view document, json_handler &handler, unsigned max_depth,
               reader_error &err);

}  // namespace yfw_host
