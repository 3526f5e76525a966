#include "rbac.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::rbac {
namespace {

using schema::Registry;
using testing::error_of;
using testing::parse;

Context ctx(const char* value) {
  return *permission::context_from_value(parse(value));
}

RbacPolicy policy(const char* text) {
  return RbacPolicy::from_json(parse(text));
}

Names names(std::initializer_list<const char*> list) {
  return Names(list.begin(), list.end());
}

// A registry with the model Doc (fields a, b, c and "secret", readable by
// "boss" only) and the model Other, under the given policy.
Registry registry(const char* rbac_text) {
  Registry r;
  r.register_with_ctx(parse(R"({"name": "Doc", "timestamps": false,
      "fields": {"a": "string", "b": "string", "c": "string",
                 "secret": {"type": "string", "read": ["boss"], "write": ["boss"]}}})"),
                      nullptr);
  r.register_with_ctx(parse(R"({"name": "Other", "timestamps": false, "fields": {"x": "string"}})"),
                      nullptr);
  if (rbac_text != nullptr) r.policy.rbac = std::make_shared<const RbacPolicy>(policy(rbac_text));
  return r;
}

std::string dump(const std::optional<Json>& v) {
  return v ? v->dump() : "none";
}

TEST(RbacParse, RefusesWithTheFirstFault) {
  struct Case {
    const char* policy;
    const char* message;
  };
  const Case cases[] = {
      {"[]", "RBAC 策略必须是对象"},
      {R"({"mode": "strict"})", R"(RBAC mode "strict" 非法（仅支持 overlay / enforce）)"},
      {R"({"mode": 1, "roles": 3})", "RBAC mode 1 非法（仅支持 overlay / enforce）"},
      {R"({"roles": ["a"]})", R"(RBAC roles 必须是对象，实际 ["a"])"},
      {R"({"roles": {"": 1, "a": 1}})", "RBAC roles 含空角色名"},
      {R"({"mode": "enforce"})",
       "RBAC mode=enforce 时 roles 不能为空（无受管角色 = 策略空转，属配置错误）"},
      {R"({"mode": "enforce", "roles": {}, "grants": 5})",
       "RBAC mode=enforce 时 roles 不能为空（无受管角色 = 策略空转，属配置错误）"},
      {R"({"grants": {"a": 1}})", R"(RBAC grants 必须是数组，实际 {"a":1})"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"]}, 7]})",
       "RBAC grants[1] 必须是对象"},
      {R"({"grants": [{"model": "M", "actions": ["read"]}]})",
       "RBAC grants[0].role 必须是非空字符串"},
      {R"({"grants": [{"role": "a", "model": "", "actions": ["read"]}]})",
       "RBAC grants[0].model 必须是非空字符串"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": []}]})",
       "RBAC grants[0].actions 不能为空（不授权请移除该 grant）"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": "read"}]})",
       "RBAC grants[0].actions 必须是非空数组"},
      {R"({"grants": [{"role": "a", "model": "M"}]})", "RBAC grants[0].actions 必须是非空数组"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read", null, "x"]}]})",
       "RBAC grants[0].actions 含非字符串项 null"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read", "Read"]}]})",
       R"(RBAC grants[0].actions 含非法值 "Read"（仅支持 read/insert/update/remove/write）)"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "readFields": "a"}]})",
       R"(RBAC grants[0].readFields 必须是字符串数组，实际 "a")"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "readFields": []}]})",
       "RBAC grants[0].readFields 不能为空数组（全禁请移除该 grant）"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "writeFields": ["a", ""]}]})",
       R"(RBAC grants[0].writeFields 含非法项 ""（须非空字符串）)"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "readFields": [2],
           "writeFields": []}]})",
       "RBAC grants[0].readFields 含非法项 2（须非空字符串）"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "condition": [1]}]})",
       "RBAC grants[0].condition 必须是对象（等值条件），实际 [1]"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "condition": {"$or": 1}}]})",
       R"(RBAC grants[0].condition 键 "$or" 非法（第一批仅支持等值字段条件，键不得以 $ 开头）)"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"], "condition": {"": 1}}]})",
       R"(RBAC grants[0].condition 键 "" 非法（第一批仅支持等值字段条件，键不得以 $ 开头）)"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"],
           "condition": {"status": {"$in": [1]}, "$x": 1}}]})",
       R"(RBAC grants[0].condition 键 "$x" 非法（第一批仅支持等值字段条件，键不得以 $ 开头）)"},
      {R"({"grants": [{"role": "a", "model": "M", "actions": ["read"],
           "condition": {"status": {"$in": [1]}}}]})",
       R"(RBAC grants[0].condition["status"] 必须是标量（string/number/bool/null），实际 {"$in":[1]})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_of([&] { policy(c.policy); }), c.message) << c.policy;
  }
}

