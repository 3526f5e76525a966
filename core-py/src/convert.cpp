#include "convert.h"

#include <cmath>
#include <string_view>
#include <unordered_map>

namespace varnel::py {

namespace {

PyObject* g_fatal_error = nullptr;

[[noreturn]] void throw_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw pyb::error_already_set();
}

std::string_view utf8_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) throw pyb::error_already_set();
  return {data, static_cast<std::size_t>(size)};
}

std::string type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

// Python -> JSON. `exact` stays true while the value converts back by
// json_to_py to an equal object of the same types and key order: only
// exact None/bool/int/float/str/list/dict, 64-bit ints, finite floats, and
// dicts whose str keys already ascend in byte order.
class ToJson {
 public:
  bool exact = true;

  Json convert(PyObject* obj, std::size_t depth) {
    if (PyUnicode_CheckExact(obj)) return Json(Json::string_t(utf8_of(obj)));
    if (PyLong_CheckExact(obj)) return convert_int(obj);
    if (PyDict_CheckExact(obj)) return convert_dict(obj, depth);
    if (PyList_CheckExact(obj)) return convert_sequence(obj, true, depth);
    if (PyFloat_CheckExact(obj)) return convert_float(PyFloat_AS_DOUBLE(obj));
    if (obj == Py_None) return Json();
    if (Py_IS_TYPE(obj, &PyBool_Type)) return Json(obj == Py_True);
    // Subclasses and tuples convert like their base types but come back as
    // the base types.
    exact = false;
    if (PyLong_Check(obj)) return convert_int(obj);
    if (PyFloat_Check(obj)) return convert_float(PyFloat_AS_DOUBLE(obj));
    if (PyUnicode_Check(obj)) return Json(Json::string_t(utf8_of(obj)));
    if (PyList_Check(obj)) return convert_sequence(obj, true, depth);
    if (PyDict_Check(obj)) return convert_dict(obj, depth);
    if (PyTuple_Check(obj)) return convert_sequence(obj, false, depth);
    throw_type_error("不支持的 Python 类型（需为 None/bool/int/float/str/list/tuple/dict）");
  }

 private:
  static void check_depth(std::size_t depth) {
    if (depth >= kMaxDepth) {
      throw_type_error("值的嵌套深度超过上限 " + std::to_string(kMaxDepth) + " 层");
    }
  }

  Json convert_float(double d) {
    if (std::isfinite(d)) return Json(d);
    exact = false;
    return Json();
  }

  Json convert_int(PyObject* obj) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0) {
      if (v == -1 && PyErr_Occurred()) throw pyb::error_already_set();
      return Json(static_cast<std::int64_t>(v));
    }
    if (overflow > 0) {
      unsigned long long u = PyLong_AsUnsignedLongLong(obj);
      if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
        return Json(static_cast<std::uint64_t>(u));
      }
      PyErr_Clear();
    }
    double d = PyLong_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw_type_error("整数超出 JSON 文档模型可表示的范围（需在 64 位整数或双精度浮点数范围内）");
    }
    exact = false;
    return Json(d);
  }

  Json convert_sequence(PyObject* obj, bool is_list, std::size_t depth) {
    check_depth(depth);
    Json out = Json::array();
    auto& arr = out.get_ref<Json::array_t&>();
    Py_ssize_t n = is_list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj);
    arr.reserve(static_cast<std::size_t>(n));
    // A list may change while its elements convert (str() of a dict key runs
    // Python code), so its size is read again on every step.
    for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(obj) : n); ++i) {
      PyObject* item = is_list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i);
      Py_INCREF(item);
      try {
        arr.push_back(convert(item, depth + 1));
      } catch (...) {
        Py_DECREF(item);
        throw;
      }
      Py_DECREF(item);
    }
    return out;
  }

  Json convert_dict(PyObject* obj, std::size_t depth) {
    check_depth(depth);
    Json out = Json::object();
    auto& map = out.get_ref<Json::object_t&>();
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    const Py_ssize_t size = PyDict_GET_SIZE(obj);
    while (PyDict_Next(obj, &pos, &key, &value)) {
      pyb::object k = pyb::reinterpret_borrow<pyb::object>(key);
      pyb::object v = pyb::reinterpret_borrow<pyb::object>(value);
      Json::string_t key_text;
      if (PyUnicode_CheckExact(key)) {
        key_text = utf8_of(key);
      } else {
        exact = false;
        pyb::object s = pyb::reinterpret_steal<pyb::object>(
            PyUnicode_Check(key) ? Py_NewRef(key) : PyObject_Str(key));
        if (!s) throw pyb::error_already_set();
        key_text = utf8_of(s.ptr());
      }
      Json converted = convert(v.ptr(), depth + 1);
      if (PyDict_GET_SIZE(obj) != size) throw_fatal("dictionary changed size during conversion");
      // Keys that arrive in ascending order are appended at the end.
      if (map.empty() || map.rbegin()->first < key_text) {
        map.emplace_hint(map.end(), std::move(key_text), std::move(converted));
      } else {
        exact = false;
        map.insert_or_assign(std::move(key_text), std::move(converted));
      }
    }
    return out;
  }
};

