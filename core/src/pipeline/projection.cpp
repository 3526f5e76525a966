#include "pipeline/projection.h"

#include <algorithm>

#include "error.h"

namespace varnel::pipeline {

namespace {

bool is_object_sub_selection(const schema::Schema& schema, const std::string& name) {
  auto it = schema.fields.find(name);
  return it != schema.fields.end() && it->second.type == "object" && it->second.fields.has_value();
}

}  // namespace

void flatten_object_fields_impl(std::vector<std::string>& fields, Relations& relations,
                                const schema::Schema& schema) {
  for (const auto& rel : relations) {
    if (!is_object_sub_selection(schema, rel.name)) continue;
    for (const auto& sub : rel.ast.fields) fields.push_back(format("{}.{}", {rel.name, sub}));
  }
  std::erase_if(relations,
                [&](const RelEntry& rel) { return is_object_sub_selection(schema, rel.name); });
}

}  // namespace varnel::pipeline