TEST(RbacParse, ReadsGrants) {
  RbacPolicy p = policy(R"({"mode": null, "roles": null, "other": 1, "grants": [
      {"role": "a", "model": "M", "actions": ["write", "insert"], "ownerOnly": "yes", "x": 1},
      {"role": "b", "model": "*", "actions": ["read", "read"], "readFields": ["f", "g", "f"],
       "writeFields": null, "ownerOnly": 0, "condition": {"team": "t", "n": null}}]})");
  EXPECT_EQ(p.mode, Mode::Overlay);
  EXPECT_TRUE(p.roles.empty());
  ASSERT_EQ(p.grants.size(), 2u);
  const Grant& w = p.grants[0];
  EXPECT_FALSE(w.actions.contains(Action::Read));
  for (Action a : {Action::Insert, Action::Update, Action::Remove})
    EXPECT_TRUE(w.actions.contains(a));
  EXPECT_TRUE(w.owner_only);
  EXPECT_FALSE(w.condition);
  EXPECT_FALSE(w.read_fields);
  const Grant& r = p.grants[1];
  EXPECT_EQ(r.model, "*");
  EXPECT_TRUE(r.actions.contains(Action::Read));
  EXPECT_FALSE(r.actions.has_write());
  EXPECT_EQ(r.read_fields, names({"f", "g"}));
  EXPECT_FALSE(r.write_fields);
  EXPECT_FALSE(r.owner_only);
  EXPECT_EQ(dump(r.condition), R"({"n":null,"team":"t"})");

  RbacPolicy e = policy(R"({"mode": "enforce", "roles": {"m": null, "n": 1}, "grants": null})");
  EXPECT_EQ(e.mode, Mode::Enforce);
  EXPECT_EQ(e.roles.size(), 2u);
  EXPECT_TRUE(e.grants.empty());
}

TEST(RbacDecide, WhoIsGoverned) {
  const RbacPolicy overlay = policy(R"({"roles": {"m": 1}, "grants": [
      {"role": "m", "model": "Doc", "actions": ["read"]},
      {"role": "u", "model": "*", "actions": ["insert"]}]})");
  const RbacPolicy enforce = policy(R"({"mode": "enforce", "roles": {"m": 1}, "grants": [
      {"role": "m", "model": "Doc", "actions": ["read"]},
      {"role": "u", "model": "*", "actions": ["insert"]}]})");
  const std::vector<std::string> exempt = {"root"};

  struct Case {
    const char* ctx;  // nullptr: no context
    const char* model;
    int overlay_grants;  // -1: not governed
    int enforce_grants;
  };
  const Case cases[] = {
      {nullptr, "Doc", -1, -1},
      {R"({"internal": true, "role": "m"})", "Doc", -1, -1},
      {R"({"roles": ["m", "root"]})", "Doc", -1, -1},
      {R"({"role": "m"})", "Doc", 1, 1},          // managed, matching grant
      {R"({"role": "m"})", "Other", -1, 0},       // managed, no grant: enforce governs with nothing
      {R"({"role": "u"})", "Other", 1, -1},       // unmanaged with a "*" grant: enforce ignores it
      {R"({"roles": ["m", "u"]})", "Doc", 2, 2},  // enforce keeps the unmanaged role's grant
      {R"({"role": "v"})", "Doc", -1, -1},
      {"{}", "Doc", -1, -1},
  };
  for (const Case& c : cases) {
    std::optional<Context> context;
    if (c.ctx != nullptr) context = ctx(c.ctx);
    const Context* p = context ? &*context : nullptr;
    const std::pair<const RbacPolicy*, int> modes[] = {{&overlay, c.overlay_grants},
                                                       {&enforce, c.enforce_grants}};
    for (auto [pol, expected] : modes) {
      auto d = decide(*pol, exempt, p, c.model);
      SCOPED_TRACE(std::string(c.ctx ? c.ctx : "none") + " on " + c.model);
      if (expected < 0) {
        EXPECT_FALSE(d);
      } else {
        ASSERT_TRUE(d);
        EXPECT_EQ(static_cast<int>(d->grants.size()), expected);
      }
    }
  }
}

