#include "bson.h"

#include <array>
#include <string_view>

namespace varnel::bson {

bool is_extended(const Json& value) {
  if (!value.is_object() || value.size() != 1) return false;
  static constexpr std::array<std::string_view, 5> kKeys = {"$oid", "$date", "$binary",
                                                            "$numberLong", "$numberDecimal"};
  const std::string& key = value.begin().key();
  for (std::string_view k : kKeys) {
    if (key == k) return true;
  }
  return false;
}

std::string id_key(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::string:
      return value.get<std::string>();
    case Json::value_t::object:
      if (const Json* oid = find_key(value, "$oid"); oid != nullptr && oid->is_string()) {
        return oid->get<std::string>();
      }
      return value.dump();
    default:
      return value.dump();
  }
}

}  // namespace varnel::bson
