#include "local/filter.h"

#include <string>

#include "test_util.h"

namespace varnel::local {
namespace {

using testing::error_of;
using testing::J;

struct MatchCase {
  const char* filter;
  const char* doc;
  bool matches;
};

void expect_cases(const std::vector<MatchCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(matches(J(c.doc), J(c.filter)), c.matches) << c.filter << " on " << c.doc;
  }
}

TEST(Matches, LiteralsAndArrays) {
  expect_cases({
      {R"({"tags": "a"})", R"({"tags": ["a", "b"]})", true},
      {R"({"tags": "a"})", R"({"tags": "a"})", true},
      {R"({"tags": "a"})", R"({"tags": [["a"]]})", false},
      {R"({"tags": ["a", "b"]})", R"({"tags": ["a", "b"]})", true},
      {R"({"tags": ["a", "b"]})", R"({"tags": [["a", "b"], 1]})", true},
      {R"({"a": null})", R"({})", false},
      {R"({"a": null})", R"({"a": null})", true},
      {R"({"a": 1})", R"({"a": 1.0})", true},
      {R"({"a": 1})", R"({"a": true})", false},
      {R"({"a.b": 1})", R"({"a": [{"b": 2}, {"b": 1}]})", true},
      {R"({"a": {"b": 2}})", R"({"a": {"b": 2}})", true},
      {R"({"a": {"b": 2}})", R"({"a": {"b": 2, "c": 1}})", false},
      {R"({"_id": {"$oid": "x"}})", R"({"_id": {"$oid": "x"}})", true},
      {R"({"_id": {"$oid": "x"}})", R"({"_id": "x"})", false},
      {R"({})", R"({"a": 1})", true},
      {"null", R"({"a": 1})", true},
      {R"({"a": 1})", "5", false},
  });
}

TEST(Matches, DigitSegmentsIndexArrays) {
  expect_cases({
      {R"({"a.0": 1})", R"({"a": [1]})", true},
      {R"({"a.1": 1})", R"({"a": [1]})", false},
      {R"({"a.0.b": 2})", R"({"a": [{"b": 2}]})", true},
      {R"({"__rp0__posts.0": {"$exists": true}})", R"({"__rp0__posts": [{"_id": 1, "n": 2}]})", true},
      {R"({"__rp0__posts.0": {"$exists": true}})", R"({"__rp0__posts": []})", false},
      {R"({"__rp0__posts.0": {"$exists": false}})", R"({"__rp0__posts": []})", true},
      {R"({"__rp0__posts.0": {"$exists": false}})", R"({"__rp0__posts": [{"n": 1}]})", false},
  });
}

TEST(Matches, Operators) {
  expect_cases({
      {R"({"a": {"$exists": false}})", R"({})", true},
      {R"({"a": {"$exists": ""}})", R"({"a": 1})", true},
      {R"({"a": {"$exists": 0}})", R"({"a": null})", false},
      {R"({"a": {"$exists": true}})", R"({"a": null})", true},
      {R"({"n": {"$gt": 5}})", R"({"n": [1, 10]})", true},
      {R"({"n": {"$gt": 5}})", R"({"n": [1, 2]})", false},
      {R"({"n": {"$gt": 5}})", R"({"n": "9"})", true},
      {R"({"n": {"$gt": [1]}})", R"({"n": [2]})", true},
      {R"({"n": {"$gte": 2, "$lt": 3}})", R"({"n": 2.5})", true},
      {R"({"n": {"$lte": 2}})", R"({})", false},
      {R"({"n": {"$ne": 3}})", R"({})", true},
      {R"({"n": {"$ne": 3}})", R"({"n": [1, 2]})", true},
      {R"({"n": {"$ne": 3}})", R"({"n": [3, 4]})", false},
      {R"({"n": {"$eq": [3, 4]}})", R"({"n": [3, 4]})", true},
      {R"({"n": {"$nin": []}})", R"({"n": 1})", true},
      {R"({"n": {"$in": []}})", R"({"n": 1})", false},
      {R"({"n": {"$in": [5, 1.0]}})", R"({"n": [3, 1]})", true},
      {R"({"n": {"$nin": [5, 1]}})", R"({})", true},
      {R"({"n": {"$not": {"$gt": 2}}})", R"({"n": 1})", true},
      {R"({"n": {"$not": 1}})", R"({"n": 1})", false},
      {R"({"name": {"$regex": "^ab", "$options": "i"}})", R"({"name": "ABc"})", true},
      {R"({"name": {"$regex": "b"}})", R"({"name": ["x", 1, "abc"]})", true},
      {R"({"name": {"$regex": "b", "$options": null}})", R"({"name": 5})", false},
      {R"({"s": {"$regex": "^b$", "$options": "m"}})", R"({"s": "a\nb"})", true},
      {R"({"s": {"$regex": "a.b", "$options": "s"}})", R"({"s": "a\nb"})", true},
      {R"({"s": {"$regex": "a.b"}})", R"({"s": "a\nb"})", false},
  });
}

TEST(Matches, InOverManyMembersUsesTheSameEquality) {
  Json members = Json::array();
  for (int i = 0; i < 100; ++i) members.push_back(i * 2);
  members.push_back(J(R"({"$oid": "abc"})"));
  members.push_back("x");
  Json filter = {{"n", {{"$in", members}}}};
  Matcher m;
  EXPECT_TRUE(m.matches(J(R"({"n": 40.0})"), filter));
  EXPECT_TRUE(m.matches(J(R"({"n": {"$numberLong": "8"}})"), filter));
  EXPECT_TRUE(m.matches(J(R"({"n": [3, {"$oid": "abc"}]})"), filter));
  EXPECT_FALSE(m.matches(J(R"({"n": 41})"), filter));
  EXPECT_FALSE(m.matches(J(R"({})"), filter));
  Json negated = {{"n", {{"$nin", members}}}};
  EXPECT_TRUE(m.matches(J(R"({"n": "y"})"), negated));
  EXPECT_FALSE(m.matches(J(R"({"n": "x"})"), negated));
}

TEST(Matches, LogicalKeysAndExpr) {
  expect_cases({
      {R"({"$or": []})", R"({"a": 1})", false},
      {R"({"$and": []})", R"({"a": 1})", true},
      {R"({"$or": [{"a": 2}, {"a": 1}]})", R"({"a": 1})", true},
      {R"({"$nor": [{"a": 2}]})", R"({"a": 1})", true},
      {R"({"$nor": [{"a": 1}]})", R"({"a": 1})", false},
      {R"({"$and": [{"a": 1}], "b": 2})", R"({"a": 1})", false},
      {R"({"$expr": {"$eq": ["$a", "$b"]}})", R"({"a": 1, "b": 1.0})", true},
      {R"({"$expr": {"$eq": ["$a", "$b"]}})", R"({"a": 1, "b": 2})", false},
  });
  Json vars = J(R"({"v": 3})");
  EXPECT_TRUE(matches_with_vars(J(R"({"k": 3})"), J(R"({"$expr": {"$eq": ["$k", "$$v"]}})"), vars));
}

TEST(Matches, Refusals) {
  struct Case {
    const char* filter;
    const char* message;
  };
  const Case cases[] = {
      {"5", "filter 必须是对象或 null，收到 number（拒绝静默按「无过滤」处理）"},
      {"[]", "filter 必须是对象或 null，收到 array（拒绝静默按「无过滤」处理）"},
      {R"({"$or": {}})", "$or 需要数组"},
      {R"({"$and": 1})", "$and 需要数组"},
      {R"({"$nor": []})", "$nor 需要非空数组"},
      {R"({"$expr": "$a"})", "$expr 必须求值为布尔，收到 string（拒绝静默按真值处理）"},
      {R"({"$size": 1})", "不支持的过滤操作符: $size（本地求值器仅支持顶层 $and/$or/$nor/$expr，拒绝静默丢弃）"},
      {R"({"a": {"$size": 2}})", "不支持的过滤条件操作符: $size（本地求值器拒绝静默丢弃）"},
      {R"({"a": {"$gt": 1, "b": 2}})", "不支持的过滤条件操作符: b（本地求值器拒绝静默丢弃）"},
      {R"({"a": {"$elemMatch": {}}})", "不支持的过滤条件操作符: $elemMatch（本地求值器拒绝静默丢弃）"},
      {R"({"a": {"$in": 3}})", "$in 需要数组，收到 number"},
      {R"({"a": {"$nin": "x"}})", "$nin 需要数组，收到 string"},
      {R"({"a": {"$options": "i"}})", "$options 出现在没有 $regex 的条件中，该修饰符无法生效"},
      {R"({"a": {"$regex": 5}})", "$regex 需要字符串模式，收到 number"},
      {R"({"a": {"$regex": 5, "$options": "i"}})", "$regex 需要字符串模式，收到 number"},
      {R"({"a": {"$regex": "x", "$options": 1}})", "$options 需要字符串，收到 number"},
      {R"({"a": {"$regex": "x", "$options": "ix"}})", "不支持的 $regex 修饰符: 'x'（本地求值器仅支持 i/m/s，拒绝静默）"},
      {R"({"a": {"$regex": "x", "$options": "é"}})", "不支持的 $regex 修饰符: 'é'（本地求值器仅支持 i/m/s，拒绝静默）"},
      {R"({"a": {"$not": {"$bad": 1}}})", "不支持的过滤条件操作符: $bad（本地求值器拒绝静默丢弃）"},
      {R"({"$and": [{"a": {"$in": 1}}]})", "$in 需要数组，收到 number"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { matches(J(R"({"a": "x"})"), J(c.filter)); }), c.message) << c.filter;
  }
}

