#include "local/pipeline.h"

#include "test_util.h"

namespace varnel::local {
namespace {

using testing::error_of;
using testing::J;

Json run_on(const std::string& rows, const std::string& stages,
            const std::string& others = "{}") {
  Json collections = J(others);
  collections["c"] = J(rows);
  return run(collections, "c", J(stages));
}

std::string run_error(const std::string& rows, const std::string& stages) {
  return error_of([&] { run_on(rows, stages); });
}

Json eval(const std::string& expr, const std::string& doc = "{}", const std::string& vars = "{}") {
  return eval_expr(J(expr), J(doc), J(vars));
}

TEST(Expressions, ValuesReferencesAndOperators) {
  struct Case {
    const char* expr;
    const char* doc;
    const char* result;
  };
  const Case cases[] = {
      {"5", "{}", "5"},
      {R"("")", "{}", R"("")"},
      {R"("plain")", "{}", R"("plain")"},
      {R"("$a.b")", R"({"a": {"b": 2}})", "2"},
      {R"("$missing")", "{}", "null"},
      {R"("$a.b")", R"({"a": [{"b": 1}, {"c": 2}]})", "[1]"},
      {R"("$a.0")", R"({"a": [7, 8]})", "[]"},
      {R"("$a.b.c")", R"({"a": [{"b": [{"c": 1}, {"c": 2}]}, {"b": {"c": 3}}]})", "[[1, 2], 3]"},
      {R"("$a")", R"({"a": [1, 2]})", "[1, 2]"},
      {R"({"$oid": "x"})", "{}", R"({"$oid": "x"})"},
      {R"({"k": "$a", "n": [1, "$a"]})", R"({"a": 3})", R"({"k": 3, "n": [1, 3]})"},
      {R"({"$eq": ["$a", 1.0]})", R"({"a": 1})", "true"},
      {R"({"$and": [1, "x", []]})", "{}", "true"},
      {R"({"$and": [1, 0]})", "{}", "false"},
      {R"({"$and": []})", "{}", "true"},
      {R"({"$or": []})", "{}", "false"},
      {R"({"$or": [null, {"$eq": [1, 1]}]})", "{}", "true"},
      {R"({"$in": [[1, 2], [[1, 2], 3]]})", "{}", "false"},
      {R"({"$in": [2, [1, 2]]})", "{}", "true"},
      {R"({"$in": [[5, 2], [1, 2]]})", "{}", "true"},
      {R"({"$ifNull": ["$a", "d"]})", "{}", R"("d")"},
      {R"({"$ifNull": ["$a", {"$bad": 1}]})", R"({"a": 0})", "0"},
      {R"({"$cond": [null, "a", "b"]})", "{}", R"("b")"},
      {R"({"$cond": ["", "a", "b"]})", "{}", R"("a")"},
      {R"({"$cond": {"if": {"$eq": [1, 1]}, "then": "y", "else": {"$bad": 1}}})", "{}", R"("y")"},
      {R"({"$isArray": "$a"})", R"({"a": []})", "true"},
      {R"({"$isArray": "$a"})", R"({"a": {}})", "false"},
      {R"({"$size": "$a"})", R"({"a": [1, 2]})", "2"},
      {R"({"$arrayElemAt": [[1, 2, 3], -1]})", "{}", "3"},
      {R"({"$arrayElemAt": [[1, 2, 3], -4]})", "{}", "null"},
      {R"({"$arrayElemAt": [[1, 2, 3], 3]})", "{}", "null"},
      {R"({"$arrayElemAt": ["$__rows", 0]})", R"({"__rows": [{"n": 1}]})", R"({"n": 1})"},
      {R"({"$sum": "$a"})", R"({"a": [1, 2.5, "3"]})", "3.5"},
      {R"({"$sum": "$a"})", R"({"a": 4})", "4"},
      {R"({"$sum": []})", "{}", "0"},
      {R"({"$sum": "$t.amount"})", R"({"t": [{"amount": 2}, {"amount": 5}, {}]})", "7"},
      {R"({"$avg": "$t.amount"})", R"({"t": [{"amount": 2}, {"amount": 4}]})", "3.0"},
      {R"({"$avg": "$t.amount"})", R"({"t": []})", "null"},
      {R"({"$min": "$t.v"})", R"({"t": [{"v": 3}, {"v": null}, {"v": 1}]})", "1"},
      {R"({"$max": "$t.v"})", R"({"t": [{"v": 3}, {"v": "a"}]})", R"("a")"},
      {R"({"$max": "$t"})", R"({"t": []})", "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.expr, c.doc), J(c.result)) << c.expr;
  EXPECT_EQ(eval(R"({"$sum": "$a"})", R"({"a": [1, 2]})").type(), Json::value_t::number_unsigned);
  EXPECT_EQ(eval(R"({"$sum": "$a"})", R"({"a": [-1, -2]})").type(), Json::value_t::number_integer);
  EXPECT_TRUE(eval(R"({"$sum": "$a"})", R"({"a": [1.5, 1.5]})").is_number_integer());
  EXPECT_TRUE(eval(R"({"$sum": "$a"})", R"({"a": [1e300, 1e300, 1e300]})").is_number_float());
}

TEST(Expressions, Variables) {
  EXPECT_EQ(eval(R"("$$v.x")", "{}", R"({"v": {"x": 5}})"), 5);
  EXPECT_EQ(eval(R"("$$v")", "{}", R"({"v": [1]})"), J("[1]"));
  EXPECT_EQ(eval(R"("$$unbound")", "{}", R"({})"), Json());
  EXPECT_EQ(eval(R"("$$v.x")", "{}", R"({"v": [{"x": 1}]})"), Json());  // variable paths stay plain
  EXPECT_EQ(eval(R"("$$CURRENT")", R"({"a": 1})", R"({})"), Json());
}

TEST(Expressions, Refusals) {
  struct Case {
    const char* expr;
    const char* message;
  };
  const Case cases[] = {
      {R"({"$eq": 1})", "$eq 需要操作数数组"},
      {R"({"$eq": [1]})", "$eq 需要恰好两个操作数，收到 1"},
      {R"({"$and": 1})", "$and 需要操作数数组"},
      {R"({"$in": [1, 2]})", "$in 的第二个操作数必须是数组"},
      {R"({"$cond": [1, 2]})", "$cond 数组形态需要 3 个操作数，收到 2"},
      {R"({"$cond": {"if": 0, "then": "a"}})", "$cond 对象形态缺少 \"else\""},
      {R"({"$cond": {"then": 0}})", "$cond 对象形态缺少 \"if\""},
      {R"({"$cond": 1})", "$cond 需要数组 [if, then, else] 或对象 {if, then, else}"},
      {R"({"$size": "x"})", "$size 的操作数必须是数组，收到 string"},
      {R"({"$arrayElemAt": [[1], 1.0]})", "$arrayElemAt 的下标必须是整数"},
      {R"({"$arrayElemAt": ["x", 1.0]})", "$arrayElemAt 的下标必须是整数"},
      {R"({"$arrayElemAt": ["x", 0]})", "$arrayElemAt 的第一个操作数必须是数组"},
      {R"({"$concat": ["a"]})",
       "不支持的聚合表达式算子: $concat（本地求值器仅支持 "
       "$eq/$and/$or/$ifNull/$cond/$isArray/$in/$arrayElemAt/$size/$sum/$avg/$min/$max，拒绝静默）"},
      {R"({"$minKey": 1})",
       "不支持的聚合表达式算子: $minKey（本地求值器仅支持 "
       "$eq/$and/$or/$ifNull/$cond/$isArray/$in/$arrayElemAt/$size/$sum/$avg/$min/$max，拒绝静默）"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of([&] { eval(c.expr); }), c.message) << c.expr;
  Json deep = 1;
  for (int i = 0; i < 2000; ++i) deep = Json{{"$sum", Json::array({deep})}};
  EXPECT_EQ(error_of([&] { eval_expr(deep, Json::object(), Json::object()); }),
            "表达式嵌套超过上限 512 层");
}

TEST(Canonical, GroupKeyTexts) {
  EXPECT_EQ(canonical(J("null")), "z~");
  EXPECT_EQ(canonical(J("true")), "b~true");
  EXPECT_EQ(canonical(J("1")), canonical(J("1.0")));
  EXPECT_EQ(canonical(J("1")), "n~1");
  EXPECT_EQ(canonical(J("0.5")), "n~0.5");
  EXPECT_EQ(canonical(J("1e21")), "n~1000000000000000000000");
  EXPECT_EQ(canonical(J(R"("a\"b")")), R"(s~"a\"b")");
  EXPECT_EQ(canonical(J(R"([1, "x"])")), R"(a~[n~1,s~"x"])");
  EXPECT_EQ(canonical(J(R"({"b": null, "a": [true]})")), "o~{a:a~[b~true],b:z~}");
}

TEST(Stages, MatchSortSkipLimit) {
  const char* rows = R"([{"a": 2, "b": 1}, {"a": 1, "b": 2}, {"a": 3, "b": 1}, {"b": 0}])";
  EXPECT_EQ(run_on(rows, R"([{"$sort": [["b", 1], ["a", -1]]}])"),
            J(R"([{"b": 0}, {"a": 3, "b": 1}, {"a": 2, "b": 1}, {"a": 1, "b": 2}])"));
  EXPECT_EQ(run_on(rows, R"([{"$sort": {"a": 0}}, {"$skip": 1}, {"$limit": 2.0}])"),
            J(R"([{"a": 1, "b": 2}, {"a": 2, "b": 1}])"));
  EXPECT_EQ(run_on(rows, R"([{"$sort": {"b": -1}}, {"$limit": 1}])"), J(R"([{"a": 1, "b": 2}])"));
  EXPECT_EQ(run_on(rows, R"([{"$sort": {"b": -0.5}}, {"$limit": 2}])"),
            J(R"([{"b": 0}, {"a": 2, "b": 1}])"));
  EXPECT_EQ(run_on(rows, R"([{"$match": {"b": 1}}, {"$skip": 18446744073709551615}])"), J("[]"));
  EXPECT_EQ(run_on(R"([{"t": [3, 1]}, {"t": [2]}, {"t": []}])", R"([{"$sort": {"t": -1}}])"),
            J(R"([{"t": [2]}, {"t": [3, 1]}, {"t": []}])"));
}

TEST(Stages, SortKeepsInputOrderOfEqualRowsWithAndWithoutLimit) {
  Json rows = Json::array();
  for (int i = 0; i < 50; ++i) rows.push_back({{"k", i % 3}, {"i", i}});
  Json full = run_on(rows.dump(), R"([{"$sort": {"k": -1}}])");
  Json top = run_on(rows.dump(), R"([{"$sort": {"k": -1}}, {"$limit": 7}])");
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(top[i], full[i]);
  for (std::size_t i = 1; i < full.size(); ++i) {
    if (full[i]["k"] == full[i - 1]["k"]) EXPECT_LT(full[i - 1]["i"], full[i]["i"]);
  }
}

TEST(Stages, Project) {
  struct Case {
    const char* rows;
    const char* spec;
    const char* result;
  };
  const Case cases[] = {
      {R"([{"_id": 1, "a": 1, "b": 2}])", R"({"_id": 0, "a": 1})", R"([{"a": 1}])"},
      {R"([{"_id": 1, "a": 1, "b": 2}])", R"({"a": true})", R"([{"_id": 1, "a": 1}])"},
      {R"([{"_id": 1, "a": 1, "b": 2}])", R"({"b": 0})", R"([{"_id": 1, "a": 1}])"},
      {R"([{"_id": 1, "a": 1}])", R"({"_id": 1})", R"([{"_id": 1}])"},
      {R"([{"_id": 1, "a": 1}])", R"({"_id": false})", R"([{"a": 1}])"},
      {R"([{"_id": 1, "a": 1}])", R"({"a": 0, "_id": 1})", R"([{"_id": 1}])"},
      {R"([{"a": 1}])", R"({})", R"([{"a": 1}])"},
      {R"([{"a": [{"b": 1, "c": 2}, 3]}])", R"({"a.b": 1})", R"([{"a": [{"b": 1}]}])"},
      {R"([{"a": [{"b": 1, "c": 2, "d": 0}, {"b": 3}, {"x": 1}]}])", R"({"a.b": 1, "a.c": 1})",
       R"([{"a": [{"b": 1, "c": 2}, {"b": 3}]}])"},
      {R"([{"a": [{"b": [{"x": 1, "y": 2}]}]}])", R"({"a.b.x": 1, "a.b.y": 1})",
       R"([{"a": [{"b": [{"x": 1, "y": 2}]}]}])"},
      {R"([{"a": {"c": 1}}])", R"({"a.b": 1})", R"([{}])"},
      {R"([{"a": [1, 2]}])", R"({"a.b": 1})", R"([{"a": []}])"},
      {R"([{"a": {"x": 1, "y": 2}}])", R"({"a": 1, "a.x": 1})", R"([{"a": {"x": 1, "y": 2}}])"},
      {R"([{"_id": 1, "a": 1}])", R"({"x": "$a", "b": 0})", R"([{"_id": 1, "x": 1}])"},
      {R"([{"_id": 1, "a": 1, "b": {"c": 2}}])", R"({"_id": 0, "b.c": 1, "s": {"$sum": [1, "$a"]}, "p.q": "$a"})",
       R"([{"b": {"c": 2}, "s": 2, "p.q": 1}])"},
      {R"([{"_id": 5, "k": 1}])", R"({"_id": "$k"})", R"([{"_id": 1}])"},
      {R"([{"a": [{"b": 1, "c": 2}], "n": 1}])", R"({"a.b": 0})", R"([{"a": [{"c": 2}], "n": 1}])"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run_on(c.rows, format(R"([{"$project": {}}])", {c.spec})), J(c.result)) << c.spec;
  }
  EXPECT_EQ(apply_projection(J(R"({"_id": 1, "a": {"b": 1, "c": 2}})"), J(R"({"a.c": 1})")),
            J(R"({"_id": 1, "a": {"c": 2}})"));
}

TEST(Stages, ProjectRefusals) {
  const char* row = R"([{"a": 1}])";
  EXPECT_EQ(run_error(row, R"([{"$project": {"a": 1, "b": 0}}])"),
            "投影不允许同时包含与排除字段（`_id` 除外）");
  EXPECT_EQ(run_error(row, R"([{"$project": {"a": 1, "b": 0, "c": "$a"}}])"),
            "投影不允许同时包含与排除字段（`_id` 除外）");
  EXPECT_EQ(run_error(row, R"([{"$project": 5}])"), "投影必须是对象，收到 number");
  EXPECT_EQ(error_of([] { apply_projection(J("{}"), J(R"({"a": 2})")); }),
            "投影值必须是 0/1 或 false/true，收到 2");
  EXPECT_EQ(error_of([] { apply_projection(J("{}"), J(R"({"a": "$b"})")); }),
            "不支持的投影形态: \"$b\"（本地求值器仅支持包含/排除，拒绝静默）");
  EXPECT_EQ(run_on("[]", R"([{"$project": {"a": 1, "b": 0}}])"), J("[]"));
}

TEST(Stages, AddFieldsAndReplaceRoot) {
  EXPECT_EQ(run_on(R"([{"a": 5}])", R"([{"$addFields": {"a": 1, "b": "$a"}}])"),
            J(R"([{"a": 1, "b": 1}])"));
  EXPECT_EQ(run_on(R"([{"a": 5}])", R"([{"$set": {"x.y": "$a"}}])"), J(R"([{"a": 5, "x": {"y": 5}}])"));
  EXPECT_EQ(run_error(R"([{"a": [1]}])", R"([{"$set": {"a.0": 2}}])"),
            "写入路径 \"a.0\" 途经的 \"a\" 是 array 而不是对象（拒绝静默覆盖已有数据）");
  EXPECT_EQ(run_error("[]", R"([{"$addFields": 1}])"), "$addFields 需要对象，收到 number");
  EXPECT_EQ(run_on(R"([{"a": {"b": 1}}])", R"([{"$replaceRoot": {"newRoot": "$a"}}])"), J(R"([{"b": 1}])"));
  EXPECT_EQ(run_error(R"([{"a": 1}])", R"([{"$replaceRoot": {"newRoot": "$a"}}])"),
            "$replaceRoot.newRoot 求值结果必须是文档，收到 number");
  EXPECT_EQ(run_error("[]", R"([{"$replaceRoot": {}}])"), "$replaceRoot 缺少 newRoot");
  EXPECT_EQ(run_error("[]", R"([{"$replaceRoot": 1}])"), "$replaceRoot 需要对象，收到 number");
}

TEST(Stages, Unwind) {
  const char* rows = R"([{"tags": [1, 2]}, {"tags": []}, {}, {"tags": 5}, {"tags": null}])";
  EXPECT_EQ(run_on(rows, R"([{"$unwind": {"path": "$tags"}}])"),
            J(R"([{"tags": 1}, {"tags": 2}, {"tags": 5}])"));
  EXPECT_EQ(run_on(rows, R"([{"$unwind": {"path": "$tags", "preserveNullAndEmptyArrays": true}}])"),
            J(R"([{"tags": 1}, {"tags": 2}, {}, {}, {"tags": 5}, {}])"));
  EXPECT_EQ(run_on(R"([{"a": {"b": [1, 2]}}])", R"([{"$unwind": {"path": "a.b"}}])"),
            J(R"([{"a": {"b": 1}}, {"a": {"b": 2}}])"));
  // A path that crosses an array designates nothing: the kept row is intact.
  EXPECT_EQ(run_on(R"([{"a": [{"b": 1, "c": 2}]}])",
                   R"([{"$unwind": {"path": "$a.b", "preserveNullAndEmptyArrays": true}}])"),
            J(R"([{"a": [{"b": 1, "c": 2}]}])"));
  EXPECT_EQ(run_error("[]", R"([{"$unwind": "$tags"}])"), "$unwind 需要对象，收到 string");
  EXPECT_EQ(run_error("[]", R"([{"$unwind": {"path": 1}}])"), "$unwind 缺少 path");
  EXPECT_EQ(run_error("[]", R"([{"$unwind": {"path": "a", "preserveNullAndEmptyArrays": 1}}])"),
            "$unwind.preserveNullAndEmptyArrays 必须是布尔，收到 number");
}

TEST(Stages, LookupEqualityForm) {
  const char* others = R"({"f": [{"_id": 1, "k": null}, {"_id": 2}, {"_id": 3, "k": 1},
                                 {"_id": 4, "k": [2, 1.0]}, {"_id": 5, "k": {"$numberLong": "2"}}]})";
  Json out = run_on(R"([{"_id": "x"}, {"_id": "y", "k": 1}, {"_id": "z", "k": [2, 9]}, {"_id": "w", "k": []}])",
                    R"([{"$lookup": {"from": "f", "localField": "k", "foreignField": "k", "as": "m"}},
                        {"$project": {"ids": "$m._id"}}])",
                    others);
  EXPECT_EQ(out, J(R"([{"_id": "x", "ids": [1]}, {"_id": "y", "ids": [3, 4]}, {"_id": "z", "ids": [4, 5]},
                       {"_id": "w", "ids": [1]}])"));
  EXPECT_EQ(run_on(R"([{"k": 1}])", R"([{"$lookup": {"from": "none", "localField": "k", "as": "m"}}])"),
            J(R"([{"k": 1, "m": []}])"));
}

TEST(Stages, LookupPipelineFormAsThePlannerEmitsIt) {
  const char* others = R"({"posts": [{"_id": 10, "authorId": 1, "n": 5}, {"_id": 11, "authorId": 1, "n": 7},
                                     {"_id": 12, "authorId": 2, "n": 1}]})";
  const char* users = R"([{"_id": 1}, {"_id": 2}, {"_id": 3}])";
  // A relation predicate: authors with more than one post.
  Json pred = run_on(users, R"([
      {"$lookup": {"as": "__rp0__posts", "from": "posts", "let": {"rel__id": {"$ifNull": ["$_id", null]}},
                   "pipeline": [{"$match": {"$expr": {"$eq": ["$authorId", "$$rel__id"]}}},
                                {"$group": {"_id": "$authorId", "n": {"$sum": 1}}},
                                {"$match": {"n": {"$gt": 1}}}]}},
      {"$match": {"__rp0__posts.0": {"$exists": true}}},
      {"$project": {"_id": 1}}])", others);
  EXPECT_EQ(pred, J(R"([{"_id": 1}])"));
  Json negated = run_on(users, R"([
      {"$lookup": {"as": "__rp0__posts", "from": "posts", "let": {"rel__id": {"$ifNull": ["$_id", null]}},
                   "pipeline": [{"$match": {"$expr": {"$eq": ["$authorId", "$$rel__id"]}}},
                                {"$group": {"_id": "$authorId", "n": {"$sum": 1}}},
                                {"$match": {"n": {"$gt": 0}}}]}},
      {"$match": {"__rp0__posts.0": {"$exists": false}}},
      {"$project": {"_id": 1}}])", others);
  EXPECT_EQ(negated, J(R"([{"_id": 3}])"));
  // An aggregate compute: the sum of a relation's field.
  Json totals = run_on(users, R"([
      {"$lookup": {"as": "_total", "from": "posts", "let": {"aggv": {"$ifNull": ["$_id", null]}},
                   "pipeline": [{"$match": {"$expr": {"$eq": ["$authorId", "$$aggv"]}}}]}},
      {"$addFields": {"total": {"$cond": [{"$eq": [{"$size": {"$ifNull": ["$_total", []]}}, 0]}, null,
                                          {"$sum": "$_total.n"}]},
                      "top": {"$max": "$_total.n"}, "mean": {"$avg": "$_total.n"},
                      "count": {"$size": {"$ifNull": ["$_total", []]}}}},
      {"$project": {"total": 1, "top": 1, "mean": 1, "count": 1}}])", others);
  EXPECT_EQ(totals, J(R"([{"_id": 1, "count": 2, "mean": 6.0, "top": 7, "total": 12},
                          {"_id": 2, "count": 1, "mean": 1.0, "top": 1, "total": 1},
                          {"_id": 3, "count": 0, "mean": null, "top": null, "total": null}])"));
}

