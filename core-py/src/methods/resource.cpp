// Module functions over resource references.
#include "lib.h"
#include "resource.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

void bind_resource(pyb::module_& m) {
  def_method(m, "resource_content_path(sha1)",
        [](pyb::handle sha1) { return resource::content_path(arg_str(sha1, "sha1")); },
        arg("sha1"));
  def_method(
      m, "resource_is_external_url(reference)",
      [](pyb::handle reference) {
        return resource::is_external_url(arg_str(reference, "reference"));
      },
      arg("reference"));
  def_method(
      m, "resource_compose_url(reference, cfg)",
      [](pyb::handle reference, pyb::handle cfg) {
        std::string ref = arg_str(reference, "reference");
        return resource::compose_url(ref, py_to_json(cfg));
      },
      arg("reference"), arg("cfg"));
}

}  // namespace varnel::py
