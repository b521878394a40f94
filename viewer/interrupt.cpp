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