TEST(RbacDecide, FieldListsOfTheDecision) {
  const RbacPolicy p = policy(R"({"grants": [
      {"role": "a", "model": "M", "actions": ["read"], "readFields": ["x", "y"]},
      {"role": "a", "model": "M", "actions": ["read", "update"], "readFields": ["z"],
       "writeFields": ["x"]},
      {"role": "a", "model": "M", "actions": ["insert"], "readFields": ["ignored"],
       "writeFields": ["w"]},
      {"role": "b", "model": "M", "actions": ["read"]},
      {"role": "c", "model": "M", "actions": ["update"], "readFields": ["x"]}]})");
  const Context a = ctx(R"({"role": "a"})");
  auto d = decide(p, {}, &a, "M");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->read_fields(), names({"x", "y", "z"}));  // only grants carrying "read"
  EXPECT_EQ(d->write_fields(), names({"w", "x"}));
  for (Action act : {Action::Read, Action::Insert, Action::Update})
    EXPECT_TRUE(d->actions.contains(act));
  EXPECT_FALSE(d->actions.contains(Action::Remove));

  const Context ab = ctx(R"({"roles": ["a", "b"]})");
  EXPECT_FALSE(decide(p, {}, &ab, "M")->read_fields());  // b's grant reads every field
  const Context c = ctx(R"({"role": "c"})");
  auto dc = decide(p, {}, &c, "M");
  EXPECT_FALSE(dc->read_fields());   // no grant carries "read"
  EXPECT_FALSE(dc->write_fields());  // the write grant has no list
}

TEST(RbacEnsure, ActionChecks) {
  Registry r = registry(R"({"mode": "enforce", "roles": {"m": 1}, "grants": [
      {"role": "m", "model": "Doc", "actions": ["read", "update"]}]})");
  const auto& doc = r.get("Doc");
  const auto& other = r.get("Other");
  const Context m = ctx(R"({"role": "m"})");
  const Context guest = ctx(R"({"role": "guest"})");
  EXPECT_EQ(error_of([&] { ensure_read(r, doc, &m); }), "");
  EXPECT_EQ(error_of([&] { ensure_write(r, doc, &m, WriteAction::Update); }), "");
  EXPECT_EQ(error_of([&] { ensure_write(r, doc, &m, WriteAction::Remove); }),
            "ERR_PERMISSION:RBAC:角色对 [Doc] 无 [remove] 权限");
  EXPECT_EQ(error_of([&] { ensure_read(r, other, &m); }),
            "ERR_PERMISSION:RBAC:角色对 [Other] 无 [read] 权限");
  EXPECT_EQ(error_of([&] { ensure_write(r, other, &guest, WriteAction::Insert); }), "");
  EXPECT_EQ(error_of([&] { ensure_read(r, other, nullptr); }), "");

  Registry none = registry(nullptr);
  EXPECT_EQ(error_of([&] { ensure_read(none, none.get("Doc"), &m); }), "");
}

