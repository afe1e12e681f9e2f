// Address texts as the store keeps them and the documents carry them: read
// as inet_pton reads them and written as inet_ntop writes them (RFC 5952
// for IPv6), without the printf that inet_ntop spends most of its time in.
// Every address of every route passes through here on each load.
#pragma once

#include <cstddef>
#include <string_view>

namespace yfw_host {

// Room for the longest text, "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255".
constexpr std::size_t address_text_size = 46;

// The address in bytes (4 for IPv4, 16 for IPv6); false when text is not an
// address of that family as inet_pton reads it.
bool parse_address(bool v6, std::string_view text, unsigned char (&bytes)[16]);

// The canonical text of an address, as inet_ntop writes it; returns its
// length (no NUL is written).
std::size_t format_address(bool v6, const unsigned char (&bytes)[16],
                           char (&out)[address_text_size]);

}  // namespace yfw_host