TEST(Stages, LookupRefusals) {
  EXPECT_EQ(run_error("[]", R"([{"$lookup": 1}])"), "$lookup 需要对象，收到 number");
  EXPECT_EQ(run_error("[]", R"([{"$lookup": {"as": "m"}}])"), "$lookup 缺少 from");
  EXPECT_EQ(run_error("[]", R"([{"$lookup": {"from": "f"}}])"), "$lookup 缺少 as");
  EXPECT_EQ(run_error("[]", R"([{"$lookup": {"from": "f", "as": "m"}}])"),
            "$lookup 需要 localField/foreignField 或 pipeline 之一");
  EXPECT_EQ(run_error(R"([{"k": 1}])", R"([{"$lookup": {"from": "f", "as": "m", "localField": 5}}])"),
            "$lookup 的 localField 必须是字符串，收到 number（没有 pipeline 时无法确定连接条件，拒绝静默连接全部外表行）");
  EXPECT_EQ(run_error(R"([{"k": 1}])", R"([{"$lookup": {"from": "f", "as": "m", "pipeline": {}}}])"),
            "$lookup 的 pipeline 必须是阶段数组，收到 object");
  EXPECT_EQ(run_error("[]", R"([{"$lookup": {"from": "c", "as": "m", "pipeline": []}}])"), "");
}

