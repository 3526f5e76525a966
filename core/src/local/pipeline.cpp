#include "local/pipeline.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "bson.h"
#include "error.h"
#include "local/filter.h"
#include "local/value.h"

namespace varnel::local {

namespace {

using Array = Json::array_t;
using Object = Json::object_t;

const Json& null_value() {
  static const Json kNull;
  return kNull;
}

const Json& no_vars() {
  static const Json kEmpty = Json::object();
  return kEmpty;
}

std::string number_text(std::size_t n) { return std::to_string(n); }

// ---------------------------------------------------------------------------
// Expressions

class ExprEval {
 public:
  ExprEval(const Json& doc, const Json& vars) : doc_(doc), vars_(vars) {}

  Value eval(const Json& expr) {
    switch (expr.type()) {
      case Json::value_t::string:
        return eval_string(expr);
      case Json::value_t::array: {
        DepthGuard guard(depth_, "表达式");
        Json out = Json::array();
        auto& arr = out.get_ref<Array&>();
        arr.reserve(expr.size());
        for (const Json& e : expr.get_ref<const Array&>()) arr.push_back(eval(e).take());
        return Value(std::move(out));
      }
      case Json::value_t::object: {
        if (bson::is_extended(expr)) return Value(&expr);
        const auto& map = expr.get_ref<const Object&>();
        DepthGuard guard(depth_, "表达式");
        if (map.size() == 1 && !map.begin()->first.empty() && map.begin()->first[0] == '$') {
          return op(std::string_view(map.begin()->first).substr(1), map.begin()->second);
        }
        Json out = Json::object();
        auto& obj = out.get_ref<Object&>();
        for (const auto& [k, v] : map) obj.emplace_hint(obj.end(), k, eval(v).take());
        return Value(std::move(out));
      }
      default:
        return Value(&expr);
    }
  }

  Value op(std::string_view name, const Json& operand);

 private:
  Value eval_string(const Json& expr) {
    std::string_view s = expr.get_ref<const std::string&>();
    if (s.empty() || s[0] != '$') return Value(&expr);
    if (s.size() >= 2 && s[1] == '$') return variable(s.substr(2));
    Value out;
    if (field(doc_, s.substr(1), s.size() > 1, out)) return out;
    return Value();
  }

  Value variable(std::string_view ref) {
    std::size_t dot = ref.find('.');
    const Json* bound = find_key(vars_, ref.substr(0, dot));
    if (bound == nullptr) return Value();
    if (dot == std::string_view::npos) return Value(bound);
    const Json* v = get_path(*bound, ref.substr(dot + 1));
    return v == nullptr ? Value() : Value(v);
  }

  // A field reference: arrays met on the way are entered, giving the array
  // of what their elements hold at the rest of the path. False when missing.
  bool field(const Json& cur, std::string_view path, bool has_segments, Value& out) {
    if (!has_segments) {
      out = Value(&cur);
      return true;
    }
    if (cur.is_object()) {
      std::size_t dot = path.find('.');
      const auto& map = cur.get_ref<const Object&>();
      auto it = map.find(path.substr(0, dot));
      if (it == map.end()) return false;
      bool more = dot != std::string_view::npos;
      return field(it->second, more ? path.substr(dot + 1) : std::string_view(), more, out);
    }
    if (!cur.is_array()) return false;
    Json found = Json::array();
    for (const Json& e : cur.get_ref<const Array&>()) {
      if (!e.is_object() && !e.is_array()) continue;
      Value v;
      if (field(e, path, true, v)) found.push_back(std::move(v).take());
    }
    out = Value(std::move(found));
    return true;
  }

  std::pair<const Json*, const Json*> two(std::string_view name, const Json& operand) {
    if (!operand.is_array()) fail("{} 需要操作数数组", {format("${}", {name})});
    if (operand.size() != 2) {
      fail("{} 需要恰好两个操作数，收到 {}", {format("${}", {name}), number_text(operand.size())});
    }
    return {&operand[0], &operand[1]};
  }

  Value logical(std::string_view name, const Json& operand, bool stop_on) {
    if (!operand.is_array()) fail("{} 需要操作数数组", {format("${}", {name})});
    for (const Json& e : operand.get_ref<const Array&>()) {
      if (expr_truthy(*eval(e)) == stop_on) return Value(Json(stop_on));
    }
    return Value(Json(!stop_on));
  }

