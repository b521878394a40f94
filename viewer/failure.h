// How the viewer's units stop a run: main prints the text as one line and
// exits with 2 for a bad command line, 1 for anything else.
#pragma once

#include <string>

namespace rwview {

// Anything wrong on the command line; printed with a hint to --help.
struct BadArguments {
  std::string text;
};
// Anything that stops the run later; printed alone.
struct Failure {
  std::string text;
};

constexpr const char kProgram[] = "rigweave-view";

}  // namespace rwview
