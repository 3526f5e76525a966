#include "local/eval.h"

#include "local/update.h"
#include "test_util.h"

namespace varnel::local {
namespace {

using testing::error_of;
using testing::J;

Json eval(const std::string& collections, const std::string& command) {
  return eval_command(J(collections), J(command));
}

std::string eval_error(const std::string& collections, const std::string& command) {
  return error_of([&] { eval(collections, command); });
}

TEST(EvalCommand, ReadsLeaveTheCollectionsAsGiven) {
  EXPECT_EQ(eval("{}", R"({"kind": "find", "collection": "c"})"),
            J(R"({"changed": [], "collections": {}, "result": []})"));
  const char* colls = R"({"c": [{"_id": 1, "a": 1, "b": 2}, {"_id": 2, "a": 2}, {"_id": 3, "a": 1}],
                         "other": 7})";
  Json env = eval(colls, R"({"kind": "find", "collection": "c", "filter": {"a": 1}, "projection": {"b": 1},
                             "source": "default", "database": null})");
  EXPECT_EQ(env["result"], J(R"([{"_id": 1, "b": 2}, {"_id": 3}])"));
  EXPECT_EQ(env["collections"], J(colls));
  EXPECT_EQ(env["changed"], J("[]"));
  EXPECT_EQ(eval(colls, R"({"kind": "findOne", "collection": "c", "filter": {"a": 1}, "projection": {"a": 0}})")["result"],
            J(R"({"_id": 1, "b": 2})"));
  EXPECT_EQ(eval(colls, R"({"kind": "findOne", "collection": "c", "filter": {"a": 9}})")["result"], Json());
  Json count = eval(colls, R"({"kind": "countDocuments", "collection": "c", "filter": {"a": 1}})")["result"];
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(count.is_number_unsigned());
  EXPECT_EQ(eval(colls, R"({"kind": "aggregate", "collection": "c",
                            "pipeline": [{"$lookup": {"from": "c", "localField": "a", "foreignField": "a", "as": "m"}},
                                         {"$project": {"n": {"$size": "$m"}}}]})")["result"],
            J(R"([{"_id": 1, "n": 2}, {"_id": 2, "n": 1}, {"_id": 3, "n": 2}])"));
}

