// Load planning and registration: plan_load, register*, can_register,
// apply_link_decls.
#include "lib.h"
#include "schema/load.h"

namespace varnel::py {

namespace pyb = pybind11;
using pyb::arg;

namespace {

const permission::Context* ptr(const std::optional<permission::Context>& ctx) {
  return ctx ? &*ctx : nullptr;
}

// A converted list argument whose elements must be objects holding the
// required keys. The elements are checked one after the other, so the first
// bad element is the one reported; each refusal is a TypeError with its own
// text.
Json::array_t& array_elements(Json& value, const char* not_array) {
  if (!value.is_array()) throw pyb::type_error(not_array);
  return value.get_ref<Json::array_t&>();
}

Json& object_element(Json& element, const char* not_object) {
  if (!element.is_object()) throw pyb::type_error(not_object);
  return element;
}

Json& required_key(Json& obj, const char* key, const char* missing) {
  auto it = obj.find(key);
  if (it == obj.end()) throw pyb::type_error(missing);
  return *it;
}

std::vector<schema::FileEntry> file_entries(pyb::handle files) {
  Json value = py_to_json(files);
  auto& list = array_elements(value, "files 必须是数组");
  std::vector<schema::FileEntry> out;
  out.reserve(list.size());
  for (Json& element : list) {
    Json& e = object_element(element, "files 项必须是 {rel, defn} 对象");
    Json& rel = required_key(e, "rel", "files 项缺 rel");
    if (!rel.is_string()) throw pyb::type_error("files 项缺 rel");
    Json& defn = required_key(e, "defn", "files 项缺 defn");
    out.push_back({std::move(rel.get_ref<std::string&>()), std::move(defn)});
  }
  return out;
}

std::vector<schema::LoadItem> load_items(pyb::handle items) {
  Json value = py_to_json(items);
  auto& list = array_elements(value, "items 必须是数组");
  std::vector<schema::LoadItem> out;
  out.reserve(list.size());
  for (Json& element : list) {
    Json& e = object_element(element, "items 项必须是 {defn, location} 对象");
    Json& defn = required_key(e, "defn", "items 项缺 defn");
    const Json& location = required_key(e, "location", "items 项缺 location");
    out.push_back({std::move(defn), location_from_json(location)});
  }
  return out;
}

}  // namespace

void bind_load(RegistryClass& cls) {
  def_method(
      cls, "plan_load($self, config, files)",
      [](PyRegistry& self, pyb::handle config, pyb::handle files) {
        SharedAccess guard(self);
        auto cfg = schema::LoadConfig::from_json(py_to_json(config));
        auto entries = file_entries(files);
        pyb::list out;
        for (const auto& item : schema::plan_load(cfg, entries)) {
          pyb::dict d;
          d["defn"] = json_to_py(item.defn);
          d["location"] = location_to_value(item.location);
          out.append(std::move(d));
        }
        return out;
      },
      arg("config"), arg("files"));

  def_method(
      cls, "register($self, defn)",
      [](PyRegistry& self, pyb::handle defn) {
        ExclusiveAccess guard(self);
        self.core.register_with_ctx(py_to_json(defn), nullptr);
      },
      arg("defn"));

  def_method(
      cls, "register_with_ctx($self, defn, ctx)",
      [](PyRegistry& self, pyb::handle defn, pyb::handle ctx) {
        ExclusiveAccess guard(self);
        Json value = py_to_json(defn);
        auto context = context_arg(ctx);
        self.core.register_with_ctx(std::move(value), ptr(context));
      },
      arg("defn"), arg("ctx"));

  def_method(
      cls, "can_register($self, ctx)",
      [](PyRegistry& self, pyb::handle ctx) {
        SharedAccess guard(self);
        auto context = context_arg(ctx);
        return self.core.can_register(ptr(context));
      },
      arg("ctx"));

  def_method(
      cls, "register_batch($self, items, ctx)",
      [](PyRegistry& self, pyb::handle items, pyb::handle ctx) {
        ExclusiveAccess guard(self);
        auto batch = load_items(items);
        auto context = context_arg(ctx);
        self.core.register_batch(batch, ptr(context));
      },
      arg("items"), arg("ctx"));

  def_method(
      cls, "apply_link_decls($self, config)",
      [](PyRegistry& self, pyb::handle config) {
        ExclusiveAccess guard(self);
        self.core.apply_link_decls(schema::LoadConfig::from_json(py_to_json(config)).links);
      },
      arg("config"));
}

}  // namespace varnel::py
