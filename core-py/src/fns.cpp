#include "fns.h"

#include "convert.h"
#include "error.h"

namespace varnel::py {

namespace pyb = pybind11;

namespace {

// "<qualified type name>: <str(exception)>" of the pending exception, which
// is consumed.
std::string consume_exception() {
  PyObject *type = nullptr, *exc = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &exc, &tb);
  PyErr_NormalizeException(&type, &exc, &tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  pyb::object value = pyb::reinterpret_steal<pyb::object>(exc);
  std::string text;
  pyb::object qualname =
      pyb::reinterpret_steal<pyb::object>(PyType_GetQualName(Py_TYPE(value.ptr())));
  if (qualname) {
    text = qualname.cast<std::string>();
  } else {
    PyErr_Clear();
    text = Py_TYPE(value.ptr())->tp_name;
  }
  pyb::object str = pyb::reinterpret_steal<pyb::object>(PyObject_Str(value.ptr()));
  const char* utf8 = str ? PyUnicode_AsUTF8(str.ptr()) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return text + ": <exception str() failed>";
  }
  return text + ": " + utf8;
}

}  // namespace

FnTable::Lock::Lock(FnTable& table) : table_(table) {
  if (table_.held_.test_and_set(std::memory_order_acquire)) {
    throw CoreError("计算回调表正被进行中的调用占用：回调内不可再调用借用该表的方法（set_fn、clear_fns、process_node、apply_write_defaults、prepare_query、plan_insert、plan_insert_many）");
  }
}

// Replaced callables are released after the lock: their finalisers may run
// Python code that uses the table.
void FnTable::set(std::string name, pyb::object callback) {
  pyb::object replaced;
  Lock lock(*this);
  auto [it, inserted] = fns_.try_emplace(std::move(name));
  replaced = std::exchange(it->second, std::move(callback));
}

void FnTable::clear() {
  std::map<std::string, pyb::object, std::less<>> released;
  Lock lock(*this);
  released.swap(fns_);
}

computes::FnResult PyFnBridge::call_sync(std::string_view name, const Json& argument) {
  auto it = table_.fns_.find(name);
  if (it == table_.fns_.end()) {
    return computes::FnResult::failure(format("计算列 {} 未注册同步实现", {name}));
  }
  pyb::object callback = it->second;  // kept alive for the call
  try {
    pyb::object arg = json_to_py(argument);
    pyb::object result =
        pyb::reinterpret_steal<pyb::object>(PyObject_CallOneArg(callback.ptr(), arg.ptr()));
    if (!result) throw pyb::error_already_set();
    return computes::FnResult::success(py_to_json(result));
  } catch (pyb::error_already_set& e) {
    e.restore();
    return computes::FnResult::failure(consume_exception());
  }
}

computes::FnResult PyFnBridge::call_async(std::string_view name, const Json&) {
  return computes::FnResult::failure(
      format("异步计算列 {} 需由 Host 执行（见 prepare_query 返回的 fn_refs）", {name}));
}

}  // namespace varnel::py