  Value cond(const Json& operand) {
    const Json* parts[3];
    if (operand.is_array()) {
      if (operand.size() != 3) fail("$cond 数组形态需要 3 个操作数，收到 {}", {number_text(operand.size())});
      for (int i = 0; i < 3; ++i) parts[i] = &operand[i];
    } else if (operand.is_object()) {
      const char* names[3] = {"if", "then", "else"};
      for (int i = 0; i < 3; ++i) {
        parts[i] = find_key(operand, names[i]);
        if (parts[i] == nullptr) fail("$cond 对象形态缺少 \"{}\"", {names[i]});
      }
    } else {
      fail("$cond 需要数组 [if, then, else] 或对象 {if, then, else}");
    }
    return eval(expr_truthy(*eval(*parts[0])) ? *parts[1] : *parts[2]);
  }

  Value array_elem_at(const Json& operand) {
    auto [a, b] = two("arrayElemAt", operand);
    Value arr = eval(*a);
    Value index = eval(*b);
    const Json& i = *index;
    bool integral = i.is_number_integer() &&
                    (!i.is_number_unsigned() ||
                     i.get<std::uint64_t>() <=
                         static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    if (!integral) fail("$arrayElemAt 的下标必须是整数");
    if (!arr->is_array()) fail("$arrayElemAt 的第一个操作数必须是数组");
    auto n = static_cast<std::int64_t>(arr->size());
    std::int64_t k = i.get<std::int64_t>();
    if (k < 0) k += n;
    if (k < 0 || k >= n) return Value();
    return Value(Json((*arr)[static_cast<std::size_t>(k)]));
  }

  const Json& doc_;
  const Json& vars_;
  std::size_t depth_ = 0;
};

Value ExprEval::op(std::string_view name, const Json& operand) {
  if (name == "eq") {
    auto [a, b] = two(name, operand);
    Value x = eval(*a);
    Value y = eval(*b);
    return Value(Json(equal(*x, *y)));
  }
  if (name == "and") return logical(name, operand, false);
  if (name == "or") return logical(name, operand, true);
  if (name == "in") {
    auto [a, b] = two(name, operand);
    Value x = eval(*a);
    Value list = eval(*b);
    if (!list->is_array()) fail("$in 的第二个操作数必须是数组");
    const auto& members = list->get_ref<const Array&>();
    auto member = [&](const Json& v) {
      return std::any_of(members.begin(), members.end(),
                         [&](const Json& m) { return equal(v, m); });
    };
    bool hit = false;
    if (x->is_array()) {
      const auto& xs = x->get_ref<const Array&>();
      hit = std::any_of(xs.begin(), xs.end(), member);
    } else {
      hit = member(*x);
    }
    return Value(Json(hit));
  }
  if (name == "ifNull") {
    auto [a, b] = two(name, operand);
    Value x = eval(*a);
    return x->is_null() ? eval(*b) : std::move(x);
  }
  if (name == "cond") return cond(operand);
  if (name == "isArray") return Value(Json(eval(operand)->is_array()));
  if (name == "size") {
    Value x = eval(operand);
    if (!x->is_array()) fail("$size 的操作数必须是数组，收到 {}", {type_name(*x)});
    return Value(Json(static_cast<std::uint64_t>(x->size())));
  }
  if (name == "arrayElemAt") return array_elem_at(operand);
  if (name == "sum" || name == "avg" || name == "min" || name == "max") {
    Value x = eval(operand);
    std::vector<const Json*> values;
    if (x->is_array()) {
      for (const Json& e : x->get_ref<const Array&>()) values.push_back(&e);
    } else {
      values.push_back(&*x);
    }
    return Value(accumulate_expr(name, values));
  }
  fail(
      "不支持的聚合表达式算子: ${}（本地求值器仅支持 "
      "$eq/$and/$or/$ifNull/$cond/$isArray/$in/$arrayElemAt/$size/$sum/$avg/$min/$max，拒绝静默）",
      {name});
}

// Running totals of one accumulator over a group.
struct Accumulator {
  explicit Accumulator(std::string_view name) : op(name) {}

  std::string_view op;  // "sum", "avg", "min" or "max"
  double total = 0.0;
  std::size_t count = 0;
  std::optional<Json> best;

  void add(const Json& v) {
    if (op == "sum" || op == "avg") {
      if (auto n = as_number(v)) {
        total += *n;
        ++count;
      }
      return;
    }
    if (v.is_null()) return;
    if (!best || (op == "min" ? compare(v, *best) < 0 : compare(v, *best) > 0)) best = v;
  }

