// Conversion between Python objects and JSON values, argument extraction,
// and the mapping of core errors onto Python exceptions.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "error.h"
#include "permission.h"
#include "schema/definition.h"
#include "types.h"

namespace varnel::py {

namespace pyb = pybind11;

// Python object -> JSON value. Raises TypeError for unsupported types,
// integers beyond the double range and nesting deeper than kMaxDepth; the
// error is thrown as pybind11::error_already_set.
Json py_to_json(PyObject* obj);
inline Json py_to_json(pyb::handle h) { return py_to_json(h.ptr()); }
// Also reports whether json_to_py of the result gives back an equal object
// of the same types and key order, so the caller may hand `obj` itself back
// instead of a converted copy.
Json py_to_json(PyObject* obj, bool& exact);

// JSON value -> new Python object; dicts iterate in ascending key order.
pyb::object json_to_py(const Json& value);

// None -> absent; anything else converted.
std::optional<Json> optional_json(pyb::handle h);

// A set of names as a sorted list of str, or None when absent.
pyb::object sorted_set(const std::optional<std::set<std::string>>& names);

// A `ctx` argument: None is no context; anything else is converted and
// read as a request context (a non-object reads as no context).
std::optional<permission::Context> context_arg(pyb::handle h);

schema::Location location_from_value(pyb::handle h);
// The same from an already converted value.
schema::Location location_from_json(const Json& v);
pyb::object location_to_value(const schema::Location& loc);

// Argument extraction with TypeError naming the argument.
std::string arg_str(pyb::handle h, const char* name);
bool arg_bool(pyb::handle h, const char* name);
// A sequence of str; a str itself is refused.
std::vector<std::string> arg_str_seq(pyb::handle h, const char* name);

// Sets the pending Python exception for a core error: RuntimeError with
// the full message and the attribute `code`.
void set_core_error(const CoreError& error);

// The module's fatal-error exception type (derived from BaseException).
PyObject* fatal_error_type();
void init_fatal_error(pyb::module_& m);
// Raises the fatal-error exception with the message.
[[noreturn]] void throw_fatal(const std::string& message);

}  // namespace varnel::py
