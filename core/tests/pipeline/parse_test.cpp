#include "pipeline/parse.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::pipeline {
namespace {

// The parse error of `text`, or "" when it parses.
std::string parse_error(std::string_view text) {
  try {
    parse_gql(text);
  } catch (const CoreError& e) {
    return e.message();
  }
  return "";
}

TEST(Parse, FullQuery) {
  Ast ast = parse_gql(
      "User(where: @w, $limit: @n) { id, name profile.city posts(sort: @s) { title } "
      "author { name } }");
  EXPECT_EQ(ast.to_value(), Json::parse(R"({
    "model": "User",
    "params": {"where": "@w", "limit": "@n"},
    "fields": ["id", "name", "profile.city"],
    "relations": {
      "posts": {"params": {"sort": "@s"}, "fields": ["title"], "relations": {}},
      "author": {"params": {}, "fields": ["name"], "relations": {}}}})"));
  ASSERT_EQ(ast.relations.size(), 2u);
  EXPECT_EQ(ast.relations[0].name, "posts");
  EXPECT_EQ(ast.relations[1].name, "author");
}

TEST(Parse, Shapes) {
  struct Case {
    std::string_view text;
    const char* ast;
  };
  const Case cases[] = {
      {"User", R"({"model":"User","params":{},"fields":[],"relations":{}})"},
      // empty arguments make a relation, a bare name is a field
      {"User { posts() }",
       R"({"model":"User","params":{},"fields":[],
           "relations":{"posts":{"params":{},"fields":[],"relations":{}}}})"},
      {"User { posts }", R"({"model":"User","params":{},"fields":["posts"],"relations":{}})"},
      // the pass-through pipeline is accepted at the root
      {"User($pipeline: @p)",
       R"({"model":"User","params":{"pipeline":"@p"},"fields":[],"relations":{}})"},
      // trailing tokens after the root selection are ignored
      {"User { id } extra tokens ) {",
       R"({"model":"User","params":{},"fields":["id"],"relations":{}})"},
      {"User { a,,, b ,}", R"({"model":"User","params":{},"fields":["a","b"],"relations":{}})"},
      // duplicates kept in fields; a later argument key wins; punctuation values
      // are skipped; "$" stripped entirely; identifier values are kept as written
      {"U($$k: @a k: @b, x: cond, y: : z: @c) { a a }",
       R"({"model":"U","params":{"k":"@b","x":"cond","z":"@c"},"fields":["a","a"],
           "relations":{}})"},
      {"U($: @e)", R"({"model":"U","params":{"":"@e"},"fields":[],"relations":{}})"},
      // two relations of one name: the JSON form keeps the later
      {"U { r { a } r { b } }",
       R"({"model":"U","params":{},"fields":[],
           "relations":{"r":{"params":{},"fields":["b"],"relations":{}}}})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_gql(c.text).to_value(), Json::parse(c.ast)) << c.text;
  }
}

TEST(Parse, Errors) {
  struct Case {
    std::string_view text;
    std::string_view message;
  };
  const Case cases[] = {
      {"", "ERR_GQL_PARSE:期望 id(undefined) 但已到达末尾"},
      {"{ id }", "ERR_GQL_PARSE:期望 id(undefined) 实际 p({) 位置 0"},
      {"@u", "ERR_GQL_PARSE:期望 id(undefined) 实际 ref(@u) 位置 0"},
      // the digits vanish, ")" is taken as the value and "{" meets the key slot
      {"User(limit: 10) { id }", "ERR_GQL_PARSE:期望 id(undefined) 实际 p({) 位置 5"},
      {"User(a @x)", "ERR_GQL_PARSE:期望 p(:) 实际 ref(@x) 位置 3"},
      {"User(a:", "ERR_GQL_PARSE:期望 id(undefined) 但已到达末尾"},
      {"User(a: @x", "ERR_GQL_PARSE:期望 id(undefined) 但已到达末尾"},
      {"User {", "ERR_GQL_PARSE:期望 p(}) 但已到达末尾"},
      {"User { a { b }", "ERR_GQL_PARSE:期望 p(}) 但已到达末尾"},
      {"User { a : }", "ERR_GQL_PARSE:期望 id(undefined) 实际 p(:) 位置 3"},
      {"User { posts($pipeline: @p) }",
       "ERR_GQL_PARSE:关系 \"posts\" 的参数不支持 $pipeline（$pipeline 直通仅限根级 GQL）"},
      {"User { a { posts(x: @x, $$pipeline: q) { id } } }",
       "ERR_GQL_PARSE:关系 \"posts\" 的参数不支持 $pipeline（$pipeline 直通仅限根级 GQL）"},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_error(c.text), c.message) << c.text;
}

