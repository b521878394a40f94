// SIGINT and SIGTERM end a run at the next frame or character, through the
// same unwinding as a failure, so that what the run wrote is removed; an
// open window without --frames takes them as a quit instead.
#pragma once

namespace rwview {

struct Interrupted {
  int signal = 0;
};

// Until the process ends, SIGINT and SIGTERM only mark the run interrupted.
void CatchInterrupts();
// Whether a signal has come.
bool InterruptCaught();
// Throws Interrupted once a signal has come.
void ThrowIfInterrupted();
// Ends the process as the signal would have, once what the run wrote is gone.
[[noreturn]] void EndBy(const Interrupted& interrupted);

}  // namespace rwview