TEST(EvalCommand, Refusals) {
  struct Case {
    const char* collections;
    const char* command;
    const char* message;
  };
  const Case cases[] = {
      {"{}", "5", "command 必须是对象，收到 number"},
      {"{}", R"({"collection": "c"})", "command 缺少 kind"},
      {"{}", R"({"kind": 1, "collection": "c"})", "command 缺少 kind"},
      {"{}", R"({"kind": "find"})", "command 缺少 collection"},
      {"[]", R"({"kind": "find", "collection": "c"})", "collections 必须是对象 {集合名: [文档…]}，收到 array"},
      {R"({"c": 5})", R"({"kind": "find", "collection": "c"})", "集合 \"c\" 必须是文档数组，收到 number"},
      {"{}", R"({"kind": "update", "collection": "c"})",
       "未支持的命令: update（本地求值器拒绝静默；支持 "
       "find/aggregate/countDocuments/findOne/insertOne/insertMany/updateMany/findOneAndUpdate/deleteMany）"},
      {"{}", R"({"kind": "aggregate", "collection": "c"})", "aggregate 需要 pipeline 数组"},
      {"{}", R"({"kind": "insertOne", "collection": "c"})", "insertOne 缺少 doc"},
      {"{}", R"({"kind": "insertOne", "collection": "c", "doc": [1]})", "文档必须是对象，收到 array（拒绝静默按空文档写入）"},
      {"{}", R"({"kind": "insertMany", "collection": "c", "docs": {}})", "insertMany 需要 docs 数组"},
      {"{}", R"({"kind": "updateMany", "collection": "c"})", "updateMany 缺少 update"},
      {"{}", R"({"kind": "findOneAndUpdate", "collection": "c"})", "findOneAndUpdate 缺少 update"},
      {R"({"c": [{"_id": 1.0}]})", R"({"kind": "insertOne", "collection": "c", "doc": {"_id": 1}})", "insertOne: _id 冲突（1）"},
      {R"({"c": [{"_id": {"$oid": "a"}}]})", R"({"kind": "insertMany", "collection": "c", "docs": [{"_id": 2}, {"_id": {"$oid": "a"}}]})",
       "insertMany: _id 冲突（{\"$oid\":\"a\"}）"},
      {"{}", R"({"kind": "insertMany", "collection": "c", "docs": [{"_id": 1}, {"_id": 1.0}]})", "insertMany: 批内 _id 重复（1.0）"},
      {R"({"c": [{"a": 1}]})", R"({"kind": "updateMany", "collection": "c", "update": {}})", "没有提供要更新的字段"},
      {R"({"c": [{"a": 1}]})", R"({"kind": "find", "collection": "c", "projection": {"a": 5}})", "投影值必须是 0/1 或 false/true，收到 5"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval_error(c.collections, c.command), c.message) << c.command;
  // Errors of filters and updates are only met where evaluation reaches them.
  EXPECT_EQ(eval_error("{}", R"({"kind": "updateMany", "collection": "c", "update": {}})"), "");
  EXPECT_EQ(eval_error("{}", R"({"kind": "find", "collection": "c", "filter": 5})"), "");
}

TEST(EvalCommand, Inserts) {
  Json env = eval("{}", R"({"kind": "insertOne", "collection": "c", "doc": {"_id": 1}})");
  EXPECT_EQ(env, J(R"({"changed": ["c"], "collections": {"c": [{"_id": 1}]}, "result": {"_id": 1}})"));
  EXPECT_EQ(eval("{}", R"({"kind": "insertOne", "collection": "c", "doc": null})")["collections"],
            J(R"({"c": [{}]})"));
  env = eval(R"({"c": [{"_id": 1, "v": "old"}, {"_id": 2}]})",
             R"({"kind": "insertMany", "collection": "c", "upsertById": true,
                 "docs": [{"_id": 1, "v": "a"}, {"_id": 3}, {"_id": 1.0, "v": "b"}, {"_id": 3, "v": "c"}, null]})");
  EXPECT_EQ(env["result"], J(R"({"insertedCount": 5})"));
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": 1.0, "v": "b"}, {"_id": 2}, {"_id": 3, "v": "c"}, {}])"));
  env = eval("{}", R"({"kind": "insertMany", "collection": "c", "upsertById": 1, "docs": [{"_id": 1}, {"a": 1}]})");
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": 1}, {"a": 1}])"));
}

TEST(EvalCommand, DeleteAndUpdateMany) {
  const char* colls = R"({"c": [{"_id": 1, "a": 1}, {"_id": 2, "a": 2}, {"_id": 3, "a": 1}]})";
  Json env = eval(colls, R"({"kind": "deleteMany", "collection": "c", "filter": {"a": 1}})");
  EXPECT_EQ(env["result"], J(R"({"deletedCount": 2})"));
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": 2, "a": 2}])"));
  env = eval(colls, R"({"kind": "updateMany", "collection": "c", "filter": {"_id": {"$in": [1, 2]}},
                        "update": {"$set": {"a": 1}}})");
  EXPECT_EQ(env["result"], J(R"({"modifiedCount": 1})"));
  EXPECT_EQ(env["changed"], J(R"(["c"])"));
  env = eval(colls, R"({"kind": "updateMany", "collection": "c", "filter": {"a": 7}, "update": {"$set": {"a": 1}}})");
  EXPECT_EQ(env["result"], J(R"({"modifiedCount": 0})"));
  EXPECT_EQ(env["changed"], J(R"(["c"])"));
}

