// The progress line: on a terminal, runs over 100k routes say on standard
// error what they are doing and for how long, so that a minute of work is
// not a minute of silence. Scripts (standard error not a terminal) and
// small inputs see nothing.
#pragma once

#include <cstddef>
#include <string>

namespace ocmap::progress {

// Turns the line on when standard error is a terminal and on is true (no
// trace or debug output to interleave with).
void start(bool on);
// What ocmap does now; shown once the input is known to be big.
void step(const std::string &what);
// The input is big: bytes of a file about to be parsed, or routes counted.
void input_bytes(std::size_t bytes);
void input_routes(std::size_t routes);
// Clears the line; before any other output to the terminal and at exit.
void finish();

}  // namespace ocmap::progress
