#include "pipeline/token.h"

#include <gtest/gtest.h>

namespace varnel::pipeline {
namespace {

Json tokens_value(std::string_view text) {
  Json out = Json::array();
  for (const auto& t : tokenize(text)) out.push_back(token_to_value(t));
  return out;
}

TEST(Tokenize, KindsAndJsonForm) {
  Json expected = Json::parse(R"j([
    {"t": "id", "v": "User"}, {"t": "p", "v": "("}, {"t": "id", "v": "x"},
    {"t": "p", "v": ":"}, {"t": "ref", "v": "@a1_b"}, {"t": "p", "v": ")"}])j");
  EXPECT_EQ(tokens_value("User(x: @a1_b)"), expected);
}

TEST(Tokenize, CharacterClasses) {
  struct Case {
    std::string_view text;
    const char* tokens;
  };
  const Case cases[] = {
      // identifiers start with a letter, "$" or "_" and go on over digits, "." too
      {"$$limit _a9.b.c", R"([{"t":"id","v":"$$limit"},{"t":"id","v":"_a9.b.c"}])"},
      // digits, quotes, "-", "=" and white space are skipped
      {"9a 10 \"b\"-c=\t\n", R"([{"t":"id","v":"a"},{"t":"id","v":"b"},{"t":"id","v":"c"}])"},
      // a reference stops at "." and "$"; a lone "@" is a reference
      {"@a.b @ @$x", R"([{"t":"ref","v":"@a"},{"t":"id","v":"b"},{"t":"ref","v":"@"},
                        {"t":"ref","v":"@"},{"t":"id","v":"$x"}])"},
      // non-ASCII characters split identifiers and are dropped
      {"na\xC3\xA9me \xE4\xB8\xAD{",
       R"([{"t":"id","v":"na"},{"t":"id","v":"me"},{"t":"p","v":"{"}])"},
      // stray bytes that are not UTF-8 are dropped the same way
      {std::string_view("a\xFF\x80:\0b", 6),
       R"([{"t":"id","v":"a"},{"t":"p","v":":"},{"t":"id","v":"b"}])"},
      {"", "[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(tokens_value(c.text), Json::parse(c.tokens)) << c.text;
}

TEST(Tokenize, TokensBorrowTheText) {
  std::string text = "User { name }";
  auto tokens = tokenize(text);
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[2].text.data(), text.data() + 7);
}

}  // namespace
}  // namespace varnel::pipeline
