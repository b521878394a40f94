// Nothing may leave the module as an exception: an engine built without
// handlers would abort, and none of its interfaces declares one. Cal3D
// throws when memory runs out (std::bad_alloc) or a size is absurd
// (std::length_error), and so do the module's own containers; every
// operation an engine or application calls runs its body through Guarded,
// which turns any exception into the operation's failure value and one line.
#pragma once

#include <exception>
#include <new>

#include "model/diagnostics.h"

namespace rigweave {

// Prints the line for an exception caught in `operation`; never throws.
inline void DiagnoseException(const char* operation) noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      Diagnose(": Out of memory in ", operation);
    } catch (...) {
      Diagnose(": Failed in ", operation);
    }
  } catch (...) {
  }
}

// body() or, when it throws, `failed` after `recover()` (which must not throw).
template <class Result, class Body, class Recover>
Result Guarded(const char* operation, Result failed, Body&& body, Recover&& recover) noexcept {
  try {
    return body();
  } catch (...) {
    DiagnoseException(operation);
  }
  recover();
  return failed;
}

template <class Result, class Body>
Result Guarded(const char* operation, Result failed, Body&& body) noexcept {
  return Guarded(operation, failed, body, [] {});
}

template <class Body>
void Guarded(const char* operation, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    DiagnoseException(operation);
  }
}

}  // namespace rigweave
