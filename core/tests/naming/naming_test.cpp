#include "naming/naming.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::naming {
namespace {

TEST(Canonical, SplitsEveryStyleIntoLowerCaseTokens) {
  struct Case {
    const char* text;
    Tokens tokens;
  };
  const Case cases[] = {
      {"userName", {"user", "name"}},
      {"UserName", {"user", "name"}},
      {"user_name", {"user", "name"}},
      {"user-name", {"user", "name"}},
      {"USER NAME", {"user", "name"}},
      {"HTMLParser", {"html", "parser"}},
      {"parseXMLDoc", {"parse", "xml", "doc"}},
      {"userID", {"user", "id"}},
      {"item2Name", {"item2", "name"}},
      {"2FA", {"2", "fa"}},
      {"2fa", {"2fa"}},
      {"café", {"caf"}},
      {"a.b c", {"a", "b", "c"}},
      {"naïveName", {"na", "ve", "name"}},
      {"", {}},
      {"__", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(canonical(c.text), c.tokens) << c.text;
}

TEST(Styles, WriteTokensBack) {
  EXPECT_EQ(to_snake({"A", "B"}), "A_B");
  EXPECT_EQ(to_camel({"Foo", "bar"}), "FooBar");
  EXPECT_EQ(to_camel({"user", "id"}), "userId");
  EXPECT_EQ(to_pascal({"user", "id"}), "UserId");
  EXPECT_EQ(to_pascal({"9lives", "x"}), "9livesX");
  for (auto f : {to_snake, to_camel, to_pascal}) EXPECT_EQ(f({}), "");
}

TEST(Translate, UsesTheTargetStyle) {
  struct Case {
    const char* target;
    const char* result;
  };
  const Case cases[] = {
      {"MySQL", "created_at"}, {"PG", "created_at"},     {"postgresql", "created_at"},
      {"sqlite", "created_at"}, {"py", "created_at"},    {"mongodb", "createdAt"},
      {"nodejs", "createdAt"},  {"java", "createdAt"},   {"C#", "createdAt"},
      {"cs", "createdAt"},      {"rust", "createdAt"},   {"golang", "CreatedAt"},
      {"GO", "CreatedAt"},
  };
  for (const auto& c : cases) EXPECT_EQ(translate_by_str("createdAt", c.target), c.result) << c.target;
  EXPECT_EQ(translate_by_str("__", "mysql"), "");
}

TEST(Translate, UnknownTargetNamesTheLowerCasedText) {
  const std::pair<const char*, const char*> cases[] = {
      {"oracle", "未知命名目标: oracle"},
      {"ORACLE", "未知命名目标: oracle"},
      {"ÖRACLE", "未知命名目标: öracle"},
      {"", "未知命名目标: "},
  };
  for (const auto& [target, message] : cases) {
    try {
      target_from_str_or_err(target);
      ADD_FAILURE() << target;
    } catch (const CoreError& e) {
      EXPECT_EQ(e.message(), message);
    }
  }
}

std::string conflict_of(const std::vector<std::string>& names) {
  try {
    detect_conflicts(names);
    return "";
  } catch (const CoreError& e) {
    return e.message();
  }
}

TEST(DetectConflicts, DuplicatesBeforeReservedKeys) {
  EXPECT_EQ(conflict_of({"userName", "user_name"}),
            "ERR_NAME_CONFLICT:名称 \"user_name\" 与 \"userName\" 归一后相同（username）");
  EXPECT_EQ(conflict_of({"fnRef"}), "ERR_NAME_CONFLICT:名称 \"fnRef\" 归一后命中契约保留键 \"fnref\"");
  // The first failing name ends the check: "Type" is already reserved.
  EXPECT_EQ(conflict_of({"Type", "type"}),
            "ERR_NAME_CONFLICT:名称 \"Type\" 归一后命中契约保留键 \"type\"");
  EXPECT_EQ(conflict_of({"a_b", "AB", "fn"}),
            "ERR_NAME_CONFLICT:名称 \"AB\" 与 \"a_b\" 归一后相同（ab）");
  EXPECT_EQ(conflict_of({"_id", "id"}), "");
  EXPECT_EQ(conflict_of({"--", "__"}), "");
  EXPECT_EQ(conflict_of({"_id", "_id"}), "");
  EXPECT_EQ(conflict_of({"local_field"}),
            "ERR_NAME_CONFLICT:名称 \"local_field\" 归一后命中契约保留键 \"localfield\"");
}

}  // namespace
}  // namespace varnel::naming
