#include "rbac.h"

#include <algorithm>
#include <utility>

#include "error.h"

namespace varnel::rbac {

namespace {

using schema::Registry;
using schema::Schema;

constexpr std::string_view kActionTexts[] = {"read", "insert", "update", "remove"};

// The first placeholder of messages about keys a policy view does not know.
constexpr std::string_view kViewReadonly = "ERR_POLICY_VIEW_READONLY:";

// ---- parsing ----

Mode parse_mode(const Json* mode) {
  if (mode == nullptr || mode->is_null()) return Mode::Overlay;
  if (mode->is_string()) {
    const auto& text = mode->get_ref<const std::string&>();
    if (text == "overlay") return Mode::Overlay;
    if (text == "enforce") return Mode::Enforce;
  }
  fail("RBAC mode {} 非法（仅支持 overlay / enforce）", {compact_json(*mode)});
}

ActionSet parse_actions(const Json& grant, std::string_view index) {
  const Json* actions = find_key(grant, "actions");
  if (actions != nullptr && actions->is_array() && actions->empty()) {
    fail("RBAC grants[{}].actions 不能为空（不授权请移除该 grant）", {index});
  }
  if (actions == nullptr || !actions->is_array()) {
    fail("RBAC grants[{}].actions 必须是非空数组", {index});
  }
  ActionSet out;
  for (const Json& a : *actions) {
    if (!a.is_string()) fail("RBAC grants[{}].actions 含非字符串项 {}", {index, compact_json(a)});
    const auto& text = a.get_ref<const std::string&>();
    if (text == "write") {
      for (WriteAction w : {WriteAction::Insert, WriteAction::Update, WriteAction::Remove}) {
        out.add(action_of(w));
      }
      continue;
    }
    auto known = std::find(std::begin(kActionTexts), std::end(kActionTexts), text);
    if (known == std::end(kActionTexts)) {
      fail("RBAC grants[{}].actions 含非法值 \"{}\"（仅支持 read/insert/update/remove/write）",
           {index, text});
    }
    out.add(static_cast<Action>(known - std::begin(kActionTexts)));
  }
  return out;
}

std::optional<Names> parse_fields(const Json& grant, std::string_view key, std::string_view index) {
  const Json* v = find_key(grant, key);
  if (v == nullptr || v->is_null()) return std::nullopt;
  if (!v->is_array()) {
    fail("RBAC grants[{}].{} 必须是字符串数组，实际 {}", {index, key, compact_json(*v)});
  }
  if (v->empty()) fail("RBAC grants[{}].{} 不能为空数组（全禁请移除该 grant）", {index, key});
  Names out;
  for (const Json& e : *v) {
    const std::string* name = non_empty_string(&e);
    if (name == nullptr) {
      fail("RBAC grants[{}].{} 含非法项 {}（须非空字符串）", {index, key, compact_json(e)});
    }
    out.insert(*name);
  }
  return out;
}

std::optional<Json> parse_condition(const Json& grant, std::string_view index) {
  const Json* c = find_key(grant, "condition");
  if (c == nullptr || c->is_null()) return std::nullopt;
  if (!c->is_object()) {
    fail("RBAC grants[{}].condition 必须是对象（等值条件），实际 {}", {index, compact_json(*c)});
  }
  for (const auto& [key, value] : c->items()) {
    if (key.empty() || key.front() == '$') {
      fail("RBAC grants[{}].condition 键 \"{}\" 非法（第一批仅支持等值字段条件，键不得以 $ 开头）",
           {index, key});
    }
    if (value.is_array() || value.is_object()) {
      fail("RBAC grants[{}].condition[\"{}\"] 必须是标量（string/number/bool/null），实际 {}",
           {index, key, compact_json(value)});
    }
  }
  return *c;
}

Grant parse_grant(const Json& g, std::size_t position) {
  const std::string index = std::to_string(position);
  if (!g.is_object()) fail("RBAC grants[{}] 必须是对象", {index});
  auto text = [&](std::string_view key) {
    const std::string* s = non_empty_string(find_key(g, key));
    if (s == nullptr) fail("RBAC grants[{}].{} 必须是非空字符串", {index, key});
    return *s;
  };
  Grant grant;
  grant.role = text("role");
  grant.model = text("model");
  grant.actions = parse_actions(g, index);
  grant.read_fields = parse_fields(g, "readFields", index);
  grant.write_fields = parse_fields(g, "writeFields", index);
  grant.owner_only = is_truthy_key(g, "ownerOnly");
  grant.condition = parse_condition(g, index);
  return grant;
}

// ---- decisions ----

// The decision under the registry's policy; nullopt without a policy or
// when it does not govern the caller on the model.
std::optional<ModelDecision> governed(const Registry& registry, std::string_view model,
                                      const Context* ctx) {
  const auto& policy = registry.policy.rbac;
  if (!policy) return std::nullopt;
  return decide(*policy, registry.policy.role_rules.exempt_roles, ctx, model);
}

void require_action(const ModelDecision& decision, const Schema& schema, Action action) {
  if (!decision.actions.contains(action)) {
    fail("ERR_PERMISSION:RBAC:角色对 [{}] 无 [{}] 权限", {schema.name, action_text(action)});
  }
}

void ensure(const Registry& registry, const Schema& schema, const Context* ctx, Action action) {
  if (auto decision = governed(registry, schema.name, ctx)) {
    require_action(*decision, schema, action);
  }
}

enum class FieldUse { Read, Write };

// The field lists that narrow `use`: those of the matching grants carrying
// a read (respectively write) action. Empty when nothing narrows: one of
// those grants has no list, or none carries such an action.
std::vector<const Names*> narrowing_lists(const ModelDecision& decision, FieldUse use) {
  std::vector<const Names*> lists;
  for (const Grant* g : decision.grants) {
    bool carries =
        use == FieldUse::Read ? g->actions.contains(Action::Read) : g->actions.has_write();
    if (!carries) continue;
    const auto& fields = use == FieldUse::Read ? g->read_fields : g->write_fields;
    if (!fields) return {};
    lists.push_back(&*fields);
  }
  return lists;
}

std::optional<Names> union_of(const std::vector<const Names*>& lists) {
  if (lists.empty()) return std::nullopt;
  Names out;
  for (const Names* l : lists) out.insert(l->begin(), l->end());
  return out;
}

bool in_any(const std::vector<const Names*>& lists, const std::string& name) {
  return std::any_of(lists.begin(), lists.end(), [&](const Names* l) { return l->contains(name); });
}

std::optional<Names> overlay(const Registry& registry, std::string_view model, const Context* ctx,
                             std::optional<Names> base, FieldUse use) {
  auto decision = governed(registry, model, ctx);
  if (!decision) return base;
  auto lists = narrowing_lists(*decision, use);
  if (lists.empty()) return base;
  if (!base) {
    auto out = union_of(lists);
    out->insert("_id");
    return out;
  }
  std::erase_if(*base, [&](const std::string& n) { return n != "_id" && !in_any(lists, n); });
  return base;
}

// The value under the key itself when the document holds it, else the
// value at the dotted path through nested objects.
const Json* value_at(const Json& doc, std::string_view path) {
  if (const Json* literal = find_key(doc, path)) return literal;
  const Json* cur = &doc;
  for (;;) {
    std::size_t dot = path.find('.');
    cur = find_key(*cur, path.substr(0, dot));
    if (cur == nullptr || dot == std::string_view::npos) return cur;
    path.remove_prefix(dot + 1);
  }
}

// Whether the stored document lies within a restricting grant's rows. The
// owner part needs the caller's user id: without one it admits nothing.
bool grant_admits(const Grant& grant, const Context& ctx, const Json& doc) {
  if (!doc.is_object()) return false;
  if (grant.owner_only) {
    if (!ctx.userId || ctx.userId->empty()) return false;
    const Json* creator = find_key(doc, "createdBy");
    if (creator == nullptr || !creator->is_string() ||
        creator->get_ref<const std::string&>() != *ctx.userId) {
      return false;
    }
  }
  if (!grant.condition) return true;
  for (const auto& [key, expected] : grant.condition->items()) {
    const Json* actual = value_at(doc, key);
    if (actual == nullptr || *actual != expected) return false;
  }
  return true;
}

// ---- policy overrides ----

const std::string& string_setting(const Json& v, const char* message) {
  if (!v.is_string()) fail(message);
  return v.get_ref<const std::string&>();
}

bool bool_setting(const Json& v, const char* message) {
  if (!v.is_boolean()) fail(message);
  return v.get<bool>();
}

std::vector<std::string> role_list(const Json& v, std::string_view path) {
  if (!v.is_array()) fail("{} 必须是字符串数组", {path});
  std::vector<std::string> out;
  out.reserve(v.size());
  for (const Json& e : v) {
    if (!e.is_string()) fail("{} 的元素必须都是字符串", {path});
    out.push_back(e.get<std::string>());
  }
  return out;
}

schema::RoleRules parse_role_rules(const Json& v) {
  if (!v.is_object()) fail("roleRules 必须是 JSON 对象");
  schema::RoleRules rules;
  for (const auto& [key, value] : v.items()) {
    if (key == "denyWriteRoles") {
      rules.deny_write_roles = role_list(value, "roleRules.denyWriteRoles");
    } else if (key == "exemptRoles") {
      rules.exempt_roles = role_list(value, "roleRules.exemptRoles");
    } else if (key == "unconfigured") {
      rules.unconfigured_policy = schema::unconfigured_policy_from_str_or_err(
          string_setting(value, "roleRules.unconfigured 必须是字符串"));
    } else {
      fail("{} 未知 roleRules 键 `{}`", {kViewReadonly, key});
    }
  }
  return rules;
}

schema::MetaPolicy parse_meta_policy(const Json& v) {
  if (!v.is_object()) fail("metaPolicy 必须是 JSON 对象");
  schema::MetaPolicy meta;
  for (const auto& [key, value] : v.items()) {
    if (key == "closed") {
      meta.closed = bool_setting(value, "metaPolicy.closed 必须是布尔");
    } else if (key == "roles") {
      meta.roles = role_list(value, "metaPolicy.roles");
    } else {
      fail("{} 未知 metaPolicy 键 `{}`", {kViewReadonly, key});
    }
  }
  return meta;
}

}  // namespace

std::string_view action_text(Action action) {
  return kActionTexts[static_cast<std::size_t>(action)];
}

WriteAction write_action_from_str(std::string_view text) {
  for (WriteAction w : {WriteAction::Insert, WriteAction::Update, WriteAction::Remove}) {
    if (action_text(action_of(w)) == text) return w;
  }
  fail("RBAC action \"{}\" 非法（仅支持 read / insert / update / remove）", {text});
}

RbacPolicy RbacPolicy::from_json(const Json& value) {
  if (!value.is_object()) fail("RBAC 策略必须是对象");
  RbacPolicy policy;
  policy.mode = parse_mode(find_key(value, "mode"));

  if (const Json* roles = find_key(value, "roles"); roles != nullptr && !roles->is_null()) {
    if (!roles->is_object()) fail("RBAC roles 必须是对象，实际 {}", {compact_json(*roles)});
    for (const auto& [role, ignored] : roles->items()) {
      if (role.empty()) fail("RBAC roles 含空角色名");
      policy.roles.insert(policy.roles.end(), role);
    }
  }
  if (policy.mode == Mode::Enforce && policy.roles.empty()) {
    fail("RBAC mode=enforce 时 roles 不能为空（无受管角色 = 策略空转，属配置错误）");
  }

  if (const Json* grants = find_key(value, "grants"); grants != nullptr && !grants->is_null()) {
    if (!grants->is_array()) fail("RBAC grants 必须是数组，实际 {}", {compact_json(*grants)});
    policy.grants.reserve(grants->size());
    for (std::size_t i = 0; i < grants->size(); ++i) {
      policy.grants.push_back(parse_grant((*grants)[i], i));
    }
  }
  return policy;
}

std::optional<Names> ModelDecision::read_fields() const {
  return union_of(narrowing_lists(*this, FieldUse::Read));
}

std::optional<Names> ModelDecision::write_fields() const {
  return union_of(narrowing_lists(*this, FieldUse::Write));
}

std::optional<ModelDecision> decide(const RbacPolicy& policy,
                                    std::span<const std::string> exempt_roles, const Context* ctx,
                                    std::string_view model) {
  if (ctx == nullptr || ctx->internal || permission::has_any(*ctx, exempt_roles)) {
    return std::nullopt;
  }
  const auto roles = ctx->effective();
  auto holds = [&](std::string_view role) {
    return std::find(roles.begin(), roles.end(), role) != roles.end();
  };
  ModelDecision decision;
  for (const Grant& g : policy.grants) {
    if ((g.model == model || g.model == "*") && holds(g.role)) {
      decision.actions |= g.actions;
      decision.grants.push_back(&g);
    }
  }
  bool is_governed =
      policy.mode == Mode::Enforce
          ? std::any_of(roles.begin(), roles.end(),
                        [&](const std::string& r) { return policy.roles.contains(r); })
          : !decision.grants.empty();
  if (!is_governed) return std::nullopt;
  return decision;
}

void ensure_read(const Registry& registry, const Schema& schema, const Context* ctx) {
  ensure(registry, schema, ctx, Action::Read);
}

void ensure_write(const Registry& registry, const Schema& schema, const Context* ctx,
                  WriteAction action) {
  ensure(registry, schema, ctx, action_of(action));
}

void ensure_write_on_doc(const Registry& registry, const Schema& schema, const Context* ctx,
                         WriteAction write, const Json& doc) {
  auto decision = governed(registry, schema.name, ctx);
  if (!decision) return;
  const Action action = action_of(write);
  require_action(*decision, schema, action);
  for (const Grant* g : decision->grants) {
    if (!g->actions.contains(action)) continue;
    if ((!g->owner_only && !g->condition) || grant_admits(*g, *ctx, doc)) return;
  }
  fail("ERR_PERMISSION:RBAC:角色对 [{}] 的 [{}] 限于本人/条件内文档",
       {schema.name, action_text(action)});
}

std::optional<Json> grant_row_restriction(const Grant& grant, const Context& ctx) {
  if (!grant.owner_only) return grant.condition;
  Json owner = ctx.userId && !ctx.userId->empty() ? Json::object({{"createdBy", *ctx.userId}})
                                                  : Json::object({{"__rbac_impossible__", true}});
  if (!grant.condition) return owner;
  Json both = Json::array();
  both.push_back(std::move(owner));
  both.push_back(*grant.condition);
  return Json::object({{"$and", std::move(both)}});
}

std::optional<Json> row_condition(const Registry& registry, const Schema& schema,
                                  const Context* ctx, Action action) {
  auto decision = governed(registry, schema.name, ctx);
  if (!decision) return std::nullopt;
  Json restrictions = Json::array();
  for (const Grant* g : decision->grants) {
    if (!g->actions.contains(action)) continue;
    auto restriction = grant_row_restriction(*g, *ctx);
    if (!restriction) return std::nullopt;  // an unrestricted grant lifts every row limit
    restrictions.push_back(std::move(*restriction));
  }
  if (restrictions.empty()) return std::nullopt;
  if (restrictions.size() == 1) return std::move(restrictions[0]);
  return Json::object({{"$or", std::move(restrictions)}});
}

std::optional<Json> merge_row_condition(const Registry& registry, const Schema& schema,
                                        const Context* ctx, Action action,
                                        std::optional<Json> condition) {
  auto row = row_condition(registry, schema, ctx, action);
  if (!condition || !condition->is_object() || condition->empty()) return row;
  if (!row) return condition;
  Json both = Json::array();
  both.push_back(std::move(*condition));
  both.push_back(std::move(*row));
  return Json::object({{"$and", std::move(both)}});
}

std::vector<std::string> probe_condition_fields(const Registry& registry, const Schema& schema,
                                                const Context* ctx, Action action) {
  std::vector<std::string> fields;
  auto decision = governed(registry, schema.name, ctx);
  if (!decision) return fields;
  for (const Grant* g : decision->grants) {
    if (!g->actions.contains(action) || !g->condition) continue;
    for (const auto& [key, ignored] : g->condition->items()) {
      if (std::find(fields.begin(), fields.end(), key) == fields.end()) fields.push_back(key);
    }
  }
  return fields;
}

std::optional<Names> overlay_readable_fields(const Registry& registry, std::string_view model,
                                             const Context* ctx, std::optional<Names> base) {
  return overlay(registry, model, ctx, std::move(base), FieldUse::Read);
}

std::optional<Names> overlay_writable_fields(const Registry& registry, std::string_view model,
                                             const Context* ctx, std::optional<Names> base) {
  return overlay(registry, model, ctx, std::move(base), FieldUse::Write);
}

bool is_field_readable_overlay(const Registry& registry, const Schema& schema, const Context* ctx,
                               std::string_view path) {
  if (!permission::is_field_readable(registry.policy.role_rules, schema, ctx, path)) return false;
  auto decision = governed(registry, schema.name, ctx);
  if (!decision) return true;
  auto lists = narrowing_lists(*decision, FieldUse::Read);
  return lists.empty() || in_any(lists, std::string(path.substr(0, path.find('.'))));
}

Json filter_writable_data_overlay(const Registry& registry, const Schema& schema,
                                  const Context* ctx, const Json& data) {
  if (!data.is_object()) return data;
  auto writable = overlay_writable_fields(
      registry, schema.name, ctx,
      permission::get_writable_fields(registry.policy.role_rules, schema, ctx));
  return writable ? permission::keep_writable_keys(data, *writable) : data;
}

PolicyOverrides PolicyOverrides::from_value(const Json& value) {
  if (!value.is_object()) fail("策略覆盖必须是 JSON 对象");
  PolicyOverrides out;
  for (const auto& [key, v] : value.items()) {
    if (key == "metaPolicy") {
      out.metaPolicy = parse_meta_policy(v);
    } else if (key == "profile") {
      out.profile = schema::profile_from_str_or_err(string_setting(v, "profile 必须是字符串"));
    } else if (key == "rbac") {
      out.rbac =
          v.is_null() ? nullptr : std::make_shared<const RbacPolicy>(RbacPolicy::from_json(v));
    } else if (key == "requireContext") {
      out.requireContext = bool_setting(v, "requireContext 必须是布尔");
    } else if (key == "roleRules") {
      out.roleRules = parse_role_rules(v);
    } else if (key == "writeLinkPolicy") {
      out.writeLinkPolicy = schema::write_link_policy_from_str_or_err(
          string_setting(v, "writeLinkPolicy 必须是字符串"));
    } else {
      fail("{} 未知策略覆盖键 `{}`", {kViewReadonly, key});
    }
  }
  return out;
}

schema::Registry with_policy(const Registry& base, const PolicyOverrides& overrides) {
  Registry view = base.make_view();
  if (overrides.rbac) view.policy.rbac = *overrides.rbac;
  if (overrides.roleRules) view.policy.role_rules = *overrides.roleRules;
  if (overrides.metaPolicy) view.policy.meta = *overrides.metaPolicy;
  if (overrides.requireContext) view.require_context = *overrides.requireContext;
  if (overrides.profile) view.profile = *overrides.profile;
  if (overrides.writeLinkPolicy) view.writeLinkPolicy = *overrides.writeLinkPolicy;
  return view;
}

}  // namespace varnel::rbac
