#include "error.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(ErrorKind, DerivedFromMessagePrefix) {
  struct Case {
    std::string message;
    ErrorKind kind;
  };
  const Case cases[] = {
      {"ERR_PERMISSION:no read", ErrorKind::Permission},
      {"ERR_PERMISSION:", ErrorKind::Permission},  // 15 bytes: longer than 14
      {"ERR_PERMISSION", ErrorKind::Other},
      {std::string(kNoContextMessage), ErrorKind::NoContext},
      {std::string(kNoContextMessage) + " extra", ErrorKind::NoContext},
      {std::string(kNoContextMessage.substr(0, 118)), ErrorKind::Other},
      {"ERR_TEXT2QUERY:limit", ErrorKind::Text2Query},
      {"ERR_GQL_PARSE:x", ErrorKind::Other},
      {"ERR_P", ErrorKind::Other},
      {"", ErrorKind::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(error_kind(c.message), c.kind) << c.message;
}

TEST(ErrorKind, NoContextMessageIs119Bytes) { EXPECT_EQ(kNoContextMessage.size(), 119u); }

TEST(Format, FillsPlaceholdersInOrderAndLeavesBracesInArguments) {
  EXPECT_EQ(format("{} and {}", {"a", "{}"}), "a and {}");
  EXPECT_EQ(format("{{root.}} {}", {"x"}), "{{root.}} x");
  EXPECT_EQ(format("{} {}", {"only"}), "only {}");
}

TEST(CoreError, CarriesMessageAndKind) {
  try {
    fail("ERR_PERMISSION:{} 无权", {"User"});
    FAIL();
  } catch (const CoreError& e) {
    EXPECT_EQ(e.message(), "ERR_PERMISSION:User 无权");
    EXPECT_EQ(e.kind(), ErrorKind::Permission);
    EXPECT_EQ(error_code(e.kind()), "permission_denied");
  }
}

TEST(DebugQuoted, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(debug_quoted("plain 中文"), "\"plain 中文\"");
  EXPECT_EQ(debug_quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(debug_quoted("\t\r\n"), "\"\\t\\r\\n\"");
  EXPECT_EQ(debug_quoted(std::string("\0\x01\x1f\x7f", 4)), "\"\\u{0}\\u{1}\\u{1f}\\u{7f}\"");
  EXPECT_EQ(debug_quoted("x\u0085y'"), "\"x\\u{85}y'\"");
  EXPECT_EQ(debug_optional(std::nullopt), "None");
  EXPECT_EQ(debug_optional("db"), "Some(\"db\")");
}

}  // namespace
}  // namespace varnel
