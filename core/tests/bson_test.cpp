#include "bson.h"

#include <gtest/gtest.h>

namespace varnel::bson {
namespace {

TEST(IsExtended, OneKeyObjectsOfTheLiteralForms) {
  struct Case {
    const char* value;
    bool extended;
  };
  const Case cases[] = {
      {R"({"$oid": "abc"})", true},
      {R"({"$date": 5})", true},
      {R"({"$binary": {}})", true},
      {R"({"$numberLong": "1"})", true},
      {R"({"$numberDecimal": "1.5"})", true},
      {R"({"$oid": "abc", "x": 1})", false},
      {R"({"$timestamp": {"t": 1, "i": 1}})", false},
      {R"({"$regularExpression": {}})", false},
      {R"({"$minKey": 1})", false},
      {R"({"$eq": 1})", false},
      {R"("$oid")", false},
      {R"({})", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_extended(Json::parse(c.value)), c.extended) << c.value;
}

TEST(IdKey, TextOfEachKindOfId) {
  struct Case {
    const char* value;
    const char* key;
  };
  const Case cases[] = {
      {"null", "null"},
      {"true", "true"},
      {"false", "false"},
      {"12", "12"},
      {"-3", "-3"},
      {"1.0", "1.0"},
      {"18446744073709551615", "18446744073709551615"},
      {R"("abc")", "abc"},
      {R"({"$oid": "abc"})", "abc"},
      {R"({"$oid": "abc", "x": 1})", "abc"},
      {R"({"$oid": 5})", R"({"$oid":5})"},
      {R"({"b": 1, "a": [2]})", R"({"a":[2],"b":1})"},
      {R"([1, "a"])", R"([1,"a"])"},
  };
  for (const auto& c : cases) EXPECT_EQ(id_key(Json::parse(c.value)), c.key) << c.value;
}

}  // namespace
}  // namespace varnel::bson
