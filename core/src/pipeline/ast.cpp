#include "pipeline/ast.h"

#include <string_view>

#include "error.h"

namespace varnel::pipeline {

namespace {

constexpr std::string_view kTooDeep = "RelAst 嵌套超过 {} 层";

void write_selection(const RelAst& sel, Json& out) {
  Json params = Json::object();
  for (const auto& [key, value] : sel.params) params[key] = value;
  Json relations = Json::object();
  for (const auto& [name, rel] : sel.relations) relations[name] = rel.to_value();
  out["params"] = std::move(params);
  out["fields"] = sel.fields;
  out["relations"] = std::move(relations);
}

// `level` is the nesting level of the relations read here (the root's are 1).
void read_selection(const Json& value, RelAst& sel, std::size_t level) {
  if (const Json* params = find_key(value, "params"); params != nullptr && params->is_object()) {
    for (const auto& [key, v] : params->items()) {
      if (v.is_string()) sel.params.emplace(key, v.get<std::string>());
    }
  }
  if (const Json* fields = find_key(value, "fields"); fields != nullptr && fields->is_array()) {
    sel.fields.reserve(fields->size());
    for (const auto& f : *fields) sel.fields.push_back(f.is_string() ? f.get<std::string>() : "");
  }
  const Json* relations = find_key(value, "relations");
  if (relations == nullptr || !relations->is_object() || relations->empty()) return;
  if (level > kMaxSelectionDepth) fail(kTooDeep, {std::to_string(kMaxSelectionDepth)});
  sel.relations.reserve(relations->size());
  for (const auto& [name, v] : relations->items()) {
    if (!v.is_object()) fail("RelAst 必须是对象");
    RelAst rel;
    read_selection(v, rel, level + 1);
    sel.relations.push_back({name, std::move(rel)});
  }
}

}  // namespace

Json RelAst::to_value() const {
  Json out = Json::object();
  write_selection(*this, out);
  return out;
}

RelAst RelAst::from_value(const Json& value) {
  if (!value.is_object()) fail("RelAst 必须是对象");
  RelAst out;
  read_selection(value, out, 2);
  return out;
}

Json Ast::to_value() const {
  Json out = Json::object();
  out["model"] = model;
  write_selection(*this, out);
  return out;
}

Ast Ast::from_value(const Json& value) {
  if (!value.is_object()) fail("Ast 必须是对象");
  Ast out;
  if (const Json* model = find_key(value, "model"); model != nullptr && model->is_string()) {
    out.model = model->get<std::string>();
  }
  read_selection(value, out, 1);
  return out;
}

}  // namespace varnel::pipeline
