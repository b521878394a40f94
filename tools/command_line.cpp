#include "tools/command_line.h"

#include <cstdio>

namespace rwtools {

int ParseCommandLine(CLI::App& app, int argc, char** argv, const char* program) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "%s: %s (try --help)\n", program, error.what());
    return 2;
  }
  return -1;
}

}  // namespace rwtools