  Json result() && {
    if (op == "sum") {
      if (std::fabs(total) <= 9007199254740992.0 && std::trunc(total) == total) {
        return total < 0 ? Json(static_cast<std::int64_t>(total))
                         : Json(static_cast<std::uint64_t>(total));
      }
      return std::isfinite(total) ? Json(total) : Json();
    }
    if (op == "avg") {
      if (count == 0) return Json();
      double avg = total / static_cast<double>(count);
      return std::isfinite(avg) ? Json(avg) : Json();
    }
    return best ? std::move(*best) : Json();
  }
};

void append_canonical(const Json& v, std::string& out) {
  switch (v.type()) {
    case Json::value_t::boolean:
      out += v.get<bool>() ? "b~true" : "b~false";
      return;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: {
      char buf[400];
      auto res = std::to_chars(buf, buf + sizeof buf, v.get<double>(), std::chars_format::fixed);
      out += "n~";
      out.append(buf, res.ptr);
      return;
    }
    case Json::value_t::string:
      out += "s~";
      out += v.dump();
      return;
    case Json::value_t::array: {
      out += "a~[";
      bool first = true;
      for (const Json& e : v.get_ref<const Array&>()) {
        if (!first) out += ',';
        first = false;
        append_canonical(e, out);
      }
      out += ']';
      return;
    }
    case Json::value_t::object: {
      out += "o~{";
      bool first = true;
      for (const auto& [k, e] : v.get_ref<const Object&>()) {
        if (!first) out += ',';
        first = false;
        out += k;
        out += ':';
        append_canonical(e, out);
      }
      out += '}';
      return;
    }
    default:
      out += "z~";
  }
}

}  // namespace

Value::Value() : ptr_(&null_value()) {}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    own_ = std::move(other.own_);
    ptr_ = other.owned() ? &own_ : other.ptr_;
  }
  return *this;
}

Json Value::take() && { return owned() ? std::move(own_) : *ptr_; }

Value evaluate(const Json& expr, const Json& doc, const Json& vars) {
  ExprEval ev(doc, vars);
  return ev.eval(expr);
}

Json eval_expr(const Json& expr, const Json& doc, const Json& vars) {
  return evaluate(expr, doc, vars).take();
}

Json eval_operator(std::string_view name, const Json& operand, const Json& doc,
                   const Json& vars) {
  ExprEval ev(doc, vars);
  return ev.op(name, operand).take();
}

Json accumulate_expr(std::string_view op, const std::vector<const Json*>& values) {
  Accumulator acc(op);
  for (const Json* v : values) acc.add(*v);
  return std::move(acc).result();
}

bool expr_truthy(const Json& value) {
  if (value.is_null()) return false;
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0.0;
  return true;
}

std::string canonical(const Json& value) {
  std::string out;
  append_canonical(value, out);
  return out;
}

// ---------------------------------------------------------------------------
// Projection

namespace {

bool is_zero_or_one(const Json& v) {
  if (!v.is_number()) return false;
  double d = v.get<double>();
  return d == 0.0 || d == 1.0;
}

bool is_flag(const Json& v) { return v.is_boolean() || is_zero_or_one(v); }

void add_path(Projection::PathTree& tree, std::string_view path) {
  Projection::PathTree* node = &tree;
  if (!path.empty()) {
    while (true) {
      std::size_t dot = path.find('.');
      std::string_view head = path.substr(0, dot);
      auto it = node->children.find(head);
      if (it == node->children.end()) it = node->children.emplace(std::string(head), Projection::PathTree{}).first;
      node = &it->second;
      if (dot == std::string_view::npos) break;
      path = path.substr(dot + 1);
    }
  }
  node->whole = true;
}

// The part of a value that the included paths designate; arrays keep the
// subsets of their elements in place, so paths into the same elements
// combine.
std::optional<Json> subset(const Json& value, const Projection::PathTree& node) {
  if (node.whole) return value;
  if (value.is_object()) {
    Json out = Json::object();
    auto& obj = out.get_ref<Object&>();
    const auto& map = value.get_ref<const Object&>();
    for (const auto& [key, child] : node.children) {
      auto it = map.find(key);
      if (it == map.end()) continue;
      if (auto part = subset(it->second, child)) obj.emplace_hint(obj.end(), key, std::move(*part));
    }
    if (obj.empty()) return std::nullopt;
    return out;
  }
  if (value.is_array()) {
    Json out = Json::array();
    for (const Json& e : value.get_ref<const Array&>()) {
      if (auto part = subset(e, node)) out.push_back(std::move(*part));
    }
    return out;
  }
  return std::nullopt;
}

const char kMixedProjection[] = "投影不允许同时包含与排除字段（`_id` 除外）";

}  // namespace