TEST(Stages, Group) {
  EXPECT_EQ(run_on(R"([{"k": 1}, {"k": "1"}, {"k": 1.0}, {}])",
                   R"([{"$group": {"_id": "$k", "n": {"$sum": 1}}}])"),
            J(R"([{"_id": 1, "n": 2}, {"_id": "1", "n": 1}, {"_id": null, "n": 1}])"));
  EXPECT_EQ(run_on(R"([{"x": 1}, {"x": 2.5}, {"x": "3"}, {"x": [4]}])",
                   R"([{"$group": {"_id": null, "s": {"$sum": "$x"}, "a": {"$avg": "$x"},
                                  "lo": {"$min": "$x"}, "hi": {"$max": "$x"}}}])"),
            J(R"([{"_id": null, "s": 3.5, "a": 1.75, "lo": 1, "hi": [4]}])"));
  EXPECT_EQ(run_on("[]", R"([{"$group": {"_id": null, "n": {"$sum": 1}}}])"), J("[]"));
  EXPECT_EQ(run_on(R"([{"a": {"x": 1}, "b": 2}, {"a": {"x": 1}, "b": 3}])",
                   R"([{"$group": {"_id": {"a": "$a", "b": "$b"}}}])"),
            J(R"([{"_id": {"a": {"x": 1}, "b": 2}}, {"_id": {"a": {"x": 1}, "b": 3}}])"));
}

