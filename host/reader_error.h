// Where and why the XML or JSON reader gave up on a document.
#pragma once

#include <cstddef>
#include <string>

namespace yfw_host {

struct reader_error {
    std::size_t offset = 0;  // byte offset in the document where the problem is
    std::string message;     // e.g. "malformed XML: expected '>' after the attributes of <static>"
    bool out_of_memory = false;  // the document may be fine; the process was not
};

}  // namespace yfw_host