Projection Projection::plain(const Json& spec) {
  if (!spec.is_object()) fail("投影必须是对象，收到 {}", {type_name(spec)});
  Projection p;
  if (spec.empty()) return p;
  bool included = false;
  for (const auto& [key, v] : spec.get_ref<const Object&>()) {
    if (!is_flag(v)) {
      if (v.is_number()) fail("投影值必须是 0/1 或 false/true，收到 {}", {v.dump()});
      fail("不支持的投影形态: {}（本地求值器仅支持包含/排除，拒绝静默）", {v.dump()});
    }
    bool on = expr_truthy(v);
    if (key == "_id") {
      p.id_flag_ = on;
    } else if (on) {
      add_path(p.included_, key);
      included = true;
    } else {
      p.excluded_.push_back(key);
    }
  }
  if (included && !p.excluded_.empty()) fail(kMixedProjection);
  bool exclude = !included && (!p.excluded_.empty() || p.id_flag_ != true);
  p.mode_ = exclude ? Mode::Exclude : Mode::Include;
  return p;
}

Projection Projection::stage(const Json& spec) {
  bool all_flags = !spec.is_object() || std::all_of(spec.begin(), spec.end(), is_flag);
  if (all_flags) return plain(spec);
  Projection p;
  bool included = false;
  for (const auto& [key, v] : spec.get_ref<const Object&>()) {
    if (!is_flag(v)) {
      p.computed_.emplace_back(key, &v);
    } else if (key == "_id") {
      p.id_flag_ = expr_truthy(v);
    } else if (expr_truthy(v)) {
      add_path(p.included_, key);
      included = true;
    } else {
      p.excluded_.push_back(key);
    }
  }
  if (included && !p.excluded_.empty()) fail(kMixedProjection);
  p.mode_ = Mode::Include;
  return p;
}

Json Projection::apply(const Json& doc, const Json& vars) const {
  if (mode_ == Mode::Unchanged) return doc;
  if (mode_ == Mode::Exclude) {
    Json out = doc;
    for (const std::string& path : excluded_) remove_path(out, path);
    if (id_flag_ == false && out.is_object()) out.erase("_id");
    return out;
  }
  Json out = Json::object();
  auto& obj = out.get_ref<Object&>();
  if (id_flag_ != false) {
    if (const Json* id = find_key(doc, "_id")) obj.emplace("_id", *id);
  }
  if (auto part = subset(doc, included_); part && part->is_object()) {
    for (auto& [key, v] : part->get_ref<Object&>()) obj.emplace(key, std::move(v));
  }
  for (const auto& [key, expr] : computed_) obj.insert_or_assign(key, eval_expr(*expr, doc, vars));
  return out;
}

Json apply_projection(const Json& doc, const Json& projection) {
  return Projection::plain(projection).apply(doc, no_vars());
}

// ---------------------------------------------------------------------------
// Stages

std::uint64_t usize_of(std::string_view stage, const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) {
    auto n = value.get<std::int64_t>();
    if (n < 0) fail("{} 不能为负数（{}）", {stage, std::to_string(n)});
    return static_cast<std::uint64_t>(n);
  }
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (std::isfinite(d) && std::trunc(d) == d) {
      if (d < 0) {
        char buf[400];
        auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
        fail("{} 不能为负数（{}）", {stage, std::string_view(buf, res.ptr - buf)});
      }
      return d >= 18446744073709551615.0 ? std::numeric_limits<std::uint64_t>::max()
                                          : static_cast<std::uint64_t>(d);
    }
  }
  fail("{} 需要整数，收到 {}", {stage, type_name(value)});
}

const Json::array_t* collection_rows(const Json& collections, std::string_view name) {
  const Json* rows = find_key(collections, name);
  if (rows == nullptr) return nullptr;
  if (!rows->is_array()) {
    fail("集合 \"{}\" 必须是文档数组，收到 {}", {name, type_name(*rows)});
  }
  return &rows->get_ref<const Array&>();
}

