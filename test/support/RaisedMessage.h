#pragma once

#include <string>

#include "ErrorHandling.h"

// The raw message of the WkError that `f` raises, so tests can compare the
// whole text a user would see.
template <class F>
std::string raisedMessage(F&& f) {
  try {
    f();
  } catch (const WkErrorBase& e) {
    return e.rawMessage();
  }
  return "(nothing raised)";
}
