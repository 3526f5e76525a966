#include "pipeline/util.h"

#include <string>

#include "error.h"

namespace varnel::pipeline {

namespace {

constexpr std::string_view kT2q = "ERR_TEXT2QUERY:";

// Conditions built by the planners wrap the caller's value in a few more
// levels, so the walks allow twice the nesting accepted from outside.
constexpr std::size_t kMaxWalkDepth = 2 * kMaxDepth;

void check_depth(std::size_t depth) {
  if (depth > kMaxWalkDepth) fail("条件嵌套深度超过上限 {} 层", {std::to_string(kMaxWalkDepth)});
}

const Json::object_t* as_object(const Json& value) {
  return value.is_object() ? &value.get_ref<const Json::object_t&>() : nullptr;
}

bool is_logical_group(std::string_view key) {
  return key == "$and" || key == "$or" || key == "$nor";
}

bool is_rejected_operator(std::string_view key) {
  return key == "$where" || key == "$function" || key == "$accumulator";
}

bool is_write_stage(std::string_view key) {
  return key == "$merge" || key == "$out";
}

void refuse_write_stage(std::string_view key) {
  if (is_write_stage(key)) {
    fail("聚合阶段 {}（写副作用）被拒绝：不允许在查询/聚合中写落盘", {key});
  }
}

// The walk of validate_condition; inside pipeline stages it also refuses
// write stages wherever they are nested.
void check_value(const Json& value, std::size_t depth, bool in_pipeline) {
  check_depth(depth);
  if (value.is_array()) {
    for (const auto& v : value) check_value(v, depth + 1, in_pipeline);
    return;
  }
  const auto* obj = as_object(value);
  if (obj == nullptr) return;
  for (const auto& [key, v] : *obj) {
    if (in_pipeline) refuse_write_stage(key);
    if (is_rejected_operator(key)) {
      fail("条件包含被拒绝的操作符 {}（服务端执行类，命中拒绝名单）：请改用结构化条件", {key});
    }
    if (is_logical_group(key) && v.is_array() && v.empty()) {
      fail("{} 逻辑组为空：拒绝生成无条件的全表查询（请在组内提供至少一个条件）", {key});
    }
    check_value(v, depth + 1, in_pipeline);
  }
}

void check_field_shape(const schema::Schema& schema, const std::string& key, bool t2q) {
  auto type = root_field_type(schema, key);
  if (!type) return;
  bool dotted = key.find('.') != std::string::npos;
  if (*type == "array" && dotted) {
    fail(
        "数组字段索引路径 \"{}\" "
        "不支持过滤条件（各后端数组索引语义不一致；请改用整值过滤或对象点号路径）",
        {key});
  }
  if (!t2q) return;
  if (*type == "array") {
    forbid_t2q_shape(true, "U1 数组字段条件",
                     format("数组字段 \"{}\" 不支持过滤条件（U1/D2）", {key}));
  } else if (*type == "object" && dotted) {
    forbid_t2q_shape(true, "U3 对象点号路径条件",
                     format("对象点号路径 \"{}\" 不支持过滤条件（U3/D2）", {key}));
  } else if (*type == "object") {
    forbid_t2q_shape(true, "U2 对象字段条件",
                     format("对象字段 \"{}\" 不支持过滤条件（U2/D2）", {key}));
  }
}

// Visits the entries of a condition object in ascending key order, going
// into the elements of "$and", "$or" and "$nor" arrays and, when `into_not`,
// into the value of "$not". `visit(key)` returns true to stop the walk, which
// then returns true.
template <class Visit>
bool walk_logical(const Json& condition, bool into_not, const Visit& visit, std::size_t depth = 0) {
  check_depth(depth);
  const auto* obj = as_object(condition);
  if (obj == nullptr) return false;
  for (const auto& [key, v] : *obj) {
    if (is_logical_group(key)) {
      if (!v.is_array()) continue;
      for (const auto& e : v) {
        if (walk_logical(e, into_not, visit, depth + 1)) return true;
      }
    } else if (into_not && key == "$not") {
      if (walk_logical(v, into_not, visit, depth + 1)) return true;
    } else if (visit(key)) {
      return true;
    }
  }
  return false;
}

Json single(std::string_view key, Json value) {
  Json stage = Json::object();
  stage[std::string(key)] = std::move(value);
  return stage;
}

}  // namespace

Json get_default(std::string_view type_name) {
  if (type_name == "int" || type_name == "long" || type_name == "float" || type_name == "double") {
    return 0;
  }
  if (type_name == "string") return "";
  if (type_name == "boolean") return false;
  if (type_name == "array") return Json::array();
  if (type_name == "object") return Json::object();
  return nullptr;
}

std::optional<std::string_view> root_field_type(const schema::Schema& schema,
                                                std::string_view path) {
  auto it = schema.fields.find(path.substr(0, path.find('.')));
  if (it == schema.fields.end()) return std::nullopt;
  return it->second.type;
}

bool has_relation_predicate(const schema::Schema& schema, const Json& condition) {
  return walk_logical(condition, true,
                      [&](const std::string& key) { return schema.relations.contains(key); });
}

void validate_condition(const Json& condition) {
  check_value(condition, 0, false);
}

// A negated condition reads the same fields as the condition itself, so the
// walk goes into "$not" too.
void validate_condition_shape(const schema::Schema& schema, const Json& condition, bool t2q) {
  walk_logical(condition, true, [&](const std::string& key) {
    if (!key.starts_with('$') && !schema.relations.contains(key)) {
      check_field_shape(schema, key, t2q);
    }
    return false;
  });
}

void validate_sort_shape(const schema::Schema& schema, const Json& sort, bool t2q) {
  const auto* obj = as_object(sort);
  if (obj == nullptr || !t2q) return;
  for (const auto& [key, v] : *obj) {
    if (key.find('.') == std::string::npos || schema.relations.contains(key)) continue;
    if (root_field_type(schema, key) == "object") {
      forbid_t2q_shape(true, "U4 对象点号路径排序",
                       format("对象点号路径 \"{}\" 不支持排序（U4/D2）", {key}));
    }
  }
}

void validate_pipeline_stages(const Json& stages) {
  if (!stages.is_array()) return;
  for (const auto& stage : stages) {
    if (stage.is_array()) {
      for (const auto& e : stage) check_value(e, 1, true);
    } else if (const auto* obj = as_object(stage)) {
      for (const auto& [key, v] : *obj) {
        refuse_write_stage(key);
        check_value(v, 1, true);
      }
    }
  }
}

bool is_text2query(const schema::Registry& registry) {
  return registry.profile == schema::Profile::Text2Query;
}

void forbid_t2q(const schema::Registry& registry, std::string_view feature) {
  if (is_text2query(registry)) fail("{}text2query 档禁用 [{}]（功能收缩）", {kT2q, feature});
}

void forbid_t2q_shape(bool t2q, std::string_view code, std::string_view message) {
  if (t2q) fail("{}text2query 档功能收缩 [{}]：{}", {kT2q, code, message});
}

void ensure_t2q_context(const schema::Registry& registry, bool has_context) {
  if (!has_context && is_text2query(registry)) fail("{}text2query 档必须携带用户上下文", {kT2q});
}

void ensure_route_override_allowed(const schema::Registry& registry, bool has_override) {
  if (has_override && is_text2query(registry)) {
    fail("{}text2query 档禁用 route_override（受信参数，禁 AI 侧指定）", {kT2q});
  }
}

void ensure_relation_nesting(bool t2q, std::size_t depth, std::size_t paging_depth) {
  constexpr std::size_t kMaxPagingDepth = 4;
  std::size_t max_depth = t2q ? 3 : 10;
  if (depth < max_depth && paging_depth < kMaxPagingDepth) return;
  std::string d = std::to_string(depth), m = std::to_string(max_depth);
  std::string p = std::to_string(paging_depth), mp = std::to_string(kMaxPagingDepth);
  if (t2q) {
    fail("{}text2query 档关系嵌套超限（深度 {} ≥ {} / 分页深度 {} ≥ {}）", {kT2q, d, m, p, mp});
  }
  fail("关系嵌套超限（深度 {} ≥ {} / 分页深度 {} ≥ {}）——拒绝静默降级", {d, m, p, mp});
}

const Json* param(const Json& params, std::string_view reference) {
  if (reference.empty()) return nullptr;
  // The first character is dropped whole; a multi-byte one leaves no key.
  bool single_byte = static_cast<unsigned char>(reference.front()) < 0x80;
  return find_key(params, single_byte ? reference.substr(1) : std::string_view());
}

void override_or_append(Json& stages, std::string_view key, Json value) {
  for (auto& stage : stages) {
    if (find_key(stage, key) != nullptr) {
      stage = single(key, std::move(value));
      return;
    }
  }
  stages.push_back(single(key, std::move(value)));
}

void append_order(Json& stages, const Json* sort, const Json* skip, const Json* limit) {
  auto add = [&stages](std::string_view key, const Json* value) {
    if (value != nullptr && !value->is_null()) stages.push_back(single(key, *value));
  };
  add("$sort", sort);
  add("$skip", skip);
  add("$limit", limit);
}

void collect_having_agg_refs(const Json& condition,
                             const std::function<bool(const std::string&)>& pred,
                             std::set<std::string>& refs) {
  walk_logical(condition, false, [&](const std::string& key) {
    if (!key.starts_with('$') && pred(key)) refs.insert(key);
    return false;
  });
}

}  // namespace varnel::pipeline
