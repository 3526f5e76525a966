#include "resource.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::resource {
namespace {

std::string compose(std::string_view ref, const char* cfg) {
  try {
    return compose_url(ref, Json::parse(cfg));
  } catch (const CoreError& e) {
    return "error: " + e.message();
  }
}

TEST(IsExternalUrl, SchemesAfterTrimmingCaseInsensitive) {
  EXPECT_TRUE(is_external_url("  HTTPS://h/a"));
  EXPECT_TRUE(is_external_url("http://h"));
  EXPECT_TRUE(is_external_url("DATA:image/png;base64,AA"));
  EXPECT_FALSE(is_external_url("ftp://h"));
  EXPECT_FALSE(is_external_url("data"));
  EXPECT_FALSE(is_external_url("   "));
  EXPECT_FALSE(is_external_url("abcdef"));
}

TEST(ContentPath, TwoCharacterDirectory) {
  EXPECT_EQ(content_path("abcdef"), "objects/ab/abcdef");
  EXPECT_EQ(content_path("ab"), "objects/ab/ab");
  // A multi-byte character is never split.
  EXPECT_EQ(content_path("é1x"), "objects/é1/é1x");
  EXPECT_THROW(content_path("a"), CoreError);
  try {
    content_path("");
  } catch (const CoreError& e) {
    EXPECT_EQ(e.message(), "sha1 非法（长度 < 2）: \"\"");
  }
}

TEST(Render, ReplacesKnownNamesOnly) {
  Vars vars{{"a", "1"}, {"b", "{a}"}};
  EXPECT_EQ(render("{a}-{b}-{c}", vars), "1-{a}-{c}");
  EXPECT_EQ(render("x{a", vars), "x{a");
  EXPECT_EQ(render("{{a}}", vars), "{{a}}");  // the name is "{a"
  EXPECT_EQ(render("}{a}{", vars), "}1{");
}

TEST(PercentEncode, UnreservedBytesStay) {
  EXPECT_EQ(percent_encode("aZ09-._~"), "aZ09-._~");
  EXPECT_EQ(percent_encode("a b/é"), "a%20b%2F%C3%A9");
}

TEST(ScalarToString, ScalarsOnly) {
  EXPECT_EQ(scalar_to_string(Json("x")), "x");
  EXPECT_EQ(scalar_to_string(Json(true)), "true");
  EXPECT_EQ(scalar_to_string(Json(3)), "3");
  EXPECT_EQ(scalar_to_string(Json(2.5)), "2.5");
  EXPECT_EQ(scalar_to_string(Json()), "");
  EXPECT_EQ(scalar_to_string(Json::array({1})), "");
  EXPECT_EQ(scalar_to_string(Json::object()), "");
}

TEST(ComposeUrl, Table) {
  struct Case {
    const char* ref;
    const char* cfg;
    const char* url;
  };
  const Case cases[] = {
      {"abcdef", "null", "abcdef"},
      {"abcdef", "[1]", "abcdef"},
      {"abcdef", R"({"baseUrl": "/cdn/", "pathTemplate": "{contentPath}"})", "/cdn/objects/ab/abcdef"},
      {"abcdef", R"({"baseUrl": "/cdn", "pathTemplate": "/files/{key}?v={ver}", "vars": {"ver": 3}})",
       "/cdn/files/abcdef?v=3"},
      {"abcdef", R"({"query": {"w": 200, "t": "{key} x"}})", "abcdef?t=abcdef%20x&w=200"},
      {"abcdef", R"({"pathTemplate": "{key}/{size}"})", "abcdef/{size}"},
      {"abcdef", R"({"baseUrl": "https://h///", "pathTemplate": ""})", "https://h/"},
      {"abcdef", R"({"baseUrl": 5, "pathTemplate": 7})", "abcdef"},
      {"abcdef", R"({"vars": {"key": "K", "x": null}, "pathTemplate": "{key}{x}{sha1}"})", "Kabcdef"},
      {"abcdef", R"({"query": {}})", "abcdef"},
      {"abcdef", R"({"pathTemplate": "p?a=1", "query": {"b": true}})", "p?a=1?b=true"},
      {"https://h/i.png", R"({"externalPassthrough": 0})", "https://h/i.png"},
      {" http://h ", "{}", " http://h "},
      {"https://h/i.png", R"({"externalPassthrough": false})",
       "error: 外部 URL 直返被禁用: \"https://h/i.png\""},
      {"", "{}", "error: resource reference 为空"},
      {"a", R"({"pathTemplate": "{key}"})", "error: sha1 非法（长度 < 2）: \"a\""},
  };
  for (const auto& c : cases) EXPECT_EQ(compose(c.ref, c.cfg), c.url) << c.ref << " " << c.cfg;
}

}  // namespace
}  // namespace varnel::resource