TEST(EvalCommand, FindOneAndUpdate) {
  const char* colls = R"({"c": [{"_id": 1, "n": 1}, {"_id": 2, "n": 1}]})";
  Json env = eval(colls, R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"n": 1},
                             "update": {"$inc": {"n": 1}}, "options": {"returnDocument": "before"}})");
  EXPECT_EQ(env["result"], J(R"({"_id": 1, "n": 1})"));
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": 1, "n": 2}, {"_id": 2, "n": 1}])"));
  env = eval(colls, R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"_id": 2},
                        "update": {"$inc": {"n": 1}}, "options": {"returnDocument": "after"}})");
  EXPECT_EQ(env["result"], J(R"({"_id": 2, "n": 2})"));
  env = eval(colls, R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"_id": 9}, "update": {"$set": {"n": 1}}})");
  EXPECT_EQ(env["result"], Json());
  EXPECT_EQ(env["changed"], J(R"(["c"])"));
  EXPECT_EQ(env["collections"], J(colls));
}

TEST(EvalCommand, UpsertSeedsFromEqualityConditions) {
  Json env = eval("{}", R"({"kind": "findOneAndUpdate", "collection": "c",
                            "filter": {"_id": "a", "n": {"$gt": 1}, "t": {"$eq": 5}, "o": {"x": 1},
                                       "d.e": 3, "$or": [{"z": 1}]},
                            "update": {"$set": {"x": 1}, "$setOnInsert": {"y": 2}},
                            "options": {"upsert": true}})");
  EXPECT_EQ(env["result"], J(R"({"_id": "a", "d.e": 3, "t": 5, "x": 1, "y": 2})"));
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": "a", "d.e": 3, "t": 5, "x": 1, "y": 2}])"));
  env = eval("{}", R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"_id": {"$oid": "65f0"}},
                       "update": {"$set": {"x": 1}}, "options": {"upsert": true, "returnDocument": "before"}})");
  EXPECT_EQ(env["result"], Json());
  EXPECT_EQ(env["collections"]["c"], J(R"([{"_id": {"$oid": "65f0"}, "x": 1}])"));
}

TEST(EvalCommand, UpsertRefusesAnIdThatExists) {
  EXPECT_EQ(eval_error(R"({"c": [{"_id": 1, "n": 0}]})",
                       R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"_id": 1, "n": {"$gt": 5}},
                           "update": {"$set": {"n": 6}}, "options": {"upsert": true}})"),
            "findOneAndUpdate: _id 冲突（1）");
  EXPECT_EQ(eval_error(R"({"c": [{"_id": 2}]})",
                       R"({"kind": "findOneAndUpdate", "collection": "c", "filter": {"k": 1},
                           "update": {"$setOnInsert": {"_id": 2}}, "options": {"upsert": true}})"),
            "findOneAndUpdate: _id 冲突（2）");
  EXPECT_EQ(eval_error("{}", R"({"kind": "findOneAndUpdate", "collection": "c", "filter": 3,
                                 "update": {"$set": {"n": 6}}, "options": {"upsert": true}})"),
            "filter 必须是对象或 null，收到 number（拒绝静默按「无过滤」处理）");
}

TEST(EvalCommand, SizeGuard) {
  Json docs = Json::array();
  for (std::size_t i = 0; i < kMaxLocalCollectionDocs; ++i) docs.push_back(Json::object());
  Json collections = {{"c", docs}};
  EXPECT_EQ(error_of([&] { eval_command(collections, J(R"({"kind": "insertOne", "collection": "c", "doc": {}})")); }),
            "集合 \"c\" 文档数 100001 超过护栏 MAX_LOCAL_COLLECTION_DOCS=100000（拒绝静默截断）");
  collections["c"].erase(collections["c"].size() - 1);
  EXPECT_EQ(eval_command(collections, J(R"({"kind": "insertOne", "collection": "c", "doc": {}})"))["collections"]["c"].size(),
            kMaxLocalCollectionDocs);
}