namespace {

using Rows = std::vector<const Json*>;

struct SortKey {
  std::string_view path;
  int direction;
};

int direction(std::string_view path, const Json& v) {
  if (!v.is_number()) {
    fail("$sort 的方向必须是数字，字段 \"{}\" 收到 {}", {path, type_name(v)});
  }
  if (v.is_number_unsigned()) return 1;
  if (v.is_number_integer()) return v.get<std::int64_t>() < 0 ? -1 : 1;
  return std::trunc(v.get<double>()) < 0 ? -1 : 1;
}

std::vector<SortKey> sort_keys(const Json& spec) {
  std::vector<SortKey> keys;
  if (spec.is_object()) {
    for (const auto& [path, dir] : spec.get_ref<const Object&>()) {
      keys.push_back({path, direction(path, dir)});
    }
    return keys;
  }
  if (!spec.is_array()) {
    fail("$sort 需要对象或 [键, 方向] 数组，收到 {}", {type_name(spec)});
  }
  for (const Json& pair : spec.get_ref<const Array&>()) {
    if (!pair.is_array()) fail("$sort 数组形态的元素必须是 [键, 方向]");
    if (pair.empty() || !pair[0].is_string()) fail("$sort 数组形态的键必须是字符串");
    if (pair.size() < 2) fail("$sort 数组形态缺少方向");
    const std::string& path = pair[0].get_ref<const std::string&>();
    keys.push_back({path, direction(path, pair[1])});
  }
  return keys;
}

// The value a row sorts by: the plain path's value, null when missing, and
// the smallest element of a non-empty array (null for an empty one).
const Json* sort_value(const Json& row, std::string_view path) {
  const Json* v = get_path(row, path);
  if (v == nullptr) return &null_value();
  if (!v->is_array()) return v;
  const auto& arr = v->get_ref<const Array&>();
  if (arr.empty()) return &null_value();
  const Json* best = &arr[0];
  for (const Json& e : arr) {
    if (compare(e, *best) < 0) best = &e;
  }
  return best;
}

class Runner {
 public:
  explicit Runner(const Json& collections) : collections_(collections) {}

  Rows run(Rows rows, const Json& stages, const Json& vars) {
    DepthGuard guard(depth_, "聚合管道");
    const auto& list = stages.get_ref<const Array&>();
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Json& stage = list[i];
      if (!stage.is_object()) fail("管道阶段必须是单键对象，收到 {}", {type_name(stage)});
      if (stage.size() != 1) {
        fail("管道阶段必须恰有一个键，收到 {} 个（{}）", {number_text(stage.size()), stage.dump()});
      }
      const std::string& name = stage.begin().key();
      const Json& spec = stage.begin().value();
      rows = apply(name, spec, std::move(rows), vars, limit_after(list, i));
    }
    return rows;
  }

  Json output(const Rows& rows) const {
    Json out = Json::array();
    auto& arr = out.get_ref<Array&>();
    arr.reserve(rows.size());
    for (const Json* r : rows) arr.push_back(*r);
    return out;
  }

 private:
  const Json* keep(Json row) {
    store_.push_back(std::move(row));
    return &store_.back();
  }

  // The count of a "$limit" stage right after stage i, when it is valid.
  static std::optional<std::uint64_t> limit_after(const Array& stages, std::size_t i) {
    if (i + 1 >= stages.size()) return std::nullopt;
    const Json* limit = find_key(stages[i + 1], "$limit");
    if (limit == nullptr || stages[i + 1].size() != 1) return std::nullopt;
    if (limit->is_number_unsigned()) return limit->get<std::uint64_t>();
    if (limit->is_number_integer() && limit->get<std::int64_t>() >= 0) {
      return static_cast<std::uint64_t>(limit->get<std::int64_t>());
    }
    return std::nullopt;
  }

