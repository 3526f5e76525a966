#include "pipeline/util.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::pipeline {
namespace {

using schema::Schema;

// The message of the failure of `check`, or "" when it passes.
template <class F>
std::string error_of(F check) {
  try {
    check();
  } catch (const CoreError& e) {
    return e.message();
  }
  return "";
}

Schema user_schema() {
  Schema s;
  s.name = "User";
  s.fields["name"].type = "string";
  s.fields["tags"].type = "array";
  s.fields["address"].type = "object";
  s.fields["posts"].type = "array";  // shadowed by the relation of the same name
  s.relations["posts"].model = "Post";
  s.relations["author"].model = "Person";
  return s;
}

const std::string kU1 =
    "ERR_TEXT2QUERY:text2query 档功能收缩 [U1 数组字段条件]：数组字段 \"tags\" "
    "不支持过滤条件（U1/D2）";
const std::string kU2 =
    "ERR_TEXT2QUERY:text2query 档功能收缩 [U2 对象字段条件]：对象字段 \"address\" "
    "不支持过滤条件（U2/D2）";
const std::string kU3 =
    "ERR_TEXT2QUERY:text2query 档功能收缩 [U3 对象点号路径条件]：对象点号路径 "
    "\"address.city\" 不支持过滤条件（U3/D2）";
const std::string kArrayIndex =
    "数组字段索引路径 \"tags.0\" "
    "不支持过滤条件（各后端数组索引语义不一致；请改用整值过滤或对象点号路径）";

std::string rejected(std::string_view op) {
  return format("条件包含被拒绝的操作符 {}（服务端执行类，命中拒绝名单）：请改用结构化条件", {op});
}
std::string empty_group(std::string_view op) {
  return format("{} 逻辑组为空：拒绝生成无条件的全表查询（请在组内提供至少一个条件）", {op});
}
std::string write_stage(std::string_view op) {
  return format("聚合阶段 {}（写副作用）被拒绝：不允许在查询/聚合中写落盘", {op});
}

// A JSON text and the failure it should give ("" for none).
struct Case {
  const char* json;
  std::string message;
};

TEST(ValidateCondition, RefusedOperatorsAndEmptyGroups) {
  const Case cases[] = {
      {R"({"$or": [{"a": 1}, {"$where": "x"}]})", rejected("$where")},
      {R"({"$whereabouts": 1, "a": {"$regex": "x"}})", ""},
      // every value is searched, not only logical groups
      {R"({"a": {"$elemMatch": {"b": [{"$function": {}}]}}})", rejected("$function")},
      {R"([{"$accumulator": 1}])", rejected("$accumulator")},
      {R"({"$and": []})", empty_group("$and")},
      {R"({"x": {"y": {"$nor": []}}})", empty_group("$nor")},
      {R"({"$and": [{}], "$or": {}})", ""},
      // entries are examined in ascending key order
      {R"({"$or": [], "$and": [{"$where": 1}]})", rejected("$where")},
      {"null", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { validate_condition(Json::parse(c.json)); }), c.message) << c.json;
  }
}

TEST(ValidateConditionShape, ByProfile) {
  struct Case {
    const char* condition;
    std::string standard;
    std::string t2q;
  };
  const Case cases[] = {
      {R"({"tags": "x"})", "", kU1},
      {R"({"tags.0": "x"})", kArrayIndex, kArrayIndex},
      {R"({"address": {"city": "x"}})", "", kU2},
      {R"({"address.city": "x"})", "", kU3},
      {R"({"name": 1, "undeclared.x": 1, "$expr": {"tags": 1}})", "", ""},
      // a relation name wins over a field of the same name
      {R"({"posts": {"$count": {"$gt": 1}}, "author": {"name": "x"}})", "", ""},
      {R"({"$or": [{"name": 1}, {"$and": [{"tags": 1}]}]})", "", kU1},
      {R"({"$nor": {"tags": 1}})", "", ""},
      // a negated condition is checked like the condition itself
      {R"({"$not": {"tags": "x"}})", "", kU1},
      {R"({"$not": {"$or": [{"tags.0": "x"}]}})", kArrayIndex, kArrayIndex},
      // ascending key order decides which refusal is reported
      {R"({"tags": 1, "address": 1})", "", kU2},
      {"[1]", "", ""},
  };
  Schema s = user_schema();
  for (const auto& c : cases) {
    Json cond = Json::parse(c.condition);
    EXPECT_EQ(error_of([&] { validate_condition_shape(s, cond, false); }), c.standard)
        << c.condition;
    EXPECT_EQ(error_of([&] { validate_condition_shape(s, cond, true); }), c.t2q) << c.condition;
  }
}

