#include "permission.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::permission {
namespace {

using schema::RoleRules;
using schema::Schema;
using schema::UnconfiguredPolicy;
using testing::parse;

Schema model(const char* defn) { return schema::build_schema(parse(defn), "M", "m", {}); }

Context ctx(const char* value) { return *context_from_value(parse(value)); }

std::vector<std::string> roles_of(const Context& c) {
  auto r = c.effective();
  return {r.begin(), r.end()};
}

RoleRules closed() {
  RoleRules r;
  r.unconfigured_policy = UnconfiguredPolicy::Closed;
  return r;
}

TEST(Context, ReadFromValue) {
  for (const char* none : {"null", "\"u1\"", "3", "[{}]", "true"}) {
    EXPECT_FALSE(context_from_value(parse(none))) << none;
  }
  Context empty = ctx("{}");
  EXPECT_EQ(roles_of(empty), std::vector<std::string>{""});
  EXPECT_FALSE(empty.internal);
  EXPECT_FALSE(empty.userId);

  EXPECT_EQ(roles_of(ctx(R"({"roles": [], "role": "editor"})")), std::vector<std::string>{"editor"});
  EXPECT_EQ(roles_of(ctx(R"({"roles": ["a", 3, null], "role": "b"})")), std::vector<std::string>{"a"});
  EXPECT_EQ(roles_of(ctx(R"({"roles": "a", "role": 5})")), std::vector<std::string>{""});
  EXPECT_FALSE(ctx(R"({"userId": 7})").userId);
  EXPECT_EQ(ctx(R"({"userId": "u1", "extra": 1})").userId, "u1");

  struct Case {
    const char* value;
    bool internal;
  };
  for (const Case& c : {Case{R"({"internal": true})", true}, Case{R"({"internal": "no"})", true},
                        Case{R"({"internal": []})", true}, Case{R"({"internal": 0})", false},
                        Case{R"({"internal": ""})", false}, Case{R"({"internal": null})", false}}) {
    EXPECT_EQ(ctx(c.value).internal, c.internal) << c.value;
  }
}

TEST(Evaluate, DecisionOrder) {
  RoleRules open;
  RoleRules shut = closed();
  shut.exempt_roles = {"root"};
  const schema::Rule unset;
  const schema::Rule empty = std::vector<std::string>{};
  const schema::Rule staff = std::vector<std::string>{"staff", "creator"};
  Context guest = ctx(R"({"role": "guest", "userId": "u1"})");
  Context member = ctx(R"({"roles": ["staff"]})");
  Context root = ctx(R"({"role": "root"})");
  Context internal = ctx(R"({"internal": 1})");
  Context literal = ctx(R"({"role": "creator"})");
  Json mine = parse(R"({"createdBy": "u1"})");
  Json theirs = parse(R"({"createdBy": "u2"})");

  EXPECT_TRUE(evaluate(shut, nullptr, empty, true, nullptr));
  EXPECT_TRUE(evaluate(shut, &internal, empty, true, nullptr));
  EXPECT_TRUE(evaluate(shut, &root, empty, true, nullptr));
  EXPECT_TRUE(evaluate(open, &guest, unset, false, nullptr));
  EXPECT_TRUE(evaluate(open, &guest, empty, false, nullptr));
  EXPECT_FALSE(evaluate(shut, &guest, unset, false, nullptr));
  EXPECT_FALSE(evaluate(shut, &guest, empty, false, nullptr));
  EXPECT_TRUE(evaluate(shut, &member, staff, true, nullptr));
  EXPECT_TRUE(evaluate(shut, &literal, staff, true, nullptr));  // the role named "creator"
  EXPECT_TRUE(evaluate(shut, &guest, staff, false, nullptr));
  EXPECT_TRUE(evaluate(shut, &guest, staff, true, &mine));
  EXPECT_FALSE(evaluate(shut, &guest, staff, true, &theirs));
  EXPECT_FALSE(evaluate(shut, &guest, staff, true, nullptr));
  Json not_object = parse(R"(["u1"])");
  EXPECT_FALSE(evaluate(shut, &guest, staff, true, &not_object));
  Context anonymous = ctx(R"({"role": "guest", "userId": ""})");
  Json unowned = parse(R"({"createdBy": ""})");
  EXPECT_FALSE(evaluate(shut, &anonymous, staff, true, &unowned));
  EXPECT_FALSE(evaluate(open, &guest, std::vector<std::string>{"staff"}, false, nullptr));
}

TEST(ModelRules, ReadFollowsThePostureWhenUnsetOrEmpty) {
  RoleRules shut = closed();
  shut.exempt_roles = {"root"};
  Context guest = ctx("{}");
  Context root = ctx(R"({"role": "root"})");
  for (const char* defn : {"{}", R"({"read": []})", R"({"read": "x"})"}) {
    Schema s = model(defn);
    EXPECT_TRUE(can_read_schema(RoleRules{}, s, &guest)) << defn;
    EXPECT_FALSE(can_read_schema(shut, s, &guest)) << defn;
    EXPECT_TRUE(can_read_schema(shut, s, &root)) << defn;
    EXPECT_TRUE(can_read_schema(shut, s, nullptr)) << defn;
  }
  EXPECT_TRUE(can_read_schema(shut, model(R"({"read": ["creator"]})"), &guest));
}

TEST(ModelRules, Write) {
  RoleRules rules;
  rules.exempt_roles = {"root"};
  rules.deny_write_roles = {"auditor"};
  Schema locked = model(R"({"write": []})");
  Context guest = ctx(R"({"role": "guest"})");
  Context internal = ctx(R"({"internal": true})");
  Context root = ctx(R"({"role": "root"})");
  EXPECT_FALSE(can_write_schema(rules, locked, &guest));  // even under the open posture
  EXPECT_TRUE(can_write_schema(rules, locked, &internal));
  EXPECT_TRUE(can_write_schema(rules, locked, &root));
  EXPECT_TRUE(can_write_schema(rules, locked, nullptr));

  // Deny-write roles win over internal and exempt callers.
  Context internal_auditor = ctx(R"({"internal": true, "role": "auditor"})");
  Context exempt_auditor = ctx(R"({"roles": ["root", "auditor"]})");
  Schema free = model("{}");
  EXPECT_FALSE(can_write_schema(rules, free, &internal_auditor));
  EXPECT_FALSE(can_write_schema(rules, free, &exempt_auditor));
  EXPECT_TRUE(can_read_schema(rules, free, &internal_auditor));

  Schema staff = model(R"({"write": ["staff"]})");
  EXPECT_FALSE(can_write_schema(rules, staff, &guest));
  EXPECT_TRUE(can_write_schema(rules, staff, &root));
}

TEST(MemberSets, ReadableByRuleAndPosture) {
  Schema s = model(R"({"timestamps": false,
    "fields": {"name": "string", "salary": {"type": "number", "read": ["hr"]},
               "note": {"type": "string", "read": []}},
    "relations": {"boss": {"read": ["hr"]}, "team": {}},
    "computes": {"age": {"read": ["hr"]}, "tag": {}}})");
  RoleRules open;
  Context guest = ctx(R"({"role": "guest"})");
  Context hr = ctx(R"({"role": "hr"})");
  Context internal = ctx(R"({"internal": true})");
  using N = Names;