  Rows apply(const std::string& name, const Json& spec, Rows rows, const Json& vars,
             std::optional<std::uint64_t> next_limit) {
    if (name == "$match") {
      Rows out;
      for (const Json* r : rows) {
        if (matcher_.matches(*r, spec, vars)) out.push_back(r);
      }
      return out;
    }
    if (name == "$sort") return sort(spec, std::move(rows), next_limit);
    if (name == "$skip") {
      std::uint64_t n = usize_of(name, spec);
      rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(n, rows.size())));
      return rows;
    }
    if (name == "$limit") {
      std::uint64_t n = usize_of(name, spec);
      if (n < rows.size()) rows.resize(n);
      return rows;
    }
    if (name == "$project") return project(spec, std::move(rows), vars);
    if (name == "$addFields" || name == "$set") return add_fields(name, spec, std::move(rows), vars);
    if (name == "$unwind") return unwind(spec, std::move(rows));
    if (name == "$lookup") return lookup(spec, std::move(rows), vars);
    if (name == "$group") return group(spec, rows, vars);
    if (name == "$facet") return facet(spec, rows, vars);
    if (name == "$replaceRoot") return replace_root(spec, std::move(rows), vars);
    fail(
        "不支持的聚合阶段 {}（本地求值器拒绝静默跳过；支持 "
        "$match/$sort/$skip/$limit/$project/$unwind/$lookup/$group/$addFields/$set/$facet/"
        "$replaceRoot）",
        {name});
  }

  Rows sort(const Json& spec, Rows rows, std::optional<std::uint64_t> limit) {
    std::vector<SortKey> keys = sort_keys(spec);
    const std::size_t n = rows.size();
    const std::size_t k = keys.size();
    std::vector<const Json*> values(n * k);
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t j = 0; j < k; ++j) values[r * k + j] = sort_value(*rows[r], keys[j].path);
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    auto less = [&](std::size_t a, std::size_t b) {
      for (std::size_t j = 0; j < k; ++j) {
        int c = compare(*values[a * k + j], *values[b * k + j]);
        if (c != 0) return keys[j].direction < 0 ? c > 0 : c < 0;
      }
      return a < b;  // equal rows keep their input order
    };
    if (limit && *limit < n) {
      auto middle = order.begin() + static_cast<std::ptrdiff_t>(*limit);
      std::partial_sort(order.begin(), middle, order.end(), less);
      order.resize(*limit);
    } else {
      std::sort(order.begin(), order.end(), less);
    }
    Rows out;
    out.reserve(order.size());
    for (std::size_t i : order) out.push_back(rows[i]);
    return out;
  }

  Rows project(const Json& spec, Rows rows, const Json& vars) {
    if (rows.empty()) return rows;
    Projection projection = Projection::stage(spec);
    for (const Json*& r : rows) r = keep(projection.apply(*r, vars));
    return rows;
  }

  Rows add_fields(const std::string& name, const Json& spec, Rows rows, const Json& vars) {
    if (!spec.is_object()) fail("{} 需要对象，收到 {}", {name, type_name(spec)});
    for (const Json*& r : rows) {
      Json row = *r;
      for (const auto& [path, expr] : spec.get_ref<const Object&>()) {
        set_path(row, path, evaluate(expr, row, vars).take());
      }
      r = keep(std::move(row));
    }
    return rows;
  }

  Rows unwind(const Json& spec, Rows rows) {
    if (!spec.is_object()) fail("$unwind 需要对象，收到 {}", {type_name(spec)});
    const Json* path_value = find_key(spec, "path");
    if (path_value == nullptr || !path_value->is_string()) fail("$unwind 缺少 path");
    bool preserve = false;
    if (const Json* p = find_key(spec, "preserveNullAndEmptyArrays")) {
      if (!p->is_boolean()) {
        fail("$unwind.preserveNullAndEmptyArrays 必须是布尔，收到 {}", {type_name(*p)});
      }
      preserve = p->get<bool>();
    }
    std::string_view path = path_value->get_ref<const std::string&>();
    if (!path.empty() && path[0] == '$') path.remove_prefix(1);
    Rows out;
    for (const Json* r : rows) {
      const Json* v = get_path(*r, path);
      if (v != nullptr && v->is_array() && !v->empty()) {
        // The row is copied once without the array, then once per element.
        Json shell = *r;
        *get_path(shell, path) = nullptr;
        for (const Json& e : v->get_ref<const Array&>()) {
          Json row = shell;
          *get_path(row, path) = e;
          out.push_back(keep(std::move(row)));
        }
      } else if (v != nullptr && !v->is_null() && !v->is_array()) {
        out.push_back(r);
      } else if (preserve && v == nullptr) {
        out.push_back(r);  // a missing path removes nothing from the row
      } else if (preserve) {
        Json row = *r;
        remove_object_path(row, path);
        out.push_back(keep(std::move(row)));
      }
    }
    return out;
  }

  Rows lookup(const Json& spec, Rows rows, const Json& vars) {
    if (!spec.is_object()) fail("$lookup 需要对象，收到 {}", {type_name(spec)});
    const Json* from = find_key(spec, "from");
    if (from == nullptr || !from->is_string()) fail("$lookup 缺少 from");
    const Json* as = find_key(spec, "as");
    if (as == nullptr || !as->is_string()) fail("$lookup 缺少 as");
    const Array* foreign = collection_rows(collections_, from->get_ref<const std::string&>());
    static const Array kNoRows;
    if (foreign == nullptr) foreign = &kNoRows;
    const std::string& as_path = as->get_ref<const std::string&>();
    const Json* local = find_key(spec, "localField");
    const Json* pipeline = find_key(spec, "pipeline");
    if (local != nullptr && local->is_string()) {
      const Json* foreign_field = find_key(spec, "foreignField");
      const std::string& local_path = local->get_ref<const std::string&>();
      return join_equal(std::move(rows), *foreign, local_path,
                        foreign_field != nullptr && foreign_field->is_string()
                            ? foreign_field->get_ref<const std::string&>()
                            : local_path,
                        as_path);
    }
    if (pipeline == nullptr && local == nullptr) {
      fail("$lookup 需要 localField/foreignField 或 pipeline 之一");
    }
    if (pipeline == nullptr) {
      fail("$lookup 的 localField 必须是字符串，收到 {}（没有 pipeline 时无法确定连接条件，拒绝静默连接全部外表行）",
           {type_name(*local)});
    }
    if (!pipeline->is_array()) {
      fail("$lookup 的 pipeline 必须是阶段数组，收到 {}", {type_name(*pipeline)});
    }
    const Json* let = find_key(spec, "let");
    Rows foreign_rows;
    foreign_rows.reserve(foreign->size());
    for (const Json& f : *foreign) foreign_rows.push_back(&f);
    for (const Json*& r : rows) {
      Json inner = vars.is_object() ? vars : Json::object();
      if (let != nullptr && let->is_object()) {
        for (const auto& [name, expr] : let->get_ref<const Object&>()) {
          inner[name] = eval_expr(expr, *r, vars);
        }
      }
      Json joined = output(run(foreign_rows, *pipeline, inner));
      Json row = *r;
      set_path(row, as_path, std::move(joined));
      r = keep(std::move(row));
    }
    return rows;
  }

  // Equality join: the foreign rows' values at the foreign path are sorted
  // once, and each row's local values are looked up by halving.
  Rows join_equal(Rows rows, const Array& foreign, std::string_view local_path,
                  std::string_view foreign_path, const std::string& as_path) {
    std::vector<std::pair<const Json*, std::size_t>> index;
    std::vector<const Json*> found;
    for (std::size_t j = 0; j < foreign.size(); ++j) {
      found.clear();
      resolve_path_candidates(foreign[j], foreign_path, found);
      for (const Json* c : found) {
        index.emplace_back(c, j);
        if (c->is_array()) {
          for (const Json& e : c->get_ref<const Array&>()) index.emplace_back(&e, j);
        }
      }
    }
    auto by_value = [](const auto& a, const auto& b) { return compare(*a.first, *b.first) < 0; };
    std::stable_sort(index.begin(), index.end(), by_value);
    std::vector<const Json*> locals;
    std::vector<std::size_t> hits;
    for (const Json*& r : rows) {
      found.clear();
      resolve_path_candidates(*r, local_path, found);
      locals.clear();
      for (const Json* c : found) {
        if (c->is_array()) {
          for (const Json& e : c->get_ref<const Array&>()) locals.push_back(&e);
        } else {
          locals.push_back(c);
        }
      }
      if (locals.empty()) locals.push_back(&null_value());
      hits.clear();
      for (const Json* v : locals) {
        auto [lo, hi] = std::equal_range(index.begin(), index.end(), std::pair{v, std::size_t{0}}, by_value);
        for (auto it = lo; it != hi; ++it) hits.push_back(it->second);
      }
      std::sort(hits.begin(), hits.end());
      hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
      Json joined = Json::array();
      joined.get_ref<Array&>().reserve(hits.size());
      for (std::size_t j : hits) joined.push_back(foreign[j]);
      Json row = *r;
      set_path(row, as_path, std::move(joined));
      r = keep(std::move(row));
    }
    return rows;
  }

  Rows group(const Json& spec, const Rows& rows, const Json& vars) {
    if (!spec.is_object()) fail("$group 需要对象，收到 {}", {type_name(spec)});
    const Json* id = find_key(spec, "_id");
    if (id == nullptr) fail("$group 缺少 _id（Mongo 要求显式分组键，全表单组写 null）");
    struct Spec {
      const std::string* name;
      std::string_view op;
      const Json* operand;
    };
    std::vector<Spec> specs;
    for (const auto& [name, def] : spec.get_ref<const Object&>()) {
      if (name == "_id") continue;
      if (!def.is_object()) fail("$group 累积器 \"{}\" 的定义必须是对象", {name});
      if (def.size() != 1) fail("$group 累积器 \"{}\" 必须恰有一个算子键", {name});
      const std::string& op = def.begin().key();
      if (op != "$sum" && op != "$avg" && op != "$min" && op != "$max") {
        fail(
            "不支持的 $group 累积器算子 {}（本地求值器仅支持 $sum/$avg/$min/$max，$count 由 core "
            "展开为 $sum，拒绝静默）",
            {op});
      }
      specs.push_back({&name, std::string_view(op).substr(1), &def.begin().value()});
    }
    struct Group {
      Json key;
      std::vector<Accumulator> accs;
    };
    std::vector<Group> groups;
    std::unordered_map<std::string, std::size_t> index;
    std::string text;
    for (const Json* r : rows) {
      Value key = evaluate(*id, *r, vars);
      text.clear();
      append_canonical(*key, text);
      auto [it, fresh] = index.try_emplace(text, groups.size());
      if (fresh) {
        Group g{std::move(key).take(), {}};
        for (const Spec& s : specs) g.accs.emplace_back(s.op);
        groups.push_back(std::move(g));
      }
      Group& g = groups[it->second];
      for (std::size_t a = 0; a < specs.size(); ++a) {
        g.accs[a].add(*evaluate(*specs[a].operand, *r, vars));
      }
    }
    Rows out;
    out.reserve(groups.size());
    for (Group& g : groups) {
      Json row = Json::object();
      auto& obj = row.get_ref<Object&>();
      obj.emplace("_id", std::move(g.key));
      for (std::size_t a = 0; a < specs.size(); ++a) {
        obj.emplace(*specs[a].name, std::move(g.accs[a]).result());
      }
      out.push_back(keep(std::move(row)));
    }
    return out;
  }

  Rows facet(const Json& spec, const Rows& rows, const Json& vars) {
    if (!spec.is_object()) fail("$facet 需要对象，收到 {}", {type_name(spec)});
    for (const auto& [name, stages] : spec.get_ref<const Object&>()) {
      if (!stages.is_array()) fail("$facet 的子管道 \"{}\" 必须是阶段数组", {name});
    }
    Json row = Json::object();
    auto& obj = row.get_ref<Object&>();
    for (const auto& [name, stages] : spec.get_ref<const Object&>()) {
      obj.emplace_hint(obj.end(), name, output(run(rows, stages, vars)));
    }
    return Rows{keep(std::move(row))};
  }

  Rows replace_root(const Json& spec, Rows rows, const Json& vars) {
    if (!spec.is_object()) fail("$replaceRoot 需要对象，收到 {}", {type_name(spec)});
    const Json* root = find_key(spec, "newRoot");
    if (root == nullptr) fail("$replaceRoot 缺少 newRoot");
    for (const Json*& r : rows) {
      Value v = evaluate(*root, *r, vars);
      if (!v->is_object()) {
        fail("$replaceRoot.newRoot 求值结果必须是文档，收到 {}", {type_name(*v)});
      }
      r = keep(std::move(v).take());
    }
    return rows;
  }

  const Json& collections_;
  std::deque<Json> store_;  // rows made by the stages
  Matcher matcher_;
  std::size_t depth_ = 0;
};