TEST(Matches, BadPatternNamesThePatternAndTheEngineError) {
  std::string message = error_of(
      [&] { matches(J(R"({"a": "x"})"), J(R"({"a": {"$regex": "(a", "$options": "i"}})")); });
  EXPECT_EQ(message.rfind("$regex 模式非法: (a（", 0), 0u) << message;
  EXPECT_NE(message.find("missing )"), std::string::npos) << message;
  // Lookaround is outside the linear-time engine's syntax.
  std::string lookahead =
      error_of([&] { matches(J(R"({"a": "x"})"), J(R"x({"a": {"$regex": "(?=a)"}})x")); });
  EXPECT_EQ(lookahead.rfind("$regex 模式非法: (?=a)（", 0), 0u) << lookahead;
}

TEST(Matches, PathologicalPatternOnALongStringFinishes) {
  Json doc = {{"s", std::string(100000, 'a')}};
  EXPECT_FALSE(matches(doc, J(R"x({"s": {"$regex": "^(a+)+$b"}})x")));
  EXPECT_FALSE(matches(doc, J(R"x({"s": {"$regex": "(a|aa)*c"}})x")));
}

TEST(Matches, ErrorsOnlyWhereEvaluationReaches) {
  // The first key already fails, so the unsupported operator behind it is
  // never looked at.
  EXPECT_FALSE(matches(J(R"({"a": 1})"), J(R"({"a": 2, "b": {"$bad": 1}})")));
  EXPECT_FALSE(matches(J(R"({"a": 1})"), J(R"({"$or": [{"a": 2}], "$nor": []})")));
}

TEST(Matches, DeepNestingIsRefusedNotACrash) {
  Json filter = J(R"({"a": 1})");
  for (int i = 0; i < 2000; ++i) filter = Json{{"$and", Json::array({filter})}};
  EXPECT_EQ(error_of([&] { matches(J(R"({"a": 1})"), filter); }), "过滤条件嵌套超过上限 512 层");
  Json cond = 1;
  for (int i = 0; i < 2000; ++i) cond = Json{{"$not", cond}};
  EXPECT_EQ(error_of([&] { matches(J(R"({"a": 1})"), Json{{"a", cond}}); }), "过滤条件嵌套超过上限 512 层");
}

}  // namespace
}  // namespace varnel::local
