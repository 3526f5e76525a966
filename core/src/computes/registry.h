// The computed-field layer's view of the Host's compute callbacks.
#pragma once

#include <string>
#include <string_view>

#include "types.h"

namespace varnel::computes {

// The outcome of one callback: its value, or an error text.
struct FnResult {
  Json value;
  std::string error;
  bool ok = true;

  static FnResult success(Json v) { return {std::move(v), {}, true}; }
  static FnResult failure(std::string e) { return {Json(), std::move(e), false}; }
};

// Callbacks registered by the Host under a name. Synchronous computes are
// called here; asynchronous ones are run by the Host itself.
class FnRegistry {
 public:
  virtual ~FnRegistry() = default;
  virtual FnResult call_sync(std::string_view name, const Json& argument) = 0;
  virtual FnResult call_async(std::string_view name, const Json& argument) = 0;
};

}  // namespace varnel::computes
