#include "schema/registry.h"

#include <gtest/gtest.h>

#include "error.h"

namespace varnel::schema {
namespace {

void add(Registry& r, const std::string& name) {
  Catalog& c = r.catalog_for_change();
  c.names.push_back(name);
  Schema s;
  s.name = name;
  c.entries[name] = Entry{s, {}};
}

std::string message_of(auto&& f) {
  try {
    f();
    return "";
  } catch (const CoreError& e) {
    return e.message();
  }
}

TEST(Registry, FreshDefaults) {
  Registry r;
  EXPECT_TRUE(r.is_base());
  EXPECT_EQ(r.profile, Profile::Standard);
  EXPECT_FALSE(r.require_context);
  EXPECT_EQ(r.writeLinkPolicy, WriteLinkPolicy::Reject);
  EXPECT_EQ(r.policy.role_rules.unconfigured_policy, UnconfiguredPolicy::Open);
  EXPECT_FALSE(r.policy.meta.closed);
  EXPECT_TRUE(r.list().empty());
  EXPECT_FALSE(r.has("User"));
  EXPECT_EQ(message_of([&] { r.get("User"); }), "Schema 未注册: User");
}

TEST(Registry, ViewKeepsTheCatalogItWasMadeFrom) {
  Registry base;
  add(base, "User");
  Registry view = base.make_view();
  add(base, "Post");
  EXPECT_EQ(base.list(), (std::vector<std::string>{"User", "Post"}));
  EXPECT_EQ(view.list(), (std::vector<std::string>{"User"}));
  base.clear();
  EXPECT_TRUE(base.list().empty());
  EXPECT_TRUE(view.has("User"));
  EXPECT_FALSE(view.is_base());
}

TEST(Registry, ViewRefusesCatalogChanges) {
  Registry base;
  Registry view = base.make_view();
  const std::string expected =
      "ERR_POLICY_VIEW_READONLY: 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）";
  EXPECT_EQ(message_of([&] { view.clear(); }), expected);
  EXPECT_EQ(message_of([&] { view.catalog_for_change(); }), expected);
  EXPECT_EQ(message_of([&] { view.replace_catalog({}); }), expected);
}

TEST(PolicyTexts, ParseExactly) {
  EXPECT_EQ(profile_from_str_or_err("text2query"), Profile::Text2Query);
  EXPECT_EQ(profile_text(Profile::Standard), "standard");
  EXPECT_EQ(message_of([] { profile_from_str_or_err("Standard"); }),
            "未知 profile: Standard（仅 standard / text2query）");
  EXPECT_EQ(unconfigured_policy_from_str_or_err("closed"), UnconfiguredPolicy::Closed);
  EXPECT_EQ(message_of([] { unconfigured_policy_from_str_or_err("deny"); }),
            "未知 unconfigured_policy: deny（仅 open / closed）");
  EXPECT_EQ(write_link_policy_text(WriteLinkPolicy::PrimaryOnly), "primaryOnly");
}

TEST(Records, RoleLocationAndAutoincrement) {
  EXPECT_EQ(parse_role("cache"), Role::Cache);
  EXPECT_EQ(role_text(Role::Archive), "archive");
  EXPECT_EQ(message_of([] { parse_role("Primary"); }),
            "未知链路角色: Primary（仅 primary/replica/cache/archive）");

  Schema s;
  EXPECT_EQ(s.location(), Location{});
  s.source = "pg";
  s.schema = "app";
  Location loc = s.location();
  EXPECT_EQ(loc.source, "pg");
  EXPECT_EQ(loc.schema, "app");
  EXPECT_FALSE(loc.role.has_value());

  EXPECT_FALSE(s.id_is_autoincrement());
  FieldDef id;
  id.type = "number";
  id.strategy = "autoincrement";
  s.fields["_id"] = id;
  EXPECT_TRUE(s.id_is_autoincrement());
}

}  // namespace
}  // namespace varnel::schema
