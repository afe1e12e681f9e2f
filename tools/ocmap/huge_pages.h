// Large inputs: run with the allocator backing its memory by huge pages.
#pragma once

#include <string>

namespace ocmap {

// When the inputs together hold at least `threshold` bytes and the
// allocator has not been told about huge pages, runs this program again
// with the C library's malloc tunable for transparent huge pages set
// (GLIBC_TUNABLES=...:glibc.malloc.hugetlb=1). Returns only when it did not
// (small inputs, the tunable already given, or the new run could not start).
// Must be called before any input is read.
void rerun_with_huge_pages(char **argv, const std::string &file, const std::string &store);

}  // namespace ocmap