TEST(RbacRows, RowConditions) {
  Registry r = registry(R"({"grants": [
      {"role": "t", "model": "Doc", "actions": ["read", "update"], "condition": {"team": "x"}},
      {"role": "o", "model": "Doc", "actions": ["read"], "ownerOnly": true},
      {"role": "b", "model": "Doc", "actions": ["read", "remove"], "ownerOnly": true,
       "condition": {"k": 1}},
      {"role": "free", "model": "*", "actions": ["read"]}]})");
  const auto& doc = r.get("Doc");
  struct Case {
    const char* ctx;
    Action action;
    const char* condition;
  };
  const Case cases[] = {
      {R"({"roles": ["t", "o"], "userId": "u1"})", Action::Read,
       R"({"$or":[{"team":"x"},{"createdBy":"u1"}]})"},
      {R"({"roles": ["t", "o", "free"], "userId": "u1"})", Action::Read, "none"},
      {R"({"roles": ["t", "o"], "userId": "u1"})", Action::Update, R"({"team":"x"})"},
      {R"({"role": "o"})", Action::Read, R"({"__rbac_impossible__":true})"},
      {R"({"role": "o", "userId": ""})", Action::Read, R"({"__rbac_impossible__":true})"},
      {R"({"role": "b", "userId": "u2"})", Action::Remove,
       R"({"$and":[{"createdBy":"u2"},{"k":1}]})"},
      {R"({"role": "t"})", Action::Remove, "none"},  // no grant for the action
      {R"({"role": "nobody"})", Action::Read, "none"},
      {R"({"role": "o", "internal": 1})", Action::Read, "none"},
  };
  for (const Case& c : cases) {
    const Context context = ctx(c.ctx);
    EXPECT_EQ(dump(row_condition(r, doc, &context, c.action)), c.condition) << c.ctx;
  }
  EXPECT_EQ(dump(row_condition(r, doc, nullptr, Action::Read)), "none");
}

TEST(RbacRows, MergeRowCondition) {
  Registry r = registry(R"({"grants": [
      {"role": "t", "model": "Doc", "actions": ["read"], "condition": {"b": 2}}]})");
  const auto& doc = r.get("Doc");
  const Context t = ctx(R"({"role": "t"})");
  const Context other = ctx(R"({"role": "z"})");
  struct Case {
    const Context* ctx;
    const char* condition;  // nullptr: absent
    const char* merged;
  };
  const Case cases[] = {
      {&t, R"({"a": 1})", R"({"$and":[{"a":1},{"b":2}]})"},
      {&t, "{}", R"({"b":2})"},
      {&t, nullptr, R"({"b":2})"},
      {&t, "[1]", R"({"b":2})"},
      {&other, R"({"a": 1})", R"({"a":1})"},
      {&other, "{}", "none"},
      {&other, nullptr, "none"},
  };
  for (const Case& c : cases) {
    std::optional<Json> condition;
    if (c.condition != nullptr) condition = parse(c.condition);
    EXPECT_EQ(dump(merge_row_condition(r, doc, c.ctx, Action::Read, condition)), c.merged)
        << (c.condition ? c.condition : "absent");
  }
}

