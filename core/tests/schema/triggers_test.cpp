#include "schema/triggers.h"

#include <gtest/gtest.h>

#include "error.h"
#include "schema/definition.h"

namespace varnel::schema {
namespace {

FieldTable fields_of(std::initializer_list<const char*> names) {
  FieldTable t;
  for (auto n : names) t.emplace(n, FieldDef{});
  return t;
}

// Parses {"triggers": <block>} for schema "Order" with fields status, total.
std::string error_of(const char* block) {
  Json defn = Json::object();
  defn["triggers"] = Json::parse(block);
  try {
    parse_triggers(defn, "Order", fields_of({"status", "total"}));
    return "";
  } catch (const CoreError& e) {
    return e.message();
  }
}

TriggerMap parse(const char* block) {
  Json defn = Json::object();
  defn["triggers"] = Json::parse(block);
  return parse_triggers(defn, "Order", fields_of({"status", "total"}));
}

TEST(ParseTriggers, MissingOrNonObjectBlockIsEmpty) {
  EXPECT_TRUE(parse_triggers(Json::object(), "Order", {}).empty());
  EXPECT_TRUE(parse("[]").empty());
  EXPECT_TRUE(parse("{}").empty());
  auto m = parse(R"({"insert": []})");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_TRUE(m.at("insert").empty());
}

TEST(ParseTriggers, CommandAndCallbackForms) {
  auto m = parse(R"({
    "insert": [{"name": "log", "into": "Log", "op": "insert", "data": {"at": "{{now}}"},
                "condition": 5, "when": {"status": "paid"}}],
    "update": [{"fnRef": "notify", "onFields": ["status", 3, "$x"], "name": 9}],
    "remove": [{"into": "Log", "op": "remove", "data": null, "condition": {"a": 1}}],
    "schedule": [{"cron": "*/15 * * * *", "into": "Log", "op": "insert", "data": {}}]
  })");
  const auto& ins = m.at("insert").at(0);
  EXPECT_EQ(ins.name, "log");
  ASSERT_TRUE(ins.when.has_value());
  const auto& cmd = std::get<TriggerCommand>(ins.body);
  EXPECT_EQ(cmd.into, "Log");
  EXPECT_EQ(cmd.op, "insert");
  EXPECT_EQ(cmd.data, Json::parse(R"({"at": "{{now}}"})"));
  EXPECT_EQ(cmd.condition, Json(5));

  const auto& upd = m.at("update").at(0);
  EXPECT_EQ(upd.name, "");
  EXPECT_EQ(upd.onFields, (std::vector<std::string>{"status", "$x"}));
  const auto& cb = std::get<TriggerCallback>(upd.body);
  EXPECT_EQ(cb.fnRef, "notify");
  EXPECT_TRUE(cb.args.is_null());

