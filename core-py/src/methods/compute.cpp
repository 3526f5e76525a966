// Compute callbacks: the table maintained by set_fn / clear_fns.
#include "lib.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

void bind_compute(RegistryClass& cls) {
  cls.def(
      "set_fn",
      [](PyRegistry& self, pyb::handle fn_ref, pyb::object callback) {
        ExclusiveAccess guard(self);
        self.fns->set(arg_str(fn_ref, "fn_ref"), std::move(callback));
      },
      arg("fn_ref"), arg("callback"));

  cls.def("clear_fns", [](PyRegistry& self) {
    ExclusiveAccess guard(self);
    self.fns->clear();
  });
}

}  // namespace varnel::py
