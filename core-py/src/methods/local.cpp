// Registry.local_eval: commands run against in-memory collections.
#include "lib.h"
#include "local/eval.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

// The written collection as a list: documents the command did not touch
// are the caller's own objects, the others are converted.
pyb::object written_to_py(const Json& rows, const local::Origins& origins, PyObject* given) {
  const auto& docs = rows.get_ref<const Json::array_t&>();
  pyb::list out(docs.size());
  for (std::size_t i = 0; i < docs.size(); ++i) {
    std::ptrdiff_t from = i < origins.size() ? origins[i] : -1;
    // Converting may run Python code (a garbage collection), so the caller's list is
    // checked again before it is read.
    bool reuse = from >= 0 && given != nullptr && PyList_Check(given) && from < PyList_GET_SIZE(given);
    out[i] = reuse ? pyb::reinterpret_borrow<pyb::object>(PyList_GET_ITEM(given, from))
                   : json_to_py(docs[i]);
  }
  return out;
}

// The envelope as a dict. When the caller's collections convert exactly
// (see py_to_json), what the command did not change is handed back as the
// caller's own objects instead of converted copies: every collection a
// read saw, the collections a write left alone, and the documents of the
// written collection that the write did not touch.
pyb::object envelope_to_py(const Json& env, pyb::handle given, bool exact,
                           const local::Origins& origins) {
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
    PyObject* original = exact ? PyDict_GetItemWithError(given.ptr(), key.ptr()) : nullptr;
    if (original == nullptr && PyErr_Occurred()) throw pyb::error_already_set();
    if (!is_changed(name)) {
      collections[key] = original != nullptr ? pyb::reinterpret_borrow<pyb::object>(original)
                                             : json_to_py(rows);
    } else {
      collections[key] = exact ? written_to_py(rows, origins, original) : json_to_py(rows);
    }
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
        local::Origins origins;
        Json env = local::eval_command(std::move(colls), cmd, &origins);
        return envelope_to_py(env, collections, exact, origins);
      },
      arg("collections"), arg("command"));
}

}  // namespace varnel::py
