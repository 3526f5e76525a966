#include "types.h"

namespace varnel {

bool is_truthy(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return false;
    case Json::value_t::boolean:
      return value.get<bool>();
    case Json::value_t::number_integer:
      return value.get<std::int64_t>() != 0;
    case Json::value_t::number_unsigned:
      return value.get<std::uint64_t>() != 0;
    case Json::value_t::number_float:
      return value.get<double>() != 0.0;  // NaN compares unequal: true
    case Json::value_t::string:
      return !value.get_ref<const Json::string_t&>().empty();
    default:
      return true;
  }
}

std::string compact_json(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json* find_key(const Json& obj, std::string_view key) {
  if (!obj.is_object()) return nullptr;
  const auto& map = obj.get_ref<const Json::object_t&>();
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

bool is_truthy_key(const Json& obj, std::string_view key) {
  const Json* v = find_key(obj, key);
  return v != nullptr && is_truthy(*v);
}

const std::string* non_empty_string(const Json* v) {
  if (v == nullptr || !v->is_string()) return nullptr;
  const auto& s = v->get_ref<const std::string&>();
  return s.empty() ? nullptr : &s;
}

std::optional<std::int64_t> as_int64(const Json& v) {
  if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(u);
  }
  if (v.is_number_integer()) return v.get<std::int64_t>();
  return std::nullopt;
}

std::vector<std::string> string_elements(const Json& array) {
  std::vector<std::string> out;
  if (!array.is_array()) return out;
  for (const auto& e : array) {
    if (e.is_string()) out.push_back(e.get<std::string>());
  }
  return out;
}

}  // namespace varnel
