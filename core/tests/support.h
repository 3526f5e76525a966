// Small helpers shared by the core tests.
#pragma once

#include <string>

#include "error.h"
#include "types.h"

namespace varnel::testing {

// The message of the CoreError that f throws, or "" when it succeeds.
template <typename F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const CoreError& e) {
    return e.message();
  }
  return "";
}

inline Json parse(const char* text) { return Json::parse(text); }

}  // namespace varnel::testing