  EXPECT_FALSE(get_readable_fields(open, s, nullptr));
  EXPECT_FALSE(get_readable_relations(open, s, nullptr));
  EXPECT_FALSE(get_readable_computes(open, s, nullptr));
  EXPECT_EQ(get_readable_fields(open, s, &guest), (N{"name", "note"}));
  EXPECT_EQ(get_readable_fields(closed(), s, &guest), (N{"name"}));
  EXPECT_EQ(get_readable_fields(open, s, &hr), (N{"name", "note", "salary"}));
  EXPECT_EQ(get_readable_fields(closed(), s, &internal), (N{"name", "note", "salary"}));
  EXPECT_EQ(get_readable_relations(open, s, &guest), (N{"team"}));
  EXPECT_EQ(get_readable_computes(open, s, &hr), (N{"age", "tag"}));

  EXPECT_TRUE(is_field_readable(open, s, &guest, "name.first"));
  EXPECT_FALSE(is_field_readable(open, s, &guest, "salary.base"));
  EXPECT_TRUE(is_field_readable(open, s, &guest, "undeclared.x"));
  EXPECT_TRUE(is_field_readable(open, s, nullptr, "salary"));
  EXPECT_FALSE(is_relation_readable(open, s, &guest, "boss"));
  EXPECT_TRUE(is_relation_readable(open, s, &hr, "boss"));
}

TEST(MemberSets, WritableFollowsTheModelFlag) {
  Schema s = model(R"({"timestamps": false, "write": ["editor"],
    "fields": {"title": "string", "status": {"type": "string", "write": ["reviewer"]},
               "memo": {"type": "string", "write": []}}})");
  RoleRules rules;
  rules.deny_write_roles = {"auditor"};
  using N = Names;
  Context editor = ctx(R"({"role": "editor"})");
  Context reviewer = ctx(R"({"role": "reviewer"})");
  Context auditor = ctx(R"({"roles": ["reviewer", "auditor"]})");
  EXPECT_FALSE(get_writable_fields(rules, s, nullptr));
  EXPECT_EQ(get_writable_fields(rules, s, &editor), (N{"memo", "title"}));
  // The model refuses a reviewer: only fields with their own passing rule.
  EXPECT_EQ(get_writable_fields(rules, s, &reviewer), (N{"memo", "status"}));
  EXPECT_EQ(get_writable_fields(closed(), s, &reviewer), (N{"status"}));
  EXPECT_EQ(get_writable_fields(rules, s, &auditor), (N{"memo", "status"}));
}

