// The Python class Registry and the helpers every method family uses.
#pragma once

#include <pybind11/pybind11.h>

#include "convert.h"
#include "fns.h"
#include "schema/registry.h"

namespace varnel::py {

// The Python object behind one `Registry`: the core registry, the
// compute-callback table (shared with policy views) and the per-object
// access state (0 free, n > 0 shared users, -1 exclusive).
struct PyRegistry {
  schema::Registry core;
  FnTableHandle fns = std::make_shared<FnTable>();
  int borrow = 0;
};

// Access guards: a call that conflicts with one in progress on the same
// object raises RuntimeError at once instead of waiting.
class SharedAccess {
 public:
  explicit SharedAccess(PyRegistry& r);
  ~SharedAccess() { --r_.borrow; }
  SharedAccess(const SharedAccess&) = delete;
  SharedAccess& operator=(const SharedAccess&) = delete;

 private:
  PyRegistry& r_;
};

class ExclusiveAccess {
 public:
  explicit ExclusiveAccess(PyRegistry& r);
  ~ExclusiveAccess() { r_.borrow = 0; }
  ExclusiveAccess(const ExclusiveAccess&) = delete;
  ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

 private:
  PyRegistry& r_;
};

using RegistryClass = pybind11::class_<PyRegistry>;

// Method families, each in its own file under methods/.
void bind_compute(RegistryClass& cls);
void bind_local(RegistryClass& cls);
void bind_naming(pybind11::module_& m);
void bind_resource(pybind11::module_& m);

}  // namespace varnel::py
