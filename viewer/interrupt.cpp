#include "viewer/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace rwview {
namespace {

volatile sig_atomic_t caught = 0;

void Mark(int signal) {
  caught = signal;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = &Mark;
  sigemptyset(&action.sa_mask);
  // A read the signal lands in goes on: the run stops where it checks, not
  // with a file the module or the viewer took for unreadable.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool InterruptCaught() {
  return caught != 0;
}

void ThrowIfInterrupted() {
  if (caught != 0) throw Interrupted{caught};
}

void EndBy(const Interrupted& interrupted) {
  signal(interrupted.signal, SIG_DFL);
  raise(interrupted.signal);
  _exit(128 + interrupted.signal);
}

}  // namespace rwview