// JSON -> Python. Object keys are made once per conversion and shared by
// every dict that holds them, which spares an allocation and a hash per key.
class ToPy {
 public:
  ToPy() = default;
  ToPy(const ToPy&) = delete;
  ToPy& operator=(const ToPy&) = delete;
  ~ToPy() {
    for (auto& [text, key] : keys_) Py_DECREF(key);
  }

  PyObject* convert(const Json& v) {
    switch (v.type()) {
      case Json::value_t::boolean:
        return Py_NewRef(v.get<bool>() ? Py_True : Py_False);
      case Json::value_t::number_integer:
        return PyLong_FromLongLong(v.get<std::int64_t>());
      case Json::value_t::number_unsigned:
        return PyLong_FromUnsignedLongLong(v.get<std::uint64_t>());
      case Json::value_t::number_float:
        return PyFloat_FromDouble(v.get<double>());
      case Json::value_t::string:
        return text(v.get_ref<const std::string&>());
      case Json::value_t::array: {
        const auto& arr = v.get_ref<const Json::array_t&>();
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(arr.size()));
        if (list == nullptr) return nullptr;
        for (std::size_t i = 0; i < arr.size(); ++i) {
          PyObject* item = convert(arr[i]);
          if (item == nullptr) {
            Py_DECREF(list);
            return nullptr;
          }
          PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
        }
        return list;
      }
      case Json::value_t::object: {
        const auto& map = v.get_ref<const Json::object_t&>();
        PyObject* dict = _PyDict_NewPresized(static_cast<Py_ssize_t>(map.size()));
        if (dict == nullptr) return nullptr;
        for (const auto& [k, val] : map) {
          PyObject* key = key_of(k);
          PyObject* item = key != nullptr ? convert(val) : nullptr;
          int rc = item != nullptr ? PyDict_SetItem(dict, key, item) : -1;
          Py_XDECREF(item);
          if (rc != 0) {
            Py_DECREF(dict);
            return nullptr;
          }
        }
        return dict;
      }
      default:
        return Py_NewRef(Py_None);
    }
  }

 private:
  static PyObject* text(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
  }

  // A borrowed reference, owned by the cache.
  PyObject* key_of(const std::string& k) {
    auto it = keys_.find(k);
    if (it != keys_.end()) return it->second;
    PyObject* key = text(k);
    if (key != nullptr) keys_.emplace(k, key);
    return key;
  }

  std::unordered_map<std::string_view, PyObject*> keys_;  // views of the converted value's keys
};

}  // namespace

Json py_to_json(PyObject* obj) { return ToJson().convert(obj, 0); }

Json py_to_json(PyObject* obj, bool& exact) {
  ToJson converter;
  Json out = converter.convert(obj, 0);
  exact = converter.exact;
  return out;
}

pyb::object json_to_py(const Json& value) {
  PyObject* obj = ToPy().convert(value);
  if (obj == nullptr) throw pyb::error_already_set();
  return pyb::reinterpret_steal<pyb::object>(obj);
}

std::optional<Json> optional_json(pyb::handle h) {
  if (h.is_none()) return std::nullopt;
  return py_to_json(h);
}

pyb::object sorted_set(const std::optional<std::set<std::string>>& names) {
  if (!names) return pyb::none();
  pyb::list out;
  for (const auto& n : *names) out.append(pyb::str(n));
  return out;
}

std::optional<permission::Context> context_arg(pyb::handle h) {
  if (h.is_none()) return std::nullopt;
  return permission::context_from_value(py_to_json(h));
}

