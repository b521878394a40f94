// Preloaded into a program under test: sends the process a signal just
// before its Nth rename (RIGWEAVE_SIGNAL_AT_RENAME="N SIGNAL"), so that a
// test can stop it at each step that moves a file into place, as a user's
// Ctrl-C or a kill -9 would.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const Rename real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  static int count = 0;
  const char* plan = std::getenv("RIGWEAVE_SIGNAL_AT_RENAME");
  int at = 0, signal = 0;
  if (plan != nullptr && std::sscanf(plan, "%d %d", &at, &signal) == 2 && ++count == at)
    kill(getpid(), signal);
  return real(from, to);
}
