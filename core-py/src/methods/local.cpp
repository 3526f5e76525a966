// Registry.local_eval: commands run against in-memory collections.
#include "lib.h"
#include "local/eval.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

// The envelope as a dict. A collection the command did not change is
// handed back as the very object the caller passed when that object
// converts exactly (see py_to_json), which spares converting every
// collection back on each call.
pyb::object envelope_to_py(const Json& env, pyb::handle given, bool exact) {
  const Json& changed = env["changed"];
  auto is_changed = [&](const std::string& name) {
    for (const Json& c : changed) {
      if (c.get_ref<const std::string&>() == name) return true;
    }
    return false;
  };
  pyb::dict collections;
  for (const auto& [name, rows] : env["collections"].items()) {
    pyb::str key(name);
    PyObject* original = exact && !is_changed(name) ? PyDict_GetItemWithError(given.ptr(), key.ptr())
                                                    : nullptr;
    if (original == nullptr && PyErr_Occurred()) throw pyb::error_already_set();
    collections[key] = original != nullptr ? pyb::reinterpret_borrow<pyb::object>(original)
                                           : json_to_py(rows);
  }
  pyb::dict out;
  out["changed"] = json_to_py(changed);
  out["collections"] = collections;
  out["result"] = json_to_py(env["result"]);
  return out;
}

}  // namespace

void bind_local(RegistryClass& cls) {
  cls.def(
      "local_eval",
      [](PyRegistry& self, pyb::handle collections, pyb::handle command) {
        bool exact = false;
        Json colls = py_to_json(collections.ptr(), exact);
        Json cmd = py_to_json(command);
        SharedAccess guard(self);
        Json env = local::eval_command(std::move(colls), cmd);
        return envelope_to_py(env, collections, exact);
      },
      arg("collections"), arg("command"));
}

}  // namespace varnel::py