TEST(RbacRows, WriteOnStoredDocument) {
  Registry r = registry(R"({"grants": [
      {"role": "t", "model": "Doc", "actions": ["update"], "condition": {"team": "x", "org.id": 7}},
      {"role": "o", "model": "Doc", "actions": ["update", "remove"], "ownerOnly": true},
      {"role": "e", "model": "Doc", "actions": ["update"], "condition": {}},
      {"role": "free", "model": "Doc", "actions": ["remove"]}]})");
  const auto& doc = r.get("Doc");
  const char* limited = "ERR_PERMISSION:RBAC:角色对 [Doc] 的 [update] 限于本人/条件内文档";
  struct Case {
    const char* ctx;
    WriteAction action;
    const char* doc;
    std::string error;
  };
  const Case cases[] = {
      {R"({"role": "t"})", WriteAction::Update, R"({"team": "x", "org": {"id": 7.0}})", ""},
      {R"({"role": "t"})", WriteAction::Update, R"({"team": "x", "org": {"id": 8}})", limited},
      {R"({"role": "t"})", WriteAction::Update, R"({"team": "x"})", limited},
      // a stored document may also hold the dotted key itself
      {R"({"role": "t"})", WriteAction::Update, R"({"team": "x", "org.id": 7})", ""},
      {R"({"role": "t"})", WriteAction::Update, R"({"team": "x", "org.id": 8, "org": {"id": 7}})",
       limited},
      {R"({"role": "t"})", WriteAction::Remove, "{}",
       "ERR_PERMISSION:RBAC:角色对 [Doc] 无 [remove] 权限"},
      {R"({"role": "o", "userId": "u1"})", WriteAction::Update, R"({"createdBy": "u1"})", ""},
      {R"({"role": "o", "userId": "u1"})", WriteAction::Update, R"({"createdBy": "u2"})", limited},
      // Without a user id an owner-only grant admits no document, not even
      // one carrying the marker of the impossible row condition.
      {R"({"role": "o"})", WriteAction::Update, R"({"__rbac_impossible__": true})", limited},
      {R"({"roles": ["o", "t"], "userId": "u1"})", WriteAction::Update,
       R"({"createdBy": "u2", "team": "x", "org": {"id": 7}})", ""},
      {R"({"role": "e"})", WriteAction::Update, "{}", ""},  // an empty condition admits any object
      {R"({"role": "e"})", WriteAction::Update, "[]", limited},
      {R"({"roles": ["o", "free"], "userId": "u1"})", WriteAction::Remove, R"({"createdBy": "x"})",
       ""},
      {R"({"role": "nobody"})", WriteAction::Remove, "null", ""},
  };
  for (const Case& c : cases) {
    const Context context = ctx(c.ctx);
    const Json stored = parse(c.doc);
    EXPECT_EQ(error_of([&] { ensure_write_on_doc(r, doc, &context, c.action, stored); }), c.error)
        << c.ctx << " " << c.doc;
  }

  const Context both = ctx(R"({"roles": ["o", "t", "e"], "userId": "u1"})");
  EXPECT_EQ(probe_condition_fields(r, doc, &both, Action::Update),
            (std::vector<std::string>{"org.id", "team"}));
  EXPECT_TRUE(probe_condition_fields(r, doc, &both, Action::Remove).empty());
  EXPECT_TRUE(probe_condition_fields(r, doc, nullptr, Action::Update).empty());
}

TEST(RbacFields, Overlays) {
  Registry r = registry(R"({"grants": [
      {"role": "g", "model": "Doc", "actions": ["read", "insert"], "readFields": ["b", "c"],
       "writeFields": ["a", "secret"]},
      {"role": "all", "model": "Doc", "actions": ["read", "update"]}]})");
  const Context g = ctx(R"({"role": "g"})");
  const Context all = ctx(R"({"role": "all"})");
  const Context boss = ctx(R"({"roles": ["g", "boss"]})");

  EXPECT_EQ(overlay_readable_fields(r, "Doc", &g, names({"_id", "a", "b"})), names({"_id", "b"}));
  EXPECT_EQ(overlay_readable_fields(r, "Doc", &g, names({"a", "b"})), names({"b"}));
  EXPECT_EQ(overlay_readable_fields(r, "Doc", &g, std::nullopt), names({"_id", "b", "c"}));
  EXPECT_EQ(overlay_readable_fields(r, "Doc", &all, names({"a"})), names({"a"}));
  EXPECT_EQ(overlay_readable_fields(r, "Doc", &all, std::nullopt), std::nullopt);
  EXPECT_EQ(overlay_readable_fields(r, "Doc", nullptr, std::nullopt), std::nullopt);
  EXPECT_EQ(overlay_writable_fields(r, "Doc", &g, names({"a", "b"})), names({"a"}));

  const auto& doc = r.get("Doc");
  struct Case {
    const Context* ctx;
    const char* path;
    bool readable;
  };
  const Case cases[] = {
      {&g, "b", true},           {&g, "c.d", true},
      {&g, "a", false},          {&g, "_id", false},
      {&g, "secret", false},     {&boss, "secret", false},
      {&all, "a", true},         {&all, "secret", false},
      {&g, "undeclared", false},  // undeclared fields are left to the grant's list
      {nullptr, "secret", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_field_readable_overlay(r, doc, c.ctx, c.path), c.readable) << c.path;
  }

  const Json data = parse(R"({"_id": 1, "a": 1, "a.x": 2, "b": 3, "secret": 4, "zz": 5})");
  EXPECT_EQ(filter_writable_data_overlay(r, doc, &g, data).dump(), R"({"_id":1,"a":1,"a.x":2})");
  EXPECT_EQ(filter_writable_data_overlay(r, doc, &boss, data).dump(),
            R"({"_id":1,"a":1,"a.x":2,"secret":4})");
  EXPECT_EQ(filter_writable_data_overlay(r, doc, &all, data).dump(),
            R"({"_id":1,"a":1,"a.x":2,"b":3})");
  EXPECT_EQ(filter_writable_data_overlay(r, doc, nullptr, data), data);
  EXPECT_EQ(filter_writable_data_overlay(r, doc, &g, parse("[1]")), parse("[1]"));
}

