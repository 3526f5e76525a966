// The data source a schema lives in, and its kind under a configuration.
#include "datasource.h"
#include "lib.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

void bind_datasource(RegistryClass& cls) {
  def_method(
      cls, "schema_datasource($self, schema_name)",
      [](PyRegistry& self, pyb::handle schema_name) -> pyb::object {
        SharedAccess guard(self);
        std::string name = arg_str(schema_name, "schema_name");
        const auto& source = datasource::schema_datasource(self.core, name);
        return source ? pyb::object(pyb::str(*source)) : pyb::object(pyb::none());
      },
      arg("schema_name"));

  def_method(
      cls, "resolve_datasource($self, schema_name, config=None)",
      [](PyRegistry& self, pyb::handle schema_name, pyb::handle config) {
        SharedAccess guard(self);
        std::string name = arg_str(schema_name, "schema_name");
        Json cfg = py_to_json(config);
        return std::string(
            datasource::datasource_text(datasource::resolve_datasource(self.core, name, cfg)));
      },
      arg("schema_name"), arg("config") = pyb::none());
}

}  // namespace varnel::py
