#include "schema/definition.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::schema {
namespace {

using testing::error_of;
using testing::parse;

Schema build(const Json& defn, const Location& loc = {}) {
  return build_schema(defn, "A", "A", loc);
}

std::string build_error(const char* defn) {
  return error_of([&] { build(parse(defn)); });
}

std::vector<std::string> field_names(const Schema& s) {
  std::vector<std::string> out;
  for (const auto& [name, def] : s.fields) out.push_back(name);
  return out;
}

TEST(BuildSchema, NameOnlyGetsTimestampFieldsAndNothingElse) {
  Schema s = build(parse(R"({"name": "A"})"));
  EXPECT_EQ(s.name, "A");
  EXPECT_EQ(s.collection, "A");
  EXPECT_EQ(field_names(s), (std::vector<std::string>{"createdAt", "updatedAt"}));
  EXPECT_EQ(s.fields.at("createdAt").type, "number");
  EXPECT_FALSE(s.fields.at("updatedAt").required);
  EXPECT_TRUE(s.relations.empty());
  EXPECT_TRUE(s.computes.empty());
  EXPECT_TRUE(s.triggers.empty());
  EXPECT_TRUE(s.indexes.empty());
  EXPECT_EQ(s.idPrefix, "");
  EXPECT_FALSE(s.read);
  EXPECT_FALSE(s.write);
  EXPECT_TRUE(s.timestamps);
  EXPECT_FALSE(s.source);
  EXPECT_FALSE(s.database);
}

TEST(BuildSchema, Timestamps) {
  struct Case {
    const char* value;
    bool on;
  };
  for (const Case& c : {Case{"null", true}, Case{"true", true}, Case{"false", false},
                        Case{"\"ms\"", true}, Case{"\"s\"", true}}) {
    Schema s = build(parse((std::string(R"({"timestamps": )") + c.value + "}").c_str()));
    EXPECT_EQ(s.timestamps, c.on) << c.value;
    EXPECT_EQ(s.fields.contains("createdAt"), c.on) << c.value;
  }
  const std::string prefix = "timestamps 仅支持 true/false/'ms'/'s'，实际 ";
  struct Bad {
    const char* value;
    const char* shown;
  };
  for (const Bad& b : {Bad{"\"days\"", "\"days\""}, Bad{"0", "0"}, Bad{"1", "1"},
                       Bad{"1.5", "1.5"}, Bad{"[1,\"x\"]", "[1,\"x\"]"},
                       Bad{R"({"a":null})", R"({"a":null})"},
                       Bad{R"("a\"b\\c\n\t\u0001")", R"("a\"b\\c\n\t\u{1}")"},
                       Bad{"\"MS\"", "\"MS\""}, Bad{"\"\"", "\"\""}}) {
    EXPECT_EQ(build_error((std::string(R"({"timestamps": )") + b.value + "}").c_str()),
              prefix + b.shown)
        << b.value;
  }
}

TEST(BuildSchema, DeclaredTimestampFieldWins) {
  Schema s = build(parse(R"({"fields": {"createdAt": "string"}})"));
  EXPECT_EQ(s.fields.at("createdAt").type, "string");
  EXPECT_EQ(s.fields.at("updatedAt").type, "number");
}

TEST(NormalizeFields, ShapesAndRefusals) {
  EXPECT_TRUE(normalize_fields(nullptr).empty());
  for (const char* v : {"[1, 2]", "\"x\"", "5", "null"}) {
    Json value = parse(v);
    EXPECT_TRUE(normalize_fields(&value).empty()) << v;
  }
  for (const char* bad : {"5", "null", "true", "[\"string\"]"}) {
    Json value = parse((std::string(R"({"age": "number", "x": )") + bad + "}").c_str());
    EXPECT_EQ(error_of([&] { normalize_fields(&value); }),
              "字段 x 定义类型非法（须为类型字符串或对象）")
        << bad;
  }
  // Entries are checked in ascending key order.
  Json value = parse(R"({"b": 5, "a": {"strategy": "uuid"}})");
  EXPECT_EQ(error_of([&] { normalize_fields(&value); }),
            "字段 a 的 strategy \"uuid\" 非法（仅支持 \"autoincrement\"，且仅限 _id 字段）");
  value = parse(R"({"a": {"strategy": ""}})");
  EXPECT_EQ(error_of([&] { normalize_fields(&value); }),
            "字段 a 的 strategy \"\" 非法（仅支持 \"autoincrement\"，且仅限 _id 字段）");
}

TEST(NormalizeFields, MembersAndDefaults) {
  Json value = parse(R"({
    "name": "string",
    "age": {"type": "number", "required": 1, "default": 0, "read": ["a", 3, "b"], "write": "a"},
    "flag": {"type": 5, "required": true, "default": false, "fields": 0, "strategy": 7},
    "nick": {"type": "", "default": null, "fields": {"first": "string"}},
    "_id": {"type": "number", "strategy": "autoincrement"},
    "seq": {"strategy": "autoincrement"}
  })");
  FieldTable t = normalize_fields(&value);
  EXPECT_EQ(t.at("name").type, "string");
  const FieldDef& age = t.at("age");
  EXPECT_EQ(age.type, "number");
  EXPECT_FALSE(age.required);
  EXPECT_EQ(age.default_value, Json(0));
  EXPECT_EQ(age.read, (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(age.write);
  const FieldDef& flag = t.at("flag");
  EXPECT_EQ(flag.type, "");
  EXPECT_TRUE(flag.required);
  EXPECT_EQ(flag.default_value, Json(false));
  EXPECT_FALSE(flag.fields);
  EXPECT_FALSE(flag.strategy);
  const FieldDef& nick = t.at("nick");
  EXPECT_FALSE(nick.default_value);
  EXPECT_EQ(nick.fields, parse(R"({"first": "string"})"));
  EXPECT_EQ(t.at("seq").strategy, "autoincrement");  // accepted anywhere, effective on _id only
}

TEST(BuildSchema, AutoincrementId) {
  EXPECT_TRUE(build(parse(R"({"fields": {"_id": {"type": "number", "strategy": "autoincrement"}}})"))
                  .id_is_autoincrement());
  EXPECT_FALSE(build(parse(R"({"fields": {"seq": {"strategy": "autoincrement"}}})"))
                   .id_is_autoincrement());
}

TEST(BuildSchema, RelationsDefaultPerMember) {
  Schema s = build(parse(R"({"relations": {
    "teacher": {"model": "Teacher"},
    "lessons": {"model": "Lesson", "type": "one", "localField": "code", "foreignField": "",
                "read": ["staff"]},
    "junk": 5
  }})"));
  const RelationDef& t = s.relations.at("teacher");
  EXPECT_EQ(t.model, "Teacher");
  EXPECT_EQ(t.type, "many");
  EXPECT_EQ(t.localField, "_id");
  EXPECT_EQ(t.foreignField, "teacher");
  EXPECT_FALSE(t.read);
  const RelationDef& l = s.relations.at("lessons");
  EXPECT_EQ(l.type, "one");
  EXPECT_EQ(l.localField, "code");
  EXPECT_EQ(l.foreignField, "lessons");
  EXPECT_EQ(l.read, (std::vector<std::string>{"staff"}));
  const RelationDef& j = s.relations.at("junk");
  EXPECT_EQ(j.model, "");
  EXPECT_EQ(j.foreignField, "junk");
}

TEST(BuildSchema, ComputesInNameOrderWithDefaults) {
  Schema s = build(parse(R"({"computes": {
    "zeta": {"type": "number", "fn": 1, "fnRef": "calcZ", "depends": ["a", 1, "b"], "read": []},
    "alpha": "whatever",
    "mid": {"type": "", "asyncFn": "yes", "fnRef": "", "depends": "a", "agg": 0}
  }})"));
  ASSERT_EQ(s.computes.size(), 3u);
  EXPECT_EQ(s.computes[0].first, "alpha");
  EXPECT_EQ(s.computes[1].first, "mid");
  EXPECT_EQ(s.computes[2].first, "zeta");
  const ComputeDef& alpha = s.computes[0].second;
  EXPECT_EQ(alpha.type, "any");
  EXPECT_FALSE(alpha.fn || alpha.asyncFn);
  const ComputeDef& mid = *s.find_compute("mid");
  EXPECT_EQ(mid.type, "any");
  EXPECT_TRUE(mid.asyncFn);
  EXPECT_FALSE(mid.fnRef);
  EXPECT_TRUE(mid.depends.empty());
  EXPECT_FALSE(mid.agg);
  const ComputeDef& zeta = *s.find_compute("zeta");
  EXPECT_TRUE(zeta.fn);
  EXPECT_EQ(zeta.fnRef, "calcZ");
  EXPECT_EQ(zeta.depends, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(zeta.read, std::vector<std::string>{});
}

TEST(BuildSchema, RelationAggregates) {
  auto agg_error = [](const char* agg, const char* extra = "") {
    std::string defn = std::string(R"({"relations": {"lessons": {"model": "L"}, "a": {}},
                                       "computes": {"c": {)") +
                       extra + R"("agg": )" + agg + "}}}";
    return build_error(defn.c_str());
  };
  EXPECT_EQ(agg_error(R"({"$count": "lessons"})"), "");
  EXPECT_EQ(agg_error(R"({"$avg": "lessons.duration"})"), "");
  for (const char* falsy : {"0", "null", "false", "\"\""}) EXPECT_EQ(agg_error(falsy), "") << falsy;

  struct Case {
    const char* agg;
    const char* extra;
    std::string message;
  };
  const Case cases[] = {
      {R"({"$count": "lessons"})", R"("fn": true, )",
       "计算列 \"c\" 不能同时声明 agg 与 fn/asyncFn（二选一）"},
      {"\"junk\"", R"("asyncFn": 1, )", "计算列 \"c\" 不能同时声明 agg 与 fn/asyncFn（二选一）"},
      {"\"lessons\"", "", "计算列 \"c\" 的 agg 必须是对象，如 {\"$count\": \"lessons\"}"},
      {"[1]", "", "计算列 \"c\" 的 agg 必须是对象，如 {\"$count\": \"lessons\"}"},
      {"{}", "", "计算列 \"c\" 的 agg 必须且只能声明一个算子键"},
      {R"({"$sum": "lessons.x", "$avg": "lessons.x"})", "",
       "计算列 \"c\" 的 agg 必须且只能声明一个算子键"},
      {R"({"$median": "lessons.x"})", "",
       "计算列 \"c\" 的 agg 算子 $median 不在白名单（$count/$sum/$avg/$min/$max）"},
      {R"({"$sum": ""})", "",
       "计算列 \"c\" 的 agg 取值必须是关系路径字符串（如 \"lessons\" / \"lessons.duration\"）"},
      {R"({"$sum": "*"})", "",
       "计算列 \"c\" 的 agg 取值必须是关系路径字符串（如 \"lessons\" / \"lessons.duration\"）"},
      {R"({"$sum": 3})", "",
       "计算列 \"c\" 的 agg 取值必须是关系路径字符串（如 \"lessons\" / \"lessons.duration\"）"},
      {R"({"$sum": "nope.x"})", "", "计算列 \"c\" 的 agg 引用的关系 \"nope\" 未在 schema 中定义"},
      {R"({"$count": "nope"})", "", "计算列 \"c\" 的 agg 引用的关系 \"nope\" 未在 schema 中定义"},
      {R"({"$sum": ".x"})", "", "计算列 \"c\" 的 agg 引用的关系 \"\" 未在 schema 中定义"},
      {R"({"$sum": "a.b.c"})", "",
       "计算列 \"c\" 的 agg 关系路径 \"a.b.c\" 非法：仅支持单级「关系.字段」（二级路径首批不支持）"},
      {R"({"$sum": "lessons."})", "",
       "计算列 \"c\" 的 agg 关系路径 \"lessons.\" 非法：仅支持单级「关系.字段」（二级路径首批不支持）"},
      {R"({"$count": "lessons.x"})", "",
       "计算列 \"c\" 的 $count 仅支持关系整行计数（如 \"lessons\"），按字段计数待 P5"},
      {R"({"$sum": "lessons"})", "",
       "计算列 \"c\" 的 agg 算子 $sum 必须引用关系字段（如 \"lessons.duration\"）"},
  };
  for (const Case& c : cases) EXPECT_EQ(agg_error(c.agg, c.extra), c.message) << c.agg;

  // The relation is checked before the path shape.
  EXPECT_EQ(build_error(R"({"computes": {"c": {"agg": {"$sum": "a.b.c"}}}})"),
            "计算列 \"c\" 的 agg 引用的关系 \"a\" 未在 schema 中定义");
  Schema s = build(parse(R"({"relations": {"lessons": {}}, "computes": {"n": {"agg": {"$count": "lessons"}}}})"));
  EXPECT_EQ(s.find_compute("n")->agg, parse(R"({"$count": "lessons"})"));
}

TEST(BuildSchema, TriggersSeeTheNormalisedFields) {
  EXPECT_EQ(build_error(R"({"triggers": {"update": [{"onFields": ["createdAt"], "fnRef": "f"}]}})"), "");
  EXPECT_EQ(build_error(R"({"timestamps": false,
                           "triggers": {"update": [{"onFields": ["createdAt"], "fnRef": "f"}]}})"),
            "A.triggers.update[0] 的 onFields 字段 \"createdAt\" 未在 schema 中声明");
  EXPECT_EQ(build_error(R"({"triggers": {"delete": []}})"),
            "schema \"A\" 的 triggers 事件键 \"delete\" 非法（仅 insert/update/remove/schedule）");
}

TEST(BuildSchema, NameConflictsAcrossFieldsRelationsComputes) {
  // Fields are checked in ascending byte order: "userName" before "user_name".
  EXPECT_EQ(build_error(R"({"fields": {"userName": "string", "user_name": "string"}})"),
            "ERR_NAME_CONFLICT:名称 \"user_name\" 与 \"userName\" 归一后相同（username）");
  EXPECT_EQ(build_error(R"({"fields": {"userName": "string"}, "relations": {"user_name": {}}})"),
            "ERR_NAME_CONFLICT:名称 \"user_name\" 与 \"userName\" 归一后相同（username）");
  EXPECT_EQ(build_error(R"({"relations": {"owner": {}}, "computes": {"Owner": {}}})"),
            "ERR_NAME_CONFLICT:名称 \"Owner\" 与 \"owner\" 归一后相同（owner）");
  EXPECT_EQ(build_error(R"({"fields": {"fnRef": "string"}})"),
            "ERR_NAME_CONFLICT:名称 \"fnRef\" 归一后命中契约保留键 \"fnref\"");
  // The timestamp fields take part too.
  EXPECT_EQ(build_error(R"({"fields": {"created_at": "number"}})"),
            "ERR_NAME_CONFLICT:名称 \"created_at\" 与 \"createdAt\" 归一后相同（createdat）");
  EXPECT_EQ(build_error(R"({"fields": {"_id": "string", "id": "string"}})"), "");
}

TEST(BuildSchema, RemainingMembersAndLocation) {
  Location loc;
  loc.source = "pg1";
  loc.database = "shop";
  loc.schema = "";
  Schema s = build(parse(R"({"idPrefix": "ord_", "read": ["a", 1], "write": [],
                             "indexes": [{"keys": {"a": 1}}, 3]})"),
                   loc);
  EXPECT_EQ(s.idPrefix, "ord_");
  EXPECT_EQ(s.read, (std::vector<std::string>{"a"}));
  EXPECT_EQ(s.write, std::vector<std::string>{});
  EXPECT_EQ(s.indexes, (std::vector<Json>{parse(R"({"keys": {"a": 1}})"), Json(3)}));
  EXPECT_EQ(s.source, "pg1");
  EXPECT_EQ(s.database, "shop");
  EXPECT_FALSE(s.schema);
  EXPECT_EQ(s.location().source, "pg1");
  EXPECT_EQ(build(parse("{}")).location().source, "default");
}

TEST(BuildSchema, WrongTypesEverywhereFallBackToDefaults) {
  Schema s = build(parse(R"({"fields": 5, "relations": [1], "computes": "x", "triggers": 3,
                             "indexes": {"a": 1}, "read": "admin", "write": {"a": 1},
                             "idPrefix": 7, "collection": [], "unknownKey": {"deep": [1]}})"));
  EXPECT_EQ(field_names(s), (std::vector<std::string>{"createdAt", "updatedAt"}));
  EXPECT_TRUE(s.relations.empty());
  EXPECT_TRUE(s.computes.empty());
  EXPECT_TRUE(s.triggers.empty());
  EXPECT_TRUE(s.indexes.empty());
  EXPECT_FALSE(s.read);
  EXPECT_FALSE(s.write);
  EXPECT_EQ(s.idPrefix, "");
}

TEST(BuildSchema, HugeNamesAndDeepValuesAreKeptVerbatim) {
  std::string huge(100000, 'q');
  Json deep = Json::array();
  for (int i = 0; i < 400; ++i) deep = Json::array({deep});
  Json defn = Json::object();
  defn["fields"][huge] = Json::object({{"type", "object"}, {"default", deep}});
  Schema s = build_schema(defn, huge, huge, {});
  EXPECT_EQ(s.fields.at(huge).default_value, deep);
  EXPECT_EQ(s.name, huge);
}

TEST(Archive, DerivedOnlyForOrdinaryModels) {
  Json plain = parse(R"({"name": "x"})");
  EXPECT_TRUE(derives_archive(plain, "Order"));
  EXPECT_TRUE(derives_archive(parse(R"({"_isArchive": 0})"), "Order"));
  EXPECT_FALSE(derives_archive(parse(R"({"_isArchive": true})"), "Order"));
  EXPECT_FALSE(derives_archive(plain, "OrderDeleted"));
  EXPECT_FALSE(derives_archive(plain, "Deleted"));
  EXPECT_TRUE(derives_archive(plain, "Delete"));
}

TEST(Archive, DefinitionKeepsFieldsAndIndexesOnly) {
  Json defn = parse(R"({"name": "Order", "timestamps": false, "read": ["a"], "idPrefix": "o_",
    "relations": {"r": {}}, "computes": {"c": {}}, "triggers": {"insert": []},
    "fields": {"_id": {"type": "number", "strategy": "autoincrement"},
               "deletedAt": "string", "total": "number"},
    "indexes": [{"keys": {"total": 1}}]})");
  ArchiveDefinition a = archive_definition(defn, "Order", "order");
  EXPECT_EQ(a.name, "OrderDeleted");
  EXPECT_EQ(a.collection, "order_deleted");
  EXPECT_EQ(a.defn, parse(R"({"name": "OrderDeleted", "collection": "order_deleted",
    "idPrefix": "", "_isArchive": true,
    "fields": {"_id": {"type": "number"}, "deletedAt": {"type": "number"}, "total": "number"},
    "indexes": [{"keys": {"total": 1}}]})"));

  Schema s = build_schema(a.defn, a.name, a.collection, {});
  EXPECT_FALSE(s.id_is_autoincrement());
  EXPECT_TRUE(s.timestamps);
  EXPECT_EQ(field_names(s),
            (std::vector<std::string>{"_id", "createdAt", "deletedAt", "total", "updatedAt"}));
  EXPECT_TRUE(s.relations.empty() && s.computes.empty() && s.triggers.empty());
  EXPECT_FALSE(s.read);

  ArchiveDefinition bare = archive_definition(parse(R"({"fields": [1], "indexes": null})"), "A", "a");
  EXPECT_EQ(bare.defn["fields"], parse(R"({"deletedAt": {"type": "number"}})"));
  EXPECT_TRUE(bare.defn["indexes"].is_null());
  EXPECT_EQ(archive_definition(parse("{}"), "A", "a").defn["indexes"], Json::array());
}

}  // namespace
}  // namespace varnel::schema
