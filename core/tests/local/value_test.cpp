#include "local/value.h"

#include <algorithm>
#include <cmath>

#include "test_util.h"

namespace varnel::local {
namespace {

using testing::error_of;
using testing::J;

int sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

TEST(Compare, SortsAcrossTypesByRank) {
  Json values = J(R"([true, "a", 2, null, {"$oid": "x"}, [1], {"k": 1}, {"$maxKey": 1},
                     {"$minKey": 1}, {"$date": 1}, {"$timestamp": {"t": 1, "i": 1}},
                     {"$regularExpression": {"pattern": "a", "options": ""}},
                     {"$binary": {"base64": "AA==", "subType": "00"}}])");
  auto& arr = values.get_ref<Json::array_t&>();
  std::stable_sort(arr.begin(), arr.end(), ValueLess{});
  EXPECT_EQ(values, J(R"([{"$minKey": 1}, null, 2, "a", {"k": 1}, [1],
                          {"$binary": {"base64": "AA==", "subType": "00"}}, {"$oid": "x"}, true,
                          {"$date": 1}, {"$timestamp": {"t": 1, "i": 1}},
                          {"$regularExpression": {"pattern": "a", "options": ""}},
                          {"$maxKey": 1}])"));
}

TEST(Compare, WithinRanks) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"1", "1.0", 0},
      {"2", R"({"$numberLong": "2"})", 0},
      {R"({"$numberLong": "x"})", "0", 0},
      {R"({"$numberDecimal": "2.5"})", "2", 1},
      {R"({"$numberLong": "9007199254740993"})", R"({"$numberLong": "9007199254740992"})", 0},
      {"-1", "18446744073709551615", -1},
      {R"("b")", R"("ab")", 1},
      {R"("a")", R"("ab")", -1},
      {R"("é")", R"("z")", 1},
      {R"({"a": 1})", R"({"a": 1, "b": 0})", -1},
      {R"({"a": 2})", R"({"a": 1, "b": 9})", 1},
      {R"({"b": 0})", R"({"a": 5})", 1},
      {"[1, 2]", "[1, 3]", -1},
      {"[1, 2]", "[1, 2, 0]", -1},
      {"[]", "[]", 0},
      {R"({"$date": "2020-01-01"})", R"({"$date": "2021-01-01"})", 0},
      {R"({"$date": 18446744073709551615})", R"({"$date": 0})", 0},
      {R"({"$date": -5})", R"({"$date": 3})", -1},
      {R"({"$timestamp": {"t": 1, "i": 9}})", R"({"$timestamp": {"t": 2, "i": 0}})", -1},
      {R"({"$timestamp": {"t": 1, "i": 2}})", R"({"$timestamp": {"t": 1, "i": 1}})", 1},
      {R"({"$binary": {"base64": "AAAA", "subType": "00"}})",
       R"({"$binary": {"base64": "AA==", "subType": "01"}})", -1},
      {R"({"$binary": {"base64": "AA", "subType": "01"}})",
       R"({"$binary": {"base64": "AAAA", "subType": "00"}})", -1},
      {R"({"$oid": 5})", R"({"$oid": ""})", 0},
      {R"({"$regularExpression": {"pattern": "a", "options": "i"}})",
       R"({"$regularExpression": {"pattern": "a", "options": ""}})", 1},
      {"false", "true", -1},
      {R"({"$minKey": 1})", R"({"$minKey": 2})", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(compare(J(c.a), J(c.b))), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(compare(J(c.b), J(c.a))), -c.expected) << c.b << " vs " << c.a;
  }
}

TEST(Compare, NanEqualsNanAndSortsBelowEveryOtherNumber) {
  Json nan = J(R"({"$numberDecimal": "NaN"})");
  Json values = J(R"([3, {"$numberLong": "-inf"}, {"$numberDecimal": "nan"}, -1e308, null, 0])");
  EXPECT_EQ(compare(nan, J(R"({"$numberLong": "nan"})")), 0);
  EXPECT_LT(compare(nan, J(R"({"$numberLong": "-inf"})")), 0);
  EXPECT_GT(compare(nan, Json()), 0);
  auto& arr = values.get_ref<Json::array_t&>();
  std::sort(arr.begin(), arr.end(), ValueLess{});
  EXPECT_EQ(values, J(R"([null, {"$numberDecimal": "nan"}, {"$numberLong": "-inf"}, -1e308, 0, 3])"));
}

