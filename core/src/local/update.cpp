#include "local/update.h"

#include <cmath>
#include <limits>
#include <optional>

#include "error.h"
#include "local/value.h"

namespace varnel::local {

namespace {

std::optional<std::int64_t> signed_integer(const Json& v) {
  if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return {};
    return static_cast<std::int64_t>(u);
  }
  if (v.is_number_integer()) return v.get<std::int64_t>();
  return {};
}

Json add_numbers(const Json& a, const Json& b) {
  auto x = signed_integer(a);
  auto y = signed_integer(b);
  std::int64_t sum = 0;
  if (x && y && !__builtin_add_overflow(*x, *y, &sum)) return sum;
  double d = a.get<double>() + b.get<double>();
  return std::isfinite(d) ? Json(d) : Json();
}

void apply_inc(Json& doc, const Json& fields) {
  if (!fields.is_object()) fail("$inc 需要对象，收到 {}", {type_name(fields)});
  for (const auto& [path, delta] : fields.get_ref<const Json::object_t&>()) {
    if (!delta.is_number()) {
      fail("$inc 的增量必须是数字，字段 \"{}\" 收到 {}", {path, type_name(delta)});
    }
    Json* current = get_path(doc, path);
    if (current == nullptr) {
      set_path(doc, path, delta);
    } else if (!current->is_number()) {
      fail("$inc 目标字段 \"{}\" 非数值（{}）：Mongo 语义要求对数值字段自增",
           {path, type_name(*current)});
    } else {
      *current = add_numbers(*current, delta);
    }
  }
}

void apply_unset(Json& doc, const Json& fields) {
  if (!fields.is_object()) fail("$unset 需要对象，收到 {}", {type_name(fields)});
  for (const auto& [path, ignored] : fields.get_ref<const Json::object_t&>()) {
    remove_path(doc, path);
  }
}

}  // namespace

void apply_set(Json& doc, const Json& fields) {
  if (!fields.is_object()) fail("$set 需要对象，收到 {}", {type_name(fields)});
  for (const auto& [path, value] : fields.get_ref<const Json::object_t&>()) {
    set_path(doc, path, value);
  }
}

void apply_update(Json& doc, const Json& update, bool insert) {
  if (!update.is_object()) fail("update 必须是对象，收到 {}", {type_name(update)});
  if (update.empty()) fail("没有提供要更新的字段");
  if (!doc.is_object()) {
    fail("要更新的文档必须是对象，收到 {}（拒绝静默替换为空文档）", {type_name(doc)});
  }
  for (const auto& [op, arg] : update.get_ref<const Json::object_t&>()) {
    if (op == "$set") {
      apply_set(doc, arg);
    } else if (op == "$unset") {
      apply_unset(doc, arg);
    } else if (op == "$setOnInsert") {
      if (insert) apply_set(doc, arg);
    } else if (op == "$inc") {
      apply_inc(doc, arg);
    } else {
      fail("不支持的更新操作符: {}（本地求值器仅支持 $set/$inc/$unset/$setOnInsert，拒绝静默）",
           {op});
    }
  }
}

}  // namespace varnel::local
