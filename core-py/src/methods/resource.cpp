// Module functions over resource references.
#include "lib.h"
#include "resource.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

void bind_resource(pyb::module_& m) {
  m.def("resource_content_path",
        [](pyb::handle sha1) { return resource::content_path(arg_str(sha1, "sha1")); },
        arg("sha1"));
  m.def(
      "resource_is_external_url",
      [](pyb::handle reference) {
        return resource::is_external_url(arg_str(reference, "reference"));
      },
      arg("reference"));
  m.def(
      "resource_compose_url",
      [](pyb::handle reference, pyb::handle cfg) {
        std::string ref = arg_str(reference, "reference");
        return resource::compose_url(ref, py_to_json(cfg));
      },
      arg("reference"), arg("cfg"));
}

}  // namespace varnel::py