TEST(ValidateSortShape, ObjectPathsUnderText2Query) {
  Schema s = user_schema();
  const std::string u4 =
      "ERR_TEXT2QUERY:text2query 档功能收缩 [U4 对象点号路径排序]：对象点号路径 "
      "\"address.city\" 不支持排序（U4/D2）";
  Json sort = {{"address.city", 1}, {"name", -1}};
  EXPECT_EQ(error_of([&] { validate_sort_shape(s, sort, false); }), "");
  EXPECT_EQ(error_of([&] { validate_sort_shape(s, sort, true); }), u4);
  Json other = {{"address", 1}, {"author.name", 1}, {"tags.0", 1}, {"x.y", 1}};
  EXPECT_EQ(error_of([&] { validate_sort_shape(s, other, true); }), "");
}

TEST(ValidatePipelineStages, WriteStagesAndConditions) {
  const Case cases[] = {
      {R"([{"$match": {"a": 1}}, {"$out": "copy"}])", write_stage("$out")},
      {R"([{"$match": {"$function": {}}}])", rejected("$function")},
      {R"([{"$match": {"a": 1}}, {"$sort": {"a": 1}}, 3, "x", null])", ""},
      {R"([[{"a": 1}], [{"$or": []}]])", empty_group("$or")},
      // write stages are refused wherever they are nested
      {R"([{"$lookup": {"from": "p", "as": "p", "pipeline": [{"$merge": {"into": "x"}}]}}])",
       write_stage("$merge")},
      {R"([{"$facet": {"a": [{"$match": {}}], "b": [{"$out": "x"}]}}])", write_stage("$out")},
      {R"([{"$unionWith": {"coll": "c", "pipeline": [{"$lookup": {"pipeline": [{"$out": "x"}]}}]}}])",
       write_stage("$out")},
      {R"([[{"$merge": "x"}]])", write_stage("$merge")},
      // within a stage, entries in ascending key order
      {R"([{"$match": {"$where": 1}, "$out": "x"}])", rejected("$where")},
      {R"({"$out": "x"})", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { validate_pipeline_stages(Json::parse(c.json)); }), c.message)
        << c.json;
  }
}

TEST(Walks, DeepValuesFailInsteadOfExhaustingTheStack) {
  Json deep = Json::object();
  Json groups = Json::object();
  for (int i = 0; i < 5000; ++i) {
    deep = Json{{"a", std::move(deep)}};
    groups = Json{{"$and", Json::array({std::move(groups)})}};
  }
  const std::string message = "条件嵌套深度超过上限 1024 层";
  Schema s = user_schema();
  EXPECT_EQ(error_of([&] { validate_condition(deep); }), message);
  EXPECT_EQ(error_of([&] { validate_pipeline_stages(Json::array({deep})); }), message);
  EXPECT_EQ(error_of([&] { validate_condition_shape(s, groups, true); }), message);
  EXPECT_EQ(error_of([&] { has_relation_predicate(s, groups); }), message);
  std::set<std::string> refs;
  EXPECT_EQ(error_of([&] {
              collect_having_agg_refs(
                  groups, [](auto&) { return true; }, refs);
            }),
            message);
}

TEST(HasRelationPredicate, TopLevelAndLogicalGroups) {
  struct Case {
    const char* condition;
    bool found;
  };
  const Case cases[] = {
      {R"({"posts": {"$count": 1}})", true},
      {R"({"$or": [{"a": 1}, {"$and": [{"author": {}}]}]})", true},
      {R"({"$not": {"$nor": [{"posts": 1}]}})", true},
      {R"({"a": {"posts": 1}, "$expr": {"posts": 1}, "$and": {"posts": 1}})", false},
      {R"({"posts.title": 1})", false},
      {R"(["posts"])", false},
  };
  Schema s = user_schema();
  for (const auto& c : cases) {
    EXPECT_EQ(has_relation_predicate(s, Json::parse(c.condition)), c.found) << c.condition;
  }
}

TEST(ProfileGuards, MessagesUnderText2Query) {
  schema::Registry reg;
  auto all = [&reg] {
    return std::vector<std::string>{
        error_of([&] { forbid_t2q(reg, "$pipeline 直通"); }),
        error_of([&] { ensure_t2q_context(reg, false); }),
        error_of([&] { ensure_route_override_allowed(reg, true); }),
    };
  };
  EXPECT_EQ(all(), (std::vector<std::string>{"", "", ""}));
  reg.profile = schema::Profile::Text2Query;
  EXPECT_EQ(all(), (std::vector<std::string>{
                       "ERR_TEXT2QUERY:text2query 档禁用 [$pipeline 直通]（功能收缩）",
                       "ERR_TEXT2QUERY:text2query 档必须携带用户上下文",
                       "ERR_TEXT2QUERY:text2query 档禁用 route_override（受信参数，禁 AI 侧指定）",
                   }));
  EXPECT_EQ(error_of([&] { ensure_t2q_context(reg, true); }), "");
  EXPECT_EQ(error_of([&] { ensure_route_override_allowed(reg, false); }), "");
  EXPECT_EQ(error_of([] { forbid_t2q_shape(false, "U1", "m"); }), "");
  EXPECT_EQ(error_kind(error_of([] { forbid_t2q_shape(true, "U1", "m"); })), ErrorKind::Text2Query);
}