  EXPECT_TRUE(std::get<TriggerCommand>(m.at("remove").at(0).body).data.is_null());
  EXPECT_EQ(m.at("schedule").at(0).cron, "*/15 * * * *");
}

TEST(ParseTriggers, RefusalsNameTheTrigger) {
  struct Case {
    const char* block;
    const char* message;
  };
  const Case cases[] = {
      {R"({"delete": []})",
       "schema \"Order\" 的 triggers 事件键 \"delete\" 非法（仅 insert/update/remove/schedule）"},
      {R"({"insert": {}})", "schema \"Order\" 的 triggers.insert 必须是数组"},
      {R"({"insert": [{"fnRef": "a"}, 3]})", "schema \"Order\" 的 triggers.insert[1] 必须是对象"},
      {R"({"insert": [{"fnRef": "a", "data": null}]})",
       "Order.triggers.insert[0] 必须二选一：命令式（into+op+data）或回调式（fnRef），不可同给或同缺"},
      {R"({"insert": [{"into": "X"}]})",
       "Order.triggers.insert[0] 必须二选一：命令式（into+op+data）或回调式（fnRef），不可同给或同缺"},
      {R"({"update": [{"fnRef": "a", "onFields": ["$x", "missing"]}]})",
       "Order.triggers.update[0] 的 onFields 字段 \"missing\" 未在 schema 中声明"},
      {R"({"update": [{"fnRef": "a", "onFields": [""]}]})",
       "Order.triggers.update[0] 的 onFields 字段 \"\" 未在 schema 中声明"},
      {R"({"insert": [{"fnRef": "a", "when": []}]})", "Order.triggers.insert[0] 的 when 必须是对象"},
      {R"({"insert": [{"fnRef": "a", "cascade": false}]})",
       "Order.triggers.insert[0] 不支持 cascade（首批触发链只展开一层）"},
      {R"({"insert": [{"fnRef": "a", "cron": 5}]})", "Order.triggers.insert[0] 的 cron 必须是字符串"},
      {R"({"insert": [{"fnRef": "a", "cron": "* * * * *"}]})",
       "Order.triggers.insert[0] 的 cron 仅 schedule 事件可配"},
      {R"({"schedule": [{"fnRef": "a"}]})", "Order.triggers.schedule[0] 的 schedule 触发器缺少 cron"},
      {R"({"schedule": [{"fnRef": "a", "cron": "0 0 * *"}]})",
       "Order.triggers.schedule[0] 的 cron \"0 0 * *\" 非法：必须为 5 段（分 时 日 月 周），实为 4 段"},
      {R"({"schedule": [{"into": "L", "op": "insert", "cron": "0 0 * * *", "data": {"a": ["{{root.x}}"]}}]})",
       "Order.triggers.schedule[0] 的 schedule 触发器不支持 {{root.}}/{{before.}} 占位符（仅 {{now}}）"},
      {R"({"schedule": [{"fnRef": "f", "cron": "0 0 * * *", "args": {"k": "a{{before.y}}"}}]})",
       "Order.triggers.schedule[0] 的 schedule 触发器不支持 {{root.}}/{{before.}} 占位符（仅 {{now}}）"},
      {R"({"insert": [{"fnRef": ""}]})", "Order.triggers.insert[0] 的 fnRef 须为非空字符串"},
      {R"({"insert": [{"fnRef": 3}]})", "Order.triggers.insert[0] 的 fnRef 须为非空字符串"},
      {R"({"insert": [{"data": {}, "op": "insert"}]})", "Order.triggers.insert[0] 缺少 into"},
      {R"({"insert": [{"data": {}, "into": ""}]})", "Order.triggers.insert[0] 缺少 into"},
      {R"({"insert": [{"data": {}, "into": "L"}]})", "Order.triggers.insert[0] 缺少 op"},
      {R"({"insert": [{"data": {}, "into": "L", "op": ""}]})",
       "Order.triggers.insert[0] 的 op \"\" 不在白名单（insert/update/remove）"},
      {R"({"insert": [{"data": {}, "into": "L", "op": "upsert"}]})",
       "Order.triggers.insert[0] 的 op \"upsert\" 不在白名单（insert/update/remove）"},
      {R"({"remove": [{"data": {}, "into": "L", "op": "remove", "condition": {}}]})",
       "Order.triggers.remove[0] 的 op=remove 不接受 data"},
      {R"({"insert": [{"data": [], "into": "L", "op": "insert"}]})",
       "Order.triggers.insert[0] 的命令式触发缺 data（须为对象）"},
      {R"({"update": [{"data": {}, "into": "L", "op": "update"}]})",
       "Order.triggers.update[0] 的 op=update 必须提供 condition（对象）"},
      {R"({"insert": [{"data": null, "into": "L", "op": "remove", "condition": 1}]})",
       "Order.triggers.insert[0] 的 op=remove 必须提供 condition（对象）"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(c.block), c.message) << c.block;
}

TEST(ParseTriggers, ScheduleAllowsNowPlaceholder) {
  EXPECT_EQ(error_of(R"({"schedule": [{"into": "L", "op": "insert", "cron": "0 0 * * *",
                                       "data": {"at": "{{now}}"}}]})"),
            "");
}

std::string cron_error(const char* text) {
  try {
    validate_cron(text);
    return "";
  } catch (const CoreError& e) {
    return e.message();
  }
}

TEST(ValidateCron, Table) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"*/15 * * * *", ""},
      {"0-59/5 0,12 1-31 1-12 0-7", ""},
      {"  0   0 * *\t*  ", ""},
      {"0 0 * *", "必须为 5 段（分 时 日 月 周），实为 4 段"},
      {"", "必须为 5 段（分 时 日 月 周），实为 0 段"},
      {"60 * * * *", "段 \"60\" 的 60 超出范围 0-59"},
      {"* * 0 * *", "段 \"0\" 的 0 超出范围 1-31"},
      {"* * * * 8", "段 \"8\" 的 8 超出范围 0-7"},
      {"5-1 * * * *", "段 \"5-1\" 区间 \"5-1\" 起点大于终点"},
      {"*/0 * * * *", "段 \"*/0\" 的步进 \"0\" 须为正整数"},
      {"*/ * * * *", "段 \"*/\" 的步进 \"\" 须为正整数"},
      {"*/1/2 * * * *", "段 \"*/1/2\" 的步进 \"1/2\" 须为正整数"},
      {"*/99999999999999999999 * * * *",
       "段 \"*/99999999999999999999\" 的步进 \"99999999999999999999\" 越界"},
      {"99999999999999999999 * * * *", "段 \"99999999999999999999\" 的 \"99999999999999999999\" 越界"},
      {"1,,2 * * * *", "段 \"1,,2\" 存在空列表项"},
      {"1, * * * *", "段 \"1,\" 存在空列表项"},
      {"a * * * *", "段 \"a\" 含非法字符（仅 * , - / 与数字）"},
      {"-5 * * * *", "段 \"-5\" 含非法形态 \"-5\""},
      {"1-* * * * *", "段 \"1-*\" 含非法形态 \"1-*\""},
      {"1-2-3 * * * *", "段 \"1-2-3\" 含非法形态 \"1-2-3\""},
  };
  for (const auto& c : cases) EXPECT_EQ(cron_error(c.text), c.message) << c.text;
}

}  // namespace
}  // namespace varnel::schema
