// How every program here ends on its command line: --help prints the usage
// and exits 0, a bad argument is one line on standard error and exit status 2.
#pragma once

#include <CLI/CLI.hpp>

namespace rwtools {

// Parses `argv` into `app`. -1 when the program goes on; otherwise the exit
// status it ends with, the usage or the one line already printed.
int ParseCommandLine(CLI::App& app, int argc, char** argv, const char* program);

}  // namespace rwtools