TEST(ApplyUpdate, Operators) {
  struct Case {
    const char* doc;
    const char* update;
    const char* result;
  };
  const Case cases[] = {
      {"{}", R"({"$inc": {"n": 1}})", R"({"n": 1})"},
      {R"({"n": 1.5})", R"({"$inc": {"n": 1}})", R"({"n": 2.5})"},
      {R"({"n": 9223372036854775807})", R"({"$inc": {"n": 1}})", R"({"n": 9223372036854775808.0})"},
      {R"({"n": 18446744073709551615})", R"({"$inc": {"n": -1}})", R"({"n": 18446744073709551615.0})"},
      {R"({"n": 1e308})", R"({"$inc": {"n": 1e308}})", R"({"n": null})"},
      {R"({"n": 2})", R"({"$inc": {"n": -5}})", R"({"n": -3})"},
      {R"({"a": {"b": 1}})", R"({"$set": {"a.c": 2}, "$unset": {"a.b": 1}})", R"({"a": {"c": 2}})"},
      {R"({"a": [{"b": 1, "c": 2}]})", R"({"$unset": {"a.b": ""}})", R"({"a": [{"c": 2}]})"},
      {R"({"n": 1})", R"({"$inc": {"n": 1}, "$set": {"m": 1}})", R"({"m": 1, "n": 2})"},
      {R"({"n": 1})", R"({"$set": {"n": 5}, "$setOnInsert": {"s": 1}})", R"({"n": 5})"},
      {R"({"n": 1})", R"({"$setOnInsert": 7})", R"({"n": 1})"},
  };
  for (const auto& c : cases) {
    Json doc = J(c.doc);
    apply_update(doc, J(c.update), false);
    EXPECT_EQ(doc, J(c.result)) << c.update;
  }
  Json doc = J(R"({"n": 9223372036854775806})");
  apply_update(doc, J(R"({"$inc": {"n": 1}})"), false);
  EXPECT_TRUE(doc["n"].is_number_integer() && !doc["n"].is_number_unsigned());
  Json seeded = J(R"({"a": 1})");
  apply_update(seeded, J(R"({"$inc": {"a": 1}, "$set": {"b": 1}, "$setOnInsert": {"b": 2, "c": 3}})"), true);
  EXPECT_EQ(seeded, J(R"({"a": 2, "b": 2, "c": 3})"));
}

TEST(ApplyUpdate, Refusals) {
  struct Case {
    const char* doc;
    const char* update;
    const char* message;
  };
  const Case cases[] = {
      {"{}", "[]", "update 必须是对象，收到 array"},
      {"{}", "{}", "没有提供要更新的字段"},
      {"{}", R"({"$set": 1})", "$set 需要对象，收到 number"},
      {"{}", R"({"$unset": []})", "$unset 需要对象，收到 array"},
      {"{}", R"({"$inc": "x"})", "$inc 需要对象，收到 string"},
      {"{}", R"({"$inc": {"n": "1"}})", "$inc 的增量必须是数字，字段 \"n\" 收到 string"},
      {R"({"n": "x"})", R"({"$inc": {"n": 1}})", "$inc 目标字段 \"n\" 非数值（string）：Mongo 语义要求对数值字段自增"},
      {"{}", R"({"$push": {"a": 1}})", "不支持的更新操作符: $push（本地求值器仅支持 $set/$inc/$unset/$setOnInsert，拒绝静默）"},
      {R"({"tags": ["a"]})", R"({"$set": {"tags.0": "x"}})",
       "写入路径 \"tags.0\" 途经的 \"tags\" 是 array 而不是对象（拒绝静默覆盖已有数据）"},
      {R"({"a": [1]})", R"({"$inc": {"a.0": 1}})",
       "写入路径 \"a.0\" 途经的 \"a\" 是 array 而不是对象（拒绝静默覆盖已有数据）"},
      {R"({"a": 1})", R"({"$set": {"": 5}})", "写入路径不能为空（空路径会整体替换文档，拒绝静默覆盖）"},
      {"5", R"({"$set": {"a": 1}})", "要更新的文档必须是对象，收到 number（拒绝静默替换为空文档）"},
  };
  for (const auto& c : cases) {
    Json doc = J(c.doc);
    EXPECT_EQ(error_of([&] { apply_update(doc, J(c.update), false); }), c.message) << c.update;
  }
}

}  // namespace
}  // namespace varnel::local