TEST(FilterWritableData, KeepsIdAndWritableHeads) {
  Schema s = model(R"({"timestamps": false, "write": ["editor"],
    "fields": {"profile": "object", "secret": {"type": "string", "write": ["admin"]}}})");
  RoleRules rules;
  Context editor = ctx(R"({"role": "editor"})");
  Context guest = ctx(R"({"role": "guest"})");
  Json data = parse(R"({"_id": 1, "profile.name": "a", "profile": {}, "secret": "s", "other": 2,
                        "_id.x": 3})");
  EXPECT_EQ(filter_writable_data(rules, s, &editor, data),
            parse(R"({"_id": 1, "profile.name": "a", "profile": {}})"));
  EXPECT_EQ(filter_writable_data(rules, s, &guest, data), parse(R"({"_id": 1})"));
  EXPECT_EQ(filter_writable_data(rules, s, nullptr, data), data);
  for (const char* other : {"[1, 2]", "\"text\"", "null"}) {
    EXPECT_EQ(filter_writable_data(rules, s, &guest, parse(other)), parse(other)) << other;
  }
}

TEST(OwnerCondition, CreatorGovernedReads) {
  RoleRules rules;
  rules.exempt_roles = {"root"};
  Schema mine = model(R"({"read": ["creator"]})");
  Schema shared = model(R"({"read": ["creator", "manager"]})");
  Context u1 = ctx(R"({"userId": "u1", "role": "guest"})");
  Context manager = ctx(R"({"userId": "u1", "roles": ["x", "manager"]})");
  Context anonymous = ctx(R"({"role": "guest"})");
  Context internal = ctx(R"({"userId": "u1", "internal": true})");
  Context root = ctx(R"({"userId": "u1", "role": "root"})");

  EXPECT_TRUE(can_read_schema(rules, mine, &anonymous));
  EXPECT_TRUE(should_inject_owner_condition(rules, mine, &u1));
  EXPECT_TRUE(should_inject_owner_condition(rules, shared, &u1));
  EXPECT_FALSE(should_inject_owner_condition(rules, shared, &manager));
  EXPECT_FALSE(should_inject_owner_condition(rules, mine, &anonymous));
  EXPECT_FALSE(should_inject_owner_condition(rules, mine, &internal));
  EXPECT_FALSE(should_inject_owner_condition(rules, mine, &root));
  EXPECT_FALSE(should_inject_owner_condition(rules, mine, nullptr));
  EXPECT_FALSE(should_inject_owner_condition(rules, model("{}"), &u1));

  auto merge = [&](const Context* c, std::optional<Json> cond) {
    return merge_owner_condition(rules, mine, c, std::move(cond));
  };
  EXPECT_EQ(merge(&u1, parse(R"({"status": "open"})")),
            parse(R"({"$and": [{"status": "open"}, {"createdBy": "u1"}]})"));
  EXPECT_EQ(merge(&u1, parse("{}")), parse(R"({"$and": [{}, {"createdBy": "u1"}]})"));
  for (const char* falsy : {"null", "false", "0", "\"\""}) {
    EXPECT_EQ(merge(&u1, parse(falsy)), parse(R"({"createdBy": "u1"})")) << falsy;
  }
  EXPECT_EQ(merge(&u1, std::nullopt), parse(R"({"createdBy": "u1"})"));
  EXPECT_EQ(merge(&anonymous, std::nullopt), std::nullopt);
  EXPECT_EQ(merge(&anonymous, parse("[1]")), parse("[1]"));
}

TEST(Gates, DefinitionLayerAndRequireContext) {
  schema::MetaPolicy open;
  schema::MetaPolicy shut{true, {"schema-admin"}};
  Context admin = ctx(R"({"roles": ["x", "schema-admin"]})");
  Context guest = ctx("{}");
  Context internal = ctx(R"({"internal": true})");
  EXPECT_TRUE(can_register(open, nullptr));
  EXPECT_TRUE(can_register(open, &guest));
  EXPECT_FALSE(can_register(shut, nullptr));
  EXPECT_FALSE(can_register(shut, &guest));
  EXPECT_TRUE(can_register(shut, &internal));
  EXPECT_TRUE(can_register(shut, &admin));

  EXPECT_EQ(testing::error_of([] { require_context_gate(true, nullptr); }),
            std::string(kNoContextMessage));
  EXPECT_EQ(testing::error_of([&] { require_context_gate(true, &guest); }), "");
  EXPECT_EQ(testing::error_of([] { require_context_gate(false, nullptr); }), "");
}

}  // namespace
}  // namespace varnel::permission