TEST(ProfileGuards, RelationNesting) {
  struct Case {
    bool t2q;
    std::size_t depth;
    std::size_t paging;
    std::string message;
  };
  const Case cases[] = {
      {false, 9, 3, ""},
      {false, 10, 0, "关系嵌套超限（深度 10 ≥ 10 / 分页深度 0 ≥ 4）——拒绝静默降级"},
      {false, 2, 4, "关系嵌套超限（深度 2 ≥ 10 / 分页深度 4 ≥ 4）——拒绝静默降级"},
      {true, 2, 3, ""},
      {true, 3, 1, "ERR_TEXT2QUERY:text2query 档关系嵌套超限（深度 3 ≥ 3 / 分页深度 1 ≥ 4）"},
      {true, 0, 4, "ERR_TEXT2QUERY:text2query 档关系嵌套超限（深度 0 ≥ 3 / 分页深度 4 ≥ 4）"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { ensure_relation_nesting(c.t2q, c.depth, c.paging); }), c.message)
        << c.t2q << " " << c.depth << " " << c.paging;
  }
}

TEST(Helpers, DefaultsAndFieldTypes) {
  const std::pair<const char*, Json> defaults[] = {
      {"int", 0},
      {"long", 0},
      {"float", 0},
      {"double", 0},
      {"string", ""},
      {"boolean", false},
      {"array", Json::array()},
      {"object", Json::object()},
      {"number", nullptr},
      {"any", nullptr},
      {"Int", nullptr},
  };
  for (const auto& [type, value] : defaults) EXPECT_EQ(get_default(type), value) << type;
  Schema s = user_schema();
  EXPECT_EQ(root_field_type(s, "address.city.zip"), "object");
  EXPECT_EQ(root_field_type(s, "tags"), "array");
  EXPECT_EQ(root_field_type(s, "author.name"), std::nullopt);
  EXPECT_EQ(root_field_type(s, ".name"), std::nullopt);
}

TEST(Helpers, Param) {
  Json params = {{"w", 1}, {"ond", "c"}, {"", "empty"}, {"n", nullptr}};
  EXPECT_EQ(*param(params, "@w"), 1);
  EXPECT_EQ(param(params, "@x"), nullptr);
  EXPECT_EQ(param(params, ""), nullptr);
  EXPECT_TRUE(param(params, "@n")->is_null());
  EXPECT_EQ(*param(params, "cond"), "c");
  EXPECT_EQ(*param(params, "@"), "empty");
  EXPECT_EQ(*param(params, "\xC3\xA9w"), "empty");
  EXPECT_EQ(param(Json::array(), "@w"), nullptr);
}

TEST(Helpers, StageLists) {
  Json stages = Json::parse(R"([{"$lookup": {}}, {"$match": {"a": 1}, "x": 1}, {"$match": 2}])");
  override_or_append(stages, "$match", {{"b", 2}});
  override_or_append(stages, "$sort", {{"b", 1}});
  EXPECT_EQ(stages, Json::parse(R"([{"$lookup": {}}, {"$match": {"b": 2}}, {"$match": 2},
                                    {"$sort": {"b": 1}}])"));
  Json out = Json::array();
  Json sort = {{"a", 1}}, skip = nullptr, limit = 0;
  append_order(out, &sort, &skip, &limit);
  append_order(out, nullptr, nullptr, nullptr);
  EXPECT_EQ(out, Json::parse(R"([{"$sort": {"a": 1}}, {"$limit": 0}])"));
}

TEST(Helpers, CollectHavingAggRefs) {
  std::set<std::string> refs;
  Json having = Json::parse(R"({"total": {"$gt": 1}, "name": 1, "$expr": {"count": 1},
      "$or": [{"count": 2}, {"$nor": [{"avg": 1}]}, 5], "$and": {"sum": 1}})");
  collect_having_agg_refs(
      having, [](const std::string& k) { return k != "name"; }, refs);
  EXPECT_EQ(refs, (std::set<std::string>{"avg", "count", "total"}));
  collect_having_agg_refs(
      Json::array({having}), [](auto&) { return true; }, refs);
  EXPECT_EQ(refs.size(), 3u);
}

}  // namespace
}  // namespace varnel::pipeline
