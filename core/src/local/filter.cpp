#include "local/filter.h"

#include <re2/re2.h>

#include <algorithm>

#include "bson.h"
#include "error.h"
#include "local/pipeline.h"
#include "local/value.h"

namespace varnel::local {

namespace {

constexpr std::size_t kSortedMembersFrom = 16;

bool literal_hit(const std::vector<const Json*>& candidates, const Json& value) {
  for (const Json* c : candidates) {
    if (equal(*c, value)) return true;
    if (c->is_array()) {
      for (const Json& e : c->get_ref<const Json::array_t&>()) {
        if (equal(e, value)) return true;
      }
    }
  }
  return false;
}

bool satisfies(std::string_view op, int c) {
  if (op == "$gt") return c > 0;
  if (op == "$gte") return c >= 0;
  if (op == "$lt") return c < 0;
  return c <= 0;
}

bool compare_hit(std::string_view op, const std::vector<const Json*>& candidates,
                 const Json& operand) {
  bool whole = operand.is_array();
  for (const Json* c : candidates) {
    if (!c->is_array() || whole) {
      if (satisfies(op, compare(*c, operand))) return true;
    }
    if (c->is_array()) {
      for (const Json& e : c->get_ref<const Json::array_t&>()) {
        if (satisfies(op, compare(e, operand))) return true;
      }
    }
  }
  return false;
}

bool exists_flag(const Json& operand) {
  if (operand.is_null()) return false;
  if (operand.is_boolean()) return operand.get<bool>();
  if (operand.is_number()) return operand.get<double>() != 0.0;
  return true;
}

// The first character of a UTF-8 text, whole.
std::string_view first_char(std::string_view s) {
  auto lead = static_cast<unsigned char>(s[0]);
  std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return s.substr(0, std::min(n, s.size()));
}

bool is_logical(std::string_view key) {
  return key == "$and" || key == "$or" || key == "$nor" || key == "$expr";
}

}  // namespace

bool is_operator_object(const Json& cond) {
  if (!cond.is_object() || cond.empty() || bson::is_extended(cond)) return false;
  for (const auto& [k, v] : cond.get_ref<const Json::object_t&>()) {
    if (!k.empty() && k[0] == '$') return true;
  }
  return false;
}

Matcher::Matcher() = default;
Matcher::~Matcher() = default;

std::vector<const Json*>& Matcher::scratch() {
  while (scratch_.size() <= depth_) scratch_.emplace_back();
  auto& v = scratch_[depth_];
  v.clear();
  return v;
}

bool Matcher::matches(const Json& doc, const Json& filter) {
  static const Json kNoVars = Json::object();
  return matches(doc, filter, kNoVars);
}

bool Matcher::matches(const Json& doc, const Json& filter, const Json& vars) {
  if (filter.is_null()) return true;
  if (!filter.is_object()) {
    fail("filter 必须是对象或 null，收到 {}（拒绝静默按「无过滤」处理）", {type_name(filter)});
  }
  DepthGuard guard(depth_, "过滤条件");
  return match_object(doc, filter, vars);
}

bool Matcher::match_object(const Json& doc, const Json& filter, const Json& vars) {
  const auto& map = filter.get_ref<const Json::object_t&>();
  if (map.empty()) return true;
  for (std::string_view key : {"$and", "$or", "$nor"}) {
    auto it = map.find(key);
    if (it == map.end()) continue;
    if (!it->second.is_array()) fail("{} 需要数组", {key});
    const auto& items = it->second.get_ref<const Json::array_t&>();
    if (key == "$and") {
      for (const Json& f : items) {
        if (!matches(doc, f, vars)) return false;
      }
    } else if (key == "$or") {
      bool any = false;
      for (const Json& f : items) {
        if (matches(doc, f, vars)) {
          any = true;
          break;
        }
      }
      if (!any) return false;
    } else {
      if (items.empty()) fail("$nor 需要非空数组");
      for (const Json& f : items) {
        if (matches(doc, f, vars)) return false;
      }
    }
  }
  if (auto it = map.find("$expr"); it != map.end()) {
    Value result = evaluate(it->second, doc, vars);
    if (!result->is_boolean()) {
      fail("$expr 必须求值为布尔，收到 {}（拒绝静默按真值处理）", {type_name(*result)});
    }
    if (!result->get<bool>()) return false;
  }
  for (const auto& [key, cond] : map) {
    if (!key.empty() && key[0] == '$') {
      if (is_logical(key)) continue;
      fail("不支持的过滤操作符: ${}（本地求值器仅支持顶层 $and/$or/$nor/$expr，拒绝静默丢弃）",
           {std::string_view(key).substr(1)});
    }
    auto& candidates = scratch();
    resolve_path_candidates(doc, key, candidates);
    if (!cond_matches(candidates, cond)) return false;
  }
  return true;
}

bool Matcher::cond_matches(const std::vector<const Json*>& candidates, const Json& cond) {
  if (!is_operator_object(cond)) return literal_hit(candidates, cond);
  DepthGuard guard(depth_, "过滤条件");
  for (const auto& [op, arg] : cond.get_ref<const Json::object_t&>()) {
    if (!run_operator(op, arg, cond, candidates)) return false;
  }
  return true;
}

bool Matcher::run_operator(const std::string& op, const Json& arg, const Json& cond,
                           const std::vector<const Json*>& candidates) {
  if (op == "$eq") return literal_hit(candidates, arg);
  if (op == "$ne") return !literal_hit(candidates, arg);
  if (op == "$gt" || op == "$gte" || op == "$lt" || op == "$lte") {
    return compare_hit(op, candidates, arg);
  }
  if (op == "$in") return in_hit(candidates, arg, false);
  if (op == "$nin") return in_hit(candidates, arg, true);
  if (op == "$not") return !cond_matches(candidates, arg);
  if (op == "$exists") return exists_flag(arg) ? !candidates.empty() : candidates.empty();
  if (op == "$options") {
    if (find_key(cond, "$regex") == nullptr) {
      fail("$options 出现在没有 $regex 的条件中，该修饰符无法生效");
    }
    return true;
  }
  if (op == "$regex") return regex_hit(cond, candidates);
  fail("不支持的过滤条件操作符: {}（本地求值器拒绝静默丢弃）", {op});
}

bool Matcher::in_hit(const std::vector<const Json*>& candidates, const Json& operand,
                     bool negate) {
  if (!operand.is_array()) {
    fail("{} 需要数组，收到 {}", {negate ? "$nin" : "$in", type_name(operand)});
  }
  bool hit = false;
  for (const Json* c : candidates) {
    if (member_of(*c, operand)) {
      hit = true;
      break;
    }
    if (c->is_array()) {
      for (const Json& e : c->get_ref<const Json::array_t&>()) {
        if (member_of(e, operand)) {
          hit = true;
          break;
        }
      }
      if (hit) break;
    }
  }
  return negate ? !hit : hit;
}

bool Matcher::member_of(const Json& value, const Json& operand) {
  const auto& members = operand.get_ref<const Json::array_t&>();
  if (members.size() < kSortedMembersFrom) {
    for (const Json& m : members) {
      if (equal(value, m)) return true;
    }
    return false;
  }
  // Large operands (id lists) are sorted once and searched by halving.
  auto [it, fresh] = sorted_members_.try_emplace(&operand);
  if (fresh) {
    it->second.reserve(members.size());
    for (const Json& m : members) it->second.push_back(&m);
    std::sort(it->second.begin(), it->second.end(), ValueLess{});
  }
  return std::binary_search(it->second.begin(), it->second.end(), &value, ValueLess{});
}

const re2::RE2& Matcher::compiled(const std::string& pattern, const std::string& given) {
  auto it = regexes_.find(pattern);
  if (it != regexes_.end()) return *it->second;
  RE2::Options options;
  options.set_log_errors(false);
  auto re = std::make_unique<re2::RE2>(pattern, options);
  if (!re->ok()) fail("$regex 模式非法: {}（{}）", {given, re->error()});
  return *regexes_.emplace(pattern, std::move(re)).first->second;
}

bool Matcher::regex_hit(const Json& cond, const std::vector<const Json*>& candidates) {
  const Json& rx = *find_key(cond, "$regex");
  if (!rx.is_string()) fail("$regex 需要字符串模式，收到 {}", {type_name(rx)});
  const std::string& given = rx.get_ref<const std::string&>();
  std::string pattern = given;
  if (const Json* opts = find_key(cond, "$options"); opts != nullptr && !opts->is_null()) {
    if (!opts->is_string()) fail("$options 需要字符串，收到 {}", {type_name(*opts)});
    const std::string& flags = opts->get_ref<const std::string&>();
    for (std::size_t i = 0; i < flags.size(); ++i) {
      char c = flags[i];
      if (c != 'i' && c != 'm' && c != 's') {
        fail("不支持的 $regex 修饰符: '{}'（本地求值器仅支持 i/m/s，拒绝静默）",
             {first_char(std::string_view(flags).substr(i))});
      }
    }
    if (!flags.empty()) pattern = format("(?{}){}", {flags, given});
  }
  const re2::RE2& re = compiled(pattern, given);
  auto hit = [&](const Json& v) {
    return v.is_string() && RE2::PartialMatch(v.get_ref<const std::string&>(), re);
  };
  for (const Json* c : candidates) {
    if (hit(*c)) return true;
    if (c->is_array()) {
      for (const Json& e : c->get_ref<const Json::array_t&>()) {
        if (hit(e)) return true;
      }
    }
  }
  return false;
}

bool matches(const Json& doc, const Json& filter) {
  Matcher m;
  return m.matches(doc, filter);
}

bool matches_with_vars(const Json& doc, const Json& filter, const Json& vars) {
  Matcher m;
  return m.matches(doc, filter, vars);
}

}  // namespace varnel::local
