// Host-side controls of the platform runtime: where log and trace lines go,
// which interfaces the interface manager knows, and where the platform's
// package library directory is.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// A log handle names its sink. The host points the mapping context's
// handles at these.
enum class sink_kind { error_log, trace_log, trace_buffer };
void *log_handle(sink_kind which);

// Every line that reaches an enabled sink is handed to the line consumer
// (default: standard error, one line each). Lines of a disabled sink are not
// formatted at all.
using line_consumer = std::function<void(sink_kind, const std::string &)>;
void set_line_consumer(line_consumer consumer);  // empty: back to standard error
void set_sink_enabled(sink_kind which, bool on);

// Interface manager contents.
void imc_set_known_interfaces(std::vector<std::string> names);

// Directory that stands for the router's "/pkg/lib/" in the database library
// check. Default: the directory of the loaded libsysdb.so. Tests point it at
// an empty directory to simulate a missing library.
void set_pkg_lib_dir(std::string dir);
std::string pkg_lib_dir();

}  // namespace platform
