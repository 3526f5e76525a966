// Shared helpers of the local evaluator tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "error.h"
#include "types.h"

namespace varnel::local::testing {

inline Json J(const std::string& text) { return Json::parse(text); }

// Runs f and returns the CoreError message it throws ("" when none).
template <typename F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const CoreError& e) {
    return e.message();
  }
  return "";
}

}  // namespace varnel::local::testing