TEST(RbacActions, FromText) {
  EXPECT_EQ(write_action_from_str("insert"), WriteAction::Insert);
  EXPECT_EQ(write_action_from_str("update"), WriteAction::Update);
  EXPECT_EQ(write_action_from_str("remove"), WriteAction::Remove);
  for (const char* bad : {"read", "write", "Insert", ""}) {
    EXPECT_EQ(error_of([&] { write_action_from_str(bad); }),
              format("RBAC action \"{}\" 非法（仅支持 read / insert / update / remove）", {bad}));
  }
}

TEST(PolicyOverrides, RefusesWithTheFirstFault) {
  struct Case {
    const char* overrides;
    const char* message;
  };
  const Case cases[] = {
      {"[]", "策略覆盖必须是 JSON 对象"},
      {R"({"profile": 1})", "profile 必须是字符串"},
      {R"({"profile": "Standard"})", "未知 profile: Standard（仅 standard / text2query）"},
      {R"({"requireContext": 1})", "requireContext 必须是布尔"},
      {R"({"writeLinkPolicy": null})", "writeLinkPolicy 必须是字符串"},
      {R"({"writeLinkPolicy": "primary"})",
       "未知 writeLinkPolicy: primary（仅 reject / primaryOnly）"},
      {R"({"rbac": {"mode": "enforce"}})",
       "RBAC mode=enforce 时 roles 不能为空（无受管角色 = 策略空转，属配置错误）"},
      {R"({"rbac": []})", "RBAC 策略必须是对象"},
      {R"({"roleRules": null})", "roleRules 必须是 JSON 对象"},
      {R"({"roleRules": {"exemptRoles": "a"}})", "roleRules.exemptRoles 必须是字符串数组"},
      {R"({"roleRules": {"exemptRoles": ["a", 1]}})", "roleRules.exemptRoles 的元素必须都是字符串"},
      {R"({"roleRules": {"denyWriteRoles": [null]}})",
       "roleRules.denyWriteRoles 的元素必须都是字符串"},
      {R"({"roleRules": {"unconfigured": true}})", "roleRules.unconfigured 必须是字符串"},
      {R"({"roleRules": {"unconfigured": "Closed"}})",
       "未知 unconfigured_policy: Closed（仅 open / closed）"},
      {R"({"roleRules": {"exempt": []}})", "ERR_POLICY_VIEW_READONLY: 未知 roleRules 键 `exempt`"},
      {R"({"metaPolicy": []})", "metaPolicy 必须是 JSON 对象"},
      {R"({"metaPolicy": {"closed": 1}})", "metaPolicy.closed 必须是布尔"},
      {R"({"metaPolicy": {"roles": [1]}})", "metaPolicy.roles 的元素必须都是字符串"},
      {R"({"metaPolicy": {"roles": {}}})", "metaPolicy.roles 必须是字符串数组"},
      {R"({"metaPolicy": {"open": true}})", "ERR_POLICY_VIEW_READONLY: 未知 metaPolicy 键 `open`"},
      {R"({"zone": 1})", "ERR_POLICY_VIEW_READONLY: 未知策略覆盖键 `zone`"},
      // Keys are examined in ascending order: the unknown "aaa" comes first.
      {R"({"profile": 1, "aaa": 1})", "ERR_POLICY_VIEW_READONLY: 未知策略覆盖键 `aaa`"},
      {R"({"metaPolicy": {"closed": 1}, "profile": 1})", "metaPolicy.closed 必须是布尔"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_of([&] { PolicyOverrides::from_value(parse(c.overrides)); }), c.message)
        << c.overrides;
  }
}

