// Compute callbacks: the table maintained by set_fn / clear_fns.
#include "lib.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

void bind_compute(RegistryClass& cls) {
  def_method(
      cls, "set_fn($self, fn_ref, callback)",
      [](PyRegistry& self, pyb::handle fn_ref, pyb::object callback) {
        ExclusiveAccess guard(self);
        self.fns->set(arg_str(fn_ref, "fn_ref"), std::move(callback));
      },
      arg("fn_ref"), arg("callback"));

  def_method(cls, "clear_fns($self)", [](PyRegistry& self) {
    ExclusiveAccess guard(self);
    self.fns->clear();
  });
}

}  // namespace varnel::py