schema::Location location_from_value(pyb::handle h) { return location_from_json(py_to_json(h)); }

schema::Location location_from_json(const Json& v) {
  if (!v.is_object()) throw pyb::type_error("location 必须是对象");
  auto text = [&](std::string_view key) -> std::optional<std::string> {
    const std::string* s = non_empty_string(find_key(v, key));
    return s != nullptr ? std::optional<std::string>(*s) : std::nullopt;
  };
  schema::Location loc;
  loc.source = text("source").value_or("default");
  loc.database = text("database");
  loc.schema = text("schema");
  if (auto role = text("role")) loc.role = schema::parse_role(*role);
  if (const Json* p = find_key(v, "priority"); p != nullptr && !p->is_null()) {
    loc.priority = as_int64(*p);
    if (!loc.priority) throw pyb::type_error("location.priority 必须是整数");
  }
  return loc;
}

pyb::object location_to_value(const schema::Location& loc) {
  pyb::dict d;
  auto opt = [](const std::optional<std::string>& s) -> pyb::object {
    return s ? pyb::object(pyb::str(*s)) : pyb::object(pyb::none());
  };
  d["database"] = opt(loc.database);
  d["priority"] = loc.priority ? pyb::object(pyb::int_(*loc.priority)) : pyb::object(pyb::none());
  d["role"] = loc.role ? pyb::object(pyb::str(std::string(schema::role_text(*loc.role))))
                       : pyb::object(pyb::none());
  d["schema"] = opt(loc.schema);
  d["source"] = pyb::str(loc.source);
  return d;
}

std::string arg_str(pyb::handle h, const char* name) {
  if (!PyUnicode_Check(h.ptr())) {
    throw pyb::type_error(std::string("argument '") + name + "': expected str, got " +
                          type_name(h.ptr()));
  }
  return std::string(utf8_of(h.ptr()));
}

bool arg_bool(pyb::handle h, const char* name) {
  if (!PyBool_Check(h.ptr())) {
    throw pyb::type_error(std::string("argument '") + name + "': expected bool, got " +
                          type_name(h.ptr()));
  }
  return h.ptr() == Py_True;
}

std::vector<std::string> arg_str_seq(pyb::handle h, const char* name) {
  if (PyUnicode_Check(h.ptr()) || !PySequence_Check(h.ptr())) {
    throw pyb::type_error(std::string("argument '") + name +
                          "': expected a sequence of str, got " + type_name(h.ptr()));
  }
  pyb::object seq = pyb::reinterpret_steal<pyb::object>(PySequence_Fast(h.ptr(), name));
  if (!seq) throw pyb::error_already_set();
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(seq.ptr(), i);
    if (!PyUnicode_Check(item)) {
      throw pyb::type_error(std::string("argument '") + name + "': element " + std::to_string(i) +
                            " is " + type_name(item) + ", expected str");
    }
    out.emplace_back(utf8_of(item));
  }
  return out;
}

void set_core_error(const CoreError& error) {
  const std::string& msg = error.message();
  pyb::object text = pyb::reinterpret_steal<pyb::object>(
      PyUnicode_DecodeUTF8(msg.data(), static_cast<Py_ssize_t>(msg.size()), "replace"));
  pyb::object exc =
      pyb::reinterpret_steal<pyb::object>(PyObject_CallOneArg(PyExc_RuntimeError, text.ptr()));
  if (!exc) return;  // the failed call left its own exception pending
  std::string_view code = error_code(error.kind());
  pyb::object code_text = pyb::str(code.data(), code.size());
  if (PyObject_SetAttrString(exc.ptr(), "code", code_text.ptr()) != 0) PyErr_Clear();
  PyErr_SetObject(PyExc_RuntimeError, exc.ptr());
}

PyObject* fatal_error_type() { return g_fatal_error; }

void init_fatal_error(pyb::module_& m) {
  g_fatal_error = PyErr_NewExceptionWithDoc(
      "varnel_py.FatalError",
      "An internal failure that must not be handled like an ordinary error.",
      PyExc_BaseException, nullptr);
  if (g_fatal_error == nullptr) throw pyb::error_already_set();
  m.attr("FatalError") = pyb::handle(g_fatal_error);
}

void throw_fatal(const std::string& message) {
  PyErr_SetString(g_fatal_error, message.c_str());
  throw pyb::error_already_set();
}

}  // namespace varnel::py
