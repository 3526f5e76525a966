#include "pipeline/ast.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::pipeline {
namespace {

std::string read_error(const Json& value) {
  try {
    Ast::from_value(value);
  } catch (const CoreError& e) {
    return e.message();
  }
  return "";
}

TEST(AstFromValue, ReadsLeniently) {
  Ast ast = Ast::from_value(Json::parse(R"({
    "model": 7, "extra": true,
    "params": {"a": "@a", "n": 1, "o": null},
    "fields": ["a", 3, null],
    "relations": {"z": {"fields": "x"}, "b": {"params": [], "relations": {"c": {}}}}})"));
  EXPECT_EQ(ast.model, "");
  EXPECT_EQ(ast.params, (Params{{"a", "@a"}}));
  EXPECT_EQ(ast.fields, (std::vector<std::string>{"a", "", ""}));
  ASSERT_EQ(ast.relations.size(), 2u);
  // relations come back in ascending name order
  EXPECT_EQ(ast.relations[0].name, "b");
  EXPECT_EQ(ast.relations[0].ast.relations.at(0).name, "c");
  EXPECT_EQ(ast.relations[1].name, "z");
  EXPECT_TRUE(ast.relations[1].ast.fields.empty());
  EXPECT_EQ(Ast::from_value(Json::parse(R"({"model": "U", "fields": {}})")).to_value(),
            Json::parse(R"({"model": "U", "params": {}, "fields": [], "relations": {}})"));
}

TEST(AstFromValue, RefusesNonObjects) {
  EXPECT_EQ(read_error(Json::array()), "Ast 必须是对象");
  EXPECT_EQ(read_error(Json::parse(R"({"relations": {"a": {}, "b": 1, "c": []}})")),
            "RelAst 必须是对象");
  EXPECT_EQ(read_error(Json::parse(R"({"relations": {"a": {"relations": {"b": "x"}}}})")),
            "RelAst 必须是对象");
  EXPECT_THROW(RelAst::from_value("x"), CoreError);
  EXPECT_EQ(RelAst::from_value(Json::object()).to_value(),
            Json::parse(R"({"params": {}, "fields": [], "relations": {}})"));
}

TEST(AstFromValue, NestingIsBounded) {
  auto nest = [](std::size_t levels) {
    Json v = Json::object();
    for (std::size_t i = 0; i < levels; ++i) v = Json{{"relations", {{"r", std::move(v)}}}};
    return v;
  };
  EXPECT_EQ(read_error(nest(kMaxSelectionDepth)), "");
  EXPECT_EQ(read_error(nest(kMaxSelectionDepth + 1)), "RelAst 嵌套超过 64 层");
}

}  // namespace
}  // namespace varnel::pipeline