TEST(AsNumber, ReadsNumbersAndExtendedText) {
  struct Case {
    const char* value;
    std::optional<double> expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"3", 3.0},
      {"-2.5", -2.5},
      {R"({"$numberLong": "12"})", 12.0},
      {R"({"$numberLong": "+1"})", 1.0},
      {R"({"$numberLong": "-.5"})", -0.5},
      {R"({"$numberLong": "5."})", 5.0},
      {R"({"$numberLong": "1E+3"})", 1000.0},
      {R"({"$numberLong": "1e-2"})", 0.01},
      {R"({"$numberLong": "inf"})", inf},
      {R"({"$numberLong": "-Infinity"})", -inf},
      {R"({"$numberLong": "1e999"})", inf},
      {R"({"$numberLong": "1e-999"})", 0.0},
      {R"({"$numberLong": ""})", std::nullopt},
      {R"({"$numberLong": " 1"})", std::nullopt},
      {R"({"$numberLong": "1e"})", std::nullopt},
      {R"({"$numberLong": "."})", std::nullopt},
      {R"({"$numberLong": "0x10"})", std::nullopt},
      {R"({"$numberLong": "infinit"})", std::nullopt},
      {R"({"$numberLong": "x", "$numberDecimal": "2"})", std::nullopt},
      {R"({"$numberLong": 5, "$numberDecimal": "2"})", 2.0},
      {R"({"$numberDecimal": 2})", std::nullopt},
      {R"({"x": 1, "$numberDecimal": "7"})", 7.0},
      {R"("3")", std::nullopt},
      {"true", std::nullopt},
      {"null", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(as_number(J(c.value)), c.expected) << c.value;
  EXPECT_TRUE(std::isnan(*as_number(J(R"({"$numberLong": "-NaN"})"))));
}

TEST(Parts, ReadExtendedFormsWithDefaults) {
  EXPECT_EQ(ts_parts(J(R"({"$timestamp": {"t": 5, "i": 2}})")), std::make_pair(int64_t{5}, int64_t{2}));
  EXPECT_EQ(ts_parts(J(R"({"$timestamp": {"t": 1.5, "i": 18446744073709551615}})")),
            std::make_pair(int64_t{0}, int64_t{0}));
  EXPECT_EQ(ts_parts(J(R"({"$timestamp": 3})")), std::make_pair(int64_t{0}, int64_t{0}));
  EXPECT_EQ(regex_parts(J(R"({"$regularExpression": {"pattern": "a+", "options": 1}})")),
            std::make_pair(std::string("a+"), std::string()));
  EXPECT_EQ(binary_parts(J(R"({"$binary": {"base64": "QQ==", "subType": "00"}})")),
            std::make_pair(std::string("QQ=="), std::string("00")));
  EXPECT_EQ(binary_parts(J("5")), std::make_pair(std::string(), std::string()));
}

TEST(TypeName, NamesJsonTypes) {
  EXPECT_EQ(type_name(J("null")), "null");
  EXPECT_EQ(type_name(J("false")), "bool");
  EXPECT_EQ(type_name(J("1.5")), "number");
  EXPECT_EQ(type_name(J(R"("")")), "string");
  EXPECT_EQ(type_name(J("[]")), "array");
  EXPECT_EQ(type_name(J(R"({"$oid": "x"})")), "object");
}

TEST(GetPath, WalksObjectsOnly) {
  Json doc = J(R"({"a": {"b": 1, "": {"c": 2}}, "l": [{"b": 1}]})");
  EXPECT_EQ(*get_path(doc, ""), doc);
  EXPECT_EQ(*get_path(doc, "a.b"), 1);
  EXPECT_EQ(*get_path(doc, "a..c"), 2);
  EXPECT_EQ(get_path(doc, "l.b"), nullptr);
  EXPECT_EQ(get_path(doc, "l.0"), nullptr);
  EXPECT_EQ(get_path(doc, "a.b.c"), nullptr);
}

TEST(ResolvePathCandidates, EntersArraysAndIndexesWithDigitSegments) {
  struct Case {
    const char* doc;
    const char* path;
    const char* candidates;
  };
  const Case cases[] = {
      {R"({"a": [{"b": 1}]})", "a.b", "[1]"},
      {R"({"a": [1, 2]})", "a", "[[1, 2]]"},
      {R"({"a": [{"b": 1}, {"c": 2}, {"b": [3]}]})", "a.b", "[1, [3]]"},
      {R"({"a": 5})", "", R"([{"a": 5}])"},
      {R"({"a": 5})", "a.b", "[]"},
      {R"({"a": [1]})", "a.0", "[1]"},
      {R"({"a": [7, 8]})", "a.1", "[8]"},
      {R"({"a": [7]})", "a.1", "[]"},
      {R"({"__rp0__posts": [{"n": 3}]})", "__rp0__posts.0", R"([{"n": 3}])"},
      {R"({"__rp0__posts": []})", "__rp0__posts.0", "[]"},
      {R"({"a": [{"b": [5, 6]}]})", "a.b.1", "[6]"},
      {R"({"a": [{"0": "x"}]})", "a.0", R"([{"0": "x"}, "x"])"},
      {R"({"a": {"0": 4}})", "a.0", "[4]"},
  };
  for (const auto& c : cases) {
    Json doc = J(c.doc);
    std::vector<const Json*> found;
    resolve_path_candidates(doc, c.path, found);
    Json got = Json::array();
    for (const Json* v : found) got.push_back(*v);
    EXPECT_EQ(got, J(c.candidates)) << c.doc << " " << c.path;
  }
}

TEST(SetPath, CreatesIntermediateObjects) {
  Json doc = J(R"({"a": {"x": 1}})");
  set_path(doc, "a.b.c", 2);
  set_path(doc, "d", J("[1]"));
  set_path(doc, "a.x", 3);
  EXPECT_EQ(doc, J(R"({"a": {"x": 3, "b": {"c": 2}}, "d": [1]})"));
}

TEST(SetPath, RefusesToReplaceWhatLiesOnThePath) {
  struct Case {
    const char* doc;
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {R"({"tags": [1, 2]})", "tags.0",
       "写入路径 \"tags.0\" 途经的 \"tags\" 是 array 而不是对象（拒绝静默覆盖已有数据）"},
      {R"({"a": 5})", "a.b", "写入路径 \"a.b\" 途经的 \"a\" 是 number 而不是对象（拒绝静默覆盖已有数据）"},
      {R"({"a": {"b": null}})", "a.b.c",
       "写入路径 \"a.b.c\" 途经的 \"a.b\" 是 null 而不是对象（拒绝静默覆盖已有数据）"},
      {R"({"a": 1})", "", "写入路径不能为空（空路径会整体替换文档，拒绝静默覆盖）"},
      {"[1]", "a", "写入路径 \"a\" 途经的 \"（文档本身）\" 是 array 而不是对象（拒绝静默覆盖已有数据）"},
  };
  for (const auto& c : cases) {
    Json doc = J(c.doc);
    EXPECT_EQ(error_of([&] { set_path(doc, c.path, 9); }), c.message);
    EXPECT_EQ(doc, J(c.doc));
  }
}

TEST(RemovePath, EntersArraysAtAnyDepth) {
  Json doc = J(R"({"a": [{"b": 1, "c": 2}, {"b": 3}, 4], "x": {"y": 1}})");
  remove_path(doc, "a.b");
  remove_path(doc, "x.y.z");
  remove_path(doc, "");
  EXPECT_EQ(doc, J(R"({"a": [{"c": 2}, {}, 4], "x": {"y": 1}})"));
  Json kept = J(R"({"a": [{"b": 1}], "n": {"m": null}})");
  remove_object_path(kept, "a.b");
  remove_object_path(kept, "n.m");
  EXPECT_EQ(kept, J(R"({"a": [{"b": 1}], "n": {}})"));
}

}  // namespace
}  // namespace varnel::local