std::string nested(std::size_t levels, std::string_view open, std::string_view leaf) {
  std::string text = "User { ";
  for (std::size_t i = 0; i < levels; ++i) text += open;
  text += leaf;
  text.append(levels, '}');
  return text + " }";
}

TEST(Parse, NestingIsBounded) {
  // The deepest allowed selection parses and its JSON form reads back.
  Ast deepest = parse_gql(nested(kMaxSelectionDepth, "r { ", "x "));
  EXPECT_EQ(Ast::from_value(deepest.to_value()).to_value(), deepest.to_value());
  EXPECT_EQ(parse_gql(nested(kMaxSelectionDepth - 1, "r { ", "x(a: @a) ")).relations.size(), 1u);
  // One level more fails at the "(" or "{" that would open it.
  std::size_t pos = 2 + 2 * kMaxSelectionDepth + 1;
  EXPECT_EQ(parse_error(nested(kMaxSelectionDepth + 1, "r { ", "")),
            "ERR_GQL_PARSE:关系嵌套超过 64 层 位置 " + std::to_string(pos));
  EXPECT_EQ(parse_error(nested(kMaxSelectionDepth, "r { ", "x() ")),
            "ERR_GQL_PARSE:关系嵌套超过 64 层 位置 " + std::to_string(pos));
  // Far deeper input fails the same way instead of exhausting the stack.
  std::string too_deep = "ERR_GQL_PARSE:关系嵌套超过 64 层";
  EXPECT_EQ(parse_error(nested(100000, "r{", "")).substr(0, too_deep.size()), too_deep);
  EXPECT_EQ(parse_error(std::string(100000, '{')),
            "ERR_GQL_PARSE:期望 id(undefined) 实际 p({) 位置 0");
  EXPECT_EQ(parse_error("User " + std::string(100000, '{')),
            "ERR_GQL_PARSE:期望 id(undefined) 实际 p({) 位置 2");
}

TEST(Parse, LargeQuery) {
  // About 1 MB of selections parses into one flat list.
  std::string text = "User { ";
  for (int i = 0; i < 100000; ++i) text += "field" + std::to_string(i) + ", ";
  text += "}";
  ASSERT_GT(text.size(), 1000000u);
  Ast ast = parse_gql(text);
  ASSERT_EQ(ast.fields.size(), 100000u);
  EXPECT_EQ(ast.fields.back(), "field99999");
  // An unclosed one of the same size reports the end of the text.
  text.pop_back();
  EXPECT_EQ(parse_error(text), "ERR_GQL_PARSE:期望 p(}) 但已到达末尾");
}

TEST(Parse, StrayBytesAreSkipped) {
  EXPECT_EQ(parse_gql("\xFFUser\x80 {\xC3 id\xE4\xB8 }").fields, std::vector<std::string>{"id"});
  EXPECT_EQ(parse_error(std::string_view("\0\xFF", 2)),
            "ERR_GQL_PARSE:期望 id(undefined) 但已到达末尾");
}

}  // namespace
}  // namespace varnel::pipeline