TEST(Stages, GroupWithoutKeysYieldsOneRowOverNoInput) {
  const char* stages = R"([{"$group": {"_id": null, "total": {"$sum": 1}}},
                          {"$facet": {"__rows": []}},
                          {"$replaceRoot": {"newRoot": {"$ifNull": [{"$arrayElemAt": ["$__rows", 0]},
                                                                    {"_id": null, "total": 0}]}}},
                          {"$project": {"_id": 0, "total": 1}}])";
  EXPECT_EQ(run_on("[]", stages), J(R"([{"total": 0}])"));
  EXPECT_EQ(run_on(R"([{}, {}])", stages), J(R"([{"total": 2}])"));
}

TEST(Stages, GroupRefusals) {
  EXPECT_EQ(run_error("[]", R"([{"$group": 1}])"), "$group 需要对象，收到 number");
  EXPECT_EQ(run_error("[]", R"([{"$group": {"n": {"$sum": 1}}}])"),
            "$group 缺少 _id（Mongo 要求显式分组键，全表单组写 null）");
  EXPECT_EQ(run_error("[]", R"([{"$group": {"_id": null, "n": 1}}])"),
            "$group 累积器 \"n\" 的定义必须是对象");
  EXPECT_EQ(run_error("[]", R"([{"$group": {"_id": null, "n": {"$sum": 1, "$avg": 1}}}])"),
            "$group 累积器 \"n\" 必须恰有一个算子键");
  EXPECT_EQ(run_error("[]", R"([{"$group": {"_id": null, "t": {"$count": {}}}}])"),
            "不支持的 $group 累积器算子 $count（本地求值器仅支持 $sum/$avg/$min/$max，$count 由 core "
            "展开为 $sum，拒绝静默）");
}

