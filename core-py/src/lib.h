// The Python class Registry and the helpers every method family uses.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <utility>

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

// Binds a Registry method (or a module function) under the name that starts
// `text_signature` ("plan_load($self, config, files)"), which becomes its
// `__text_signature__`.
template <typename Target, typename F, typename... Extra>
void def_method(Target& target, std::string_view text_signature, F&& f, const Extra&... extra) {
  pybind11::options options;
  options.disable_function_signatures();
  std::string name(text_signature.substr(0, text_signature.find('(')));
  std::string doc = std::string(text_signature) + "\n--\n\n";
  target.def(name.c_str(), std::forward<F>(f), pybind11::doc(doc.c_str()), extra...);
}

// Method families, each in its own file under methods/.
void bind_compute(RegistryClass& cls);
void bind_local(RegistryClass& cls);
void bind_naming(pybind11::module_& m);
void bind_perm(RegistryClass& cls);
void bind_load(RegistryClass& cls);
void bind_datasource(RegistryClass& cls);
void bind_resource(pybind11::module_& m);

}  // namespace varnel::py