TEST(PolicyOverrides, BuildsAView) {
  Registry base = registry(R"({"grants": [{"role": "a", "model": "Doc", "actions": ["read"]}]})");
  base.require_context = true;
  base.profile = schema::Profile::Text2Query;
  base.writeLinkPolicy = schema::WriteLinkPolicy::PrimaryOnly;
  base.policy.role_rules = {{"root"}, {"guest"}, schema::UnconfiguredPolicy::Closed};
  base.policy.meta = {true, {"ops"}};

  Registry same = with_policy(base, PolicyOverrides::from_value(parse("{}")));
  EXPECT_FALSE(same.is_base());
  EXPECT_EQ(same.list(), base.list());
  EXPECT_EQ(&same.catalog(), &base.catalog());
  EXPECT_EQ(same.policy.rbac, base.policy.rbac);
  EXPECT_TRUE(same.require_context);
  EXPECT_EQ(same.profile, schema::Profile::Text2Query);
  EXPECT_EQ(same.writeLinkPolicy, schema::WriteLinkPolicy::PrimaryOnly);
  EXPECT_EQ(same.policy.role_rules.exempt_roles, std::vector<std::string>{"root"});
  EXPECT_TRUE(same.policy.meta.closed);

  Registry changed = with_policy(base, PolicyOverrides::from_value(parse(R"({
      "rbac": null, "requireContext": false, "profile": "standard", "writeLinkPolicy": "reject",
      "roleRules": {"denyWriteRoles": ["guest2"]}, "metaPolicy": {"roles": ["x"]}})")));
  EXPECT_FALSE(changed.policy.rbac);
  EXPECT_TRUE(base.policy.rbac);
  EXPECT_FALSE(changed.require_context);
  EXPECT_EQ(changed.profile, schema::Profile::Standard);
  EXPECT_EQ(changed.writeLinkPolicy, schema::WriteLinkPolicy::Reject);
  // Whole records: keys left out take their defaults, not the base's values.
  EXPECT_TRUE(changed.policy.role_rules.exempt_roles.empty());
  EXPECT_EQ(changed.policy.role_rules.deny_write_roles, std::vector<std::string>{"guest2"});
  EXPECT_EQ(changed.policy.role_rules.unconfigured_policy, schema::UnconfiguredPolicy::Open);
  EXPECT_FALSE(changed.policy.meta.closed);
  EXPECT_EQ(changed.policy.meta.roles, std::vector<std::string>{"x"});

  Registry governed =
      with_policy(changed, PolicyOverrides::from_value(parse(R"({"rbac": {"grants": [
      {"role": "b", "model": "Doc", "actions": ["insert"]}]}})")));
  const Context b = ctx(R"({"role": "b"})");
  EXPECT_EQ(error_of([&] { ensure_read(governed, governed.get("Doc"), &b); }),
            "ERR_PERMISSION:RBAC:角色对 [Doc] 无 [read] 权限");
  EXPECT_EQ(governed.policy.role_rules.deny_write_roles, std::vector<std::string>{"guest2"});

  base.clear();
  EXPECT_TRUE(base.list().empty());
  EXPECT_EQ(governed.list(), same.list());
  EXPECT_TRUE(governed.has("Doc"));
}

}  // namespace
}  // namespace varnel::rbac
