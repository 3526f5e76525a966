// Module functions over names: canonical tokens, styles, targets, conflicts.
#include "lib.h"
#include "naming/naming.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

pyb::list tokens_to_py(const naming::Tokens& tokens) {
  pyb::list out;
  for (const auto& t : tokens) out.append(pyb::str(t));
  return out;
}

// Core refusals of the naming helpers are ValueError, not RuntimeError.
template <typename F>
auto value_errors(F&& f) {
  try {
    return f();
  } catch (const CoreError& e) {
    throw pyb::value_error(e.message());
  }
}

}  // namespace

void bind_naming(pyb::module_& m) {
  def_method(
      m, "canonical(s)",
      [](pyb::handle s) { return tokens_to_py(naming::canonical(arg_str(s, "s"))); }, arg("s"));
  def_method(
      m, "to_snake(tokens)",
      [](pyb::handle t) { return naming::to_snake(arg_str_seq(t, "tokens")); }, arg("tokens"));
  def_method(
      m, "to_camel(tokens)",
      [](pyb::handle t) { return naming::to_camel(arg_str_seq(t, "tokens")); }, arg("tokens"));
  def_method(
      m, "to_pascal(tokens)",
      [](pyb::handle t) { return naming::to_pascal(arg_str_seq(t, "tokens")); }, arg("tokens"));
  def_method(
      m, "translate_name(logical, target)",
      [](pyb::handle logical, pyb::handle target) {
        std::string name = arg_str(logical, "logical");
        std::string tgt = arg_str(target, "target");
        return value_errors([&] { return naming::translate_by_str(name, tgt); });
      },
      arg("logical"), arg("target"));
  def_method(
      m, "detect_conflicts(names)",
      [](pyb::handle names) {
        auto list = arg_str_seq(names, "names");
        value_errors([&] { naming::detect_conflicts(list); });
      },
      arg("names"));
}

}  // namespace varnel::py
