#include "schema/triggers.h"

#include <charconv>

#include "error.h"
#include "schema/definition.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kEvents[] = {"insert", "update", "remove", "schedule"};

bool is_event(std::string_view key) {
  for (auto e : kEvents) {
    if (e == key) return true;
  }
  return false;
}

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

struct CronRange {
  std::int64_t min;
  std::int64_t max;
};

constexpr CronRange kCronRanges[] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 7}};

// Parses a base number of a cron item and checks it against the field range.
std::int64_t cron_number(std::string_view field, std::string_view item, std::string_view num,
                         CronRange range) {
  if (num.empty() || !all_digits(num)) fail("段 \"{}\" 含非法形态 \"{}\"", {field, item});
  std::int64_t value = 0;
  auto [_, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
  if (ec != std::errc()) fail("段 \"{}\" 的 \"{}\" 越界", {field, num});
  if (value < range.min || value > range.max) {
    fail("段 \"{}\" 的 {} 超出范围 {}-{}",
         {field, std::to_string(value), std::to_string(range.min), std::to_string(range.max)});
  }
  return value;
}

void validate_cron_field(std::string_view field, CronRange range) {
  for (char c : field) {
    bool ok = (c >= '0' && c <= '9') || c == '*' || c == ',' || c == '-' || c == '/';
    if (!ok) fail("段 \"{}\" 含非法字符（仅 * , - / 与数字）", {field});
  }
  std::size_t start = 0;
  while (true) {
    std::size_t comma = field.find(',', start);
    std::string_view item = field.substr(start, comma == std::string_view::npos ? field.npos : comma - start);
    if (item.empty()) fail("段 \"{}\" 存在空列表项", {field});

    std::string_view base = item;
    if (std::size_t slash = item.find('/'); slash != std::string_view::npos) {
      base = item.substr(0, slash);
      std::string_view step = item.substr(slash + 1);
      if (step.empty() || !all_digits(step)) fail("段 \"{}\" 的步进 \"{}\" 须为正整数", {field, step});
      std::int64_t value = 0;
      auto [_, ec] = std::from_chars(step.data(), step.data() + step.size(), value);
      if (ec != std::errc()) fail("段 \"{}\" 的步进 \"{}\" 越界", {field, step});
      if (value <= 0) fail("段 \"{}\" 的步进 \"{}\" 须为正整数", {field, step});
    }

    if (base != "*") {
      std::size_t dash = base.find('-');
      if (dash == std::string_view::npos) {
        cron_number(field, item, base, range);
      } else {
        std::int64_t lo = cron_number(field, item, base.substr(0, dash), range);
        std::int64_t hi = cron_number(field, item, base.substr(dash + 1), range);
        if (lo > hi) fail("段 \"{}\" 区间 \"{}\" 起点大于终点", {field, base});
      }
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

TriggerDef parse_trigger(const Json& t, std::string_view event, const std::string& label,
                         const FieldTable& fields) {
  const Json* data = find_key(t, "data");
  const Json* fn_ref = find_key(t, "fnRef");
  if ((data != nullptr) == (fn_ref != nullptr)) {
    fail("{} 必须二选一：命令式（into+op+data）或回调式（fnRef），不可同给或同缺", {label});
  }

  TriggerDef def;
  if (const Json* on = find_key(t, "onFields"); on != nullptr && on->is_array()) {
    def.onFields = string_elements(*on);
    for (const auto& f : def.onFields) {
      if ((f.empty() || f[0] != '$') && !fields.contains(f)) {
        fail("{} 的 onFields 字段 \"{}\" 未在 schema 中声明", {label, f});
      }
    }
  }
  if (const Json* when = find_key(t, "when"); when != nullptr) {
    if (!when->is_object()) fail("{} 的 when 必须是对象", {label});
    def.when = *when;
  }
  if (find_key(t, "cascade") != nullptr) fail("{} 不支持 cascade（首批触发链只展开一层）", {label});

  const Json* cron = find_key(t, "cron");
  if (cron != nullptr && !cron->is_string()) fail("{} 的 cron 必须是字符串", {label});
  if (event == "schedule") {
    if (cron == nullptr) fail("{} 的 schedule 触发器缺少 cron", {label});
    const auto& text = cron->get_ref<const std::string&>();
    try {
      validate_cron(text);
    } catch (const CoreError& e) {
      fail("{} 的 cron \"{}\" 非法：{}", {label, text, e.message()});
    }
    for (auto key : {"args", "data", "condition"}) {
      if (const Json* v = find_key(t, key)) forbid_root_before_refs(*v, label);
    }
    def.cron = text;
  } else if (cron != nullptr) {
    fail("{} 的 cron 仅 schedule 事件可配", {label});
  }

  if (const Json* name = find_key(t, "name"); name != nullptr && name->is_string()) {
    def.name = name->get<std::string>();
  }

  if (fn_ref != nullptr) {
    if (!non_empty_string(fn_ref)) fail("{} 的 fnRef 须为非空字符串", {label});
    const Json* args = find_key(t, "args");
    def.body = TriggerCallback{fn_ref->get<std::string>(), args != nullptr ? *args : Json()};
    return def;
  }

  TriggerCommand cmd;
  const Json* into = find_key(t, "into");
  if (!non_empty_string(into)) fail("{} 缺少 into", {label});
  cmd.into = into->get<std::string>();
  const Json* op = find_key(t, "op");
  if (op == nullptr || !op->is_string()) fail("{} 缺少 op", {label});
  cmd.op = op->get<std::string>();
  if (cmd.op != "insert" && cmd.op != "update" && cmd.op != "remove") {
    fail("{} 的 op \"{}\" 不在白名单（insert/update/remove）", {label, cmd.op});
  }
  if (cmd.op == "remove") {
    if (!data->is_null()) fail("{} 的 op=remove 不接受 data", {label});
  } else {
    if (!data->is_object()) fail("{} 的命令式触发缺 data（须为对象）", {label});
    cmd.data = *data;
  }
  if (const Json* cond = find_key(t, "condition")) cmd.condition = *cond;
  if (cmd.op != "insert" && !(cmd.condition && cmd.condition->is_object())) {
    fail("{} 的 op={} 必须提供 condition（对象）", {label, cmd.op});
  }
  def.body = std::move(cmd);
  return def;
}

}  // namespace

void validate_cron(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size()) {
    while (i < text.size() && space(text[i])) ++i;
    std::size_t b = i;
    while (i < text.size() && !space(text[i])) ++i;
    if (i > b) parts.push_back(text.substr(b, i - b));
  }
  if (parts.size() != 5) fail("必须为 5 段（分 时 日 月 周），实为 {} 段", {std::to_string(parts.size())});
  for (std::size_t k = 0; k < 5; ++k) validate_cron_field(parts[k], kCronRanges[k]);
}

void forbid_root_before_refs(const Json& value, std::string_view label) {
  if (value.is_string()) {
    const auto& s = value.get_ref<const std::string&>();
    if (s.find("{{root.") != std::string::npos || s.find("{{before.") != std::string::npos) {
      fail("{} 的 schedule 触发器不支持 {{root.}}/{{before.}} 占位符（仅 {{now}}）", {label});
    }
  } else if (value.is_structured()) {
    for (const auto& v : value) forbid_root_before_refs(v, label);
  }
}

TriggerMap parse_triggers(const Json& defn, std::string_view schema_name, const FieldTable& fields) {
  TriggerMap out;
  const Json* block = find_key(defn, "triggers");
  if (block == nullptr || !block->is_object()) return out;
  for (const auto& [event, list] : block->items()) {
    if (!is_event(event)) {
      fail("schema \"{}\" 的 triggers 事件键 \"{}\" 非法（仅 insert/update/remove/schedule）",
           {schema_name, event});
    }
    if (!list.is_array()) fail("schema \"{}\" 的 triggers.{} 必须是数组", {schema_name, event});
    auto& defs = out[event];
    for (std::size_t pos = 0; pos < list.size(); ++pos) {
      const Json& t = list[pos];
      std::string index = std::to_string(pos);
      if (!t.is_object()) fail("schema \"{}\" 的 triggers.{}[{}] 必须是对象", {schema_name, event, index});
      std::string label = format("{}.triggers.{}[{}]", {schema_name, event, index});
      defs.push_back(parse_trigger(t, event, label, fields));
    }
  }
  return out;
}

}  // namespace varnel::schema