TEST(Stages, FacetAndStageShapes) {
  EXPECT_EQ(run_on(R"([{"a": 1}, {"a": 2}])", R"([{"$facet": {"x": [{"$match": {"a": 2}}], "all": []}}])"),
            J(R"([{"all": [{"a": 1}, {"a": 2}], "x": [{"a": 2}]}])"));
  EXPECT_EQ(run_error("[]", R"([{"$facet": {"x": 1}}])"), "$facet 的子管道 \"x\" 必须是阶段数组");
  EXPECT_EQ(run_error("[]", R"([{"$facet": []}])"), "$facet 需要对象，收到 array");
  EXPECT_EQ(run_error("[]", R"([{"$match": {}, "$limit": 1}])"),
            "管道阶段必须恰有一个键，收到 2 个（{\"$limit\":1,\"$match\":{}}）");
  EXPECT_EQ(run_error("[]", R"([5])"), "管道阶段必须是单键对象，收到 number");
  EXPECT_EQ(run_error("[]", R"([{"$count": "n"}])"),
            "不支持的聚合阶段 $count（本地求值器拒绝静默跳过；支持 "
            "$match/$sort/$skip/$limit/$project/$unwind/$lookup/$group/$addFields/$set/$facet/"
            "$replaceRoot）");
  EXPECT_EQ(run_error("[]", R"([{"$skip": -1}])"), "$skip 不能为负数（-1）");
  EXPECT_EQ(run_error("[]", R"([{"$skip": -2.0}])"), "$skip 不能为负数（-2）");
  EXPECT_EQ(run_error("[]", R"([{"$limit": 2.5}])"), "$limit 需要整数，收到 number");
  EXPECT_EQ(run_error("[]", R"([{"$limit": "1"}])"), "$limit 需要整数，收到 string");
  EXPECT_EQ(run_error("[]", R"([{"$sort": {"a": "asc"}}])"),
            "$sort 的方向必须是数字，字段 \"a\" 收到 string");
  EXPECT_EQ(run_error("[]", R"([{"$sort": [1]}])"), "$sort 数组形态的元素必须是 [键, 方向]");
  EXPECT_EQ(run_error("[]", R"([{"$sort": [[1, 1]]}])"), "$sort 数组形态的键必须是字符串");
  EXPECT_EQ(run_error("[]", R"([{"$sort": [[]]}])"), "$sort 数组形态的键必须是字符串");
  EXPECT_EQ(run_error("[]", R"([{"$sort": [["a"]]}])"), "$sort 数组形态缺少方向");
  EXPECT_EQ(run_error("[]", R"([{"$sort": 1}])"), "$sort 需要对象或 [键, 方向] 数组，收到 number");
}

TEST(Run, CollectionsAndNesting) {
  EXPECT_EQ(error_of([] { run(J("[]"), "c", J("[]")); }),
            "collections 必须是对象 {集合名: [文档…]}，收到 array");
  EXPECT_EQ(error_of([] { run(J(R"({"c": 5})"), "c", J("[]")); }),
            "集合 \"c\" 必须是文档数组，收到 number");
  EXPECT_EQ(run(J("{}"), "c", J("[]")), J("[]"));
  Json stages = Json::array();
  for (int i = 0; i < 600; ++i) stages = Json::array({Json{{"$facet", Json{{"f", stages}}}}});
  EXPECT_EQ(error_of([&] { run(J("{}"), "c", stages); }), "聚合管道嵌套超过上限 512 层");
  Json collections = J(R"({"c": [{"a": 1}]})");
  Json before = collections;
  run(collections, "c", J(R"([{"$set": {"a": 2}}, {"$unwind": {"path": "$a"}}])"));
  EXPECT_EQ(collections, before);
}

}  // namespace
}  // namespace varnel::local