Rows rows_of(const Json& array) {
  Rows rows;
  rows.reserve(array.size());
  for (const Json& r : array.get_ref<const Array&>()) rows.push_back(&r);
  return rows;
}

void check_collections(const Json& collections) {
  if (!collections.is_object()) {
    fail("collections 必须是对象 {集合名: [文档…]}，收到 {}", {type_name(collections)});
  }
}

void check_stages(const Json& stages) {
  if (!stages.is_array()) fail("aggregate 需要 pipeline 数组");
}

}  // namespace

Json run(const Json& collections, std::string_view name, const Json& stages) {
  check_collections(collections);
  check_stages(stages);
  const Array* source = collection_rows(collections, name);
  Rows rows;
  if (source != nullptr) {
    rows.reserve(source->size());
    for (const Json& r : *source) rows.push_back(&r);
  }
  Runner runner(collections);
  return runner.output(runner.run(std::move(rows), stages, no_vars()));
}

Json run_stages(const Json& collections, const Json& rows, const Json& stages, const Json& vars) {
  check_collections(collections);
  check_stages(stages);
  if (!rows.is_array()) fail("管道输入必须是文档数组，收到 {}", {type_name(rows)});
  Runner runner(collections);
  return runner.output(runner.run(rows_of(rows), stages, vars));
}

}  // namespace varnel::local
