#include "permission.h"

#include <algorithm>

#include "error.h"

namespace varnel::permission {

namespace {

constexpr std::string_view kCreator = "creator";

using schema::RoleRules;
using schema::Rule;
using schema::Schema;

bool contains(std::span<const std::string> list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// Internal and exempt callers pass every static decision.
bool privileged(const RoleRules& rules, const Context& ctx) {
  return ctx.internal || has_any(ctx, rules.exempt_roles);
}

const std::string* text_member(const Json& obj, std::string_view key) {
  const Json* v = find_key(obj, key);
  return v != nullptr && v->is_string() ? &v->get_ref<const std::string&>() : nullptr;
}

// The members of a table (fields, relations, computes) whose rule, picked
// by `rule_of`, passes without a document check; an unset rule counts as
// passing when `unset_passes`.
template <typename Table, typename RuleOf>
Names passing_members(const RoleRules& rules, const Context& ctx, const Table& table,
                      RuleOf rule_of, bool unset_passes) {
  Names out;
  for (const auto& [name, def] : table) {
    const Rule& rule = rule_of(def);
    bool passes = rule ? evaluate(rules, &ctx, rule, false, nullptr) : unset_passes;
    if (passes) out.insert(out.end(), name);
  }
  return out;
}

template <typename Table, typename RuleOf>
std::optional<Names> readable_members(const RoleRules& rules, const Context* ctx,
                                      const Table& table, RuleOf rule_of) {
  if (ctx == nullptr) return std::nullopt;
  return passing_members(rules, *ctx, table, rule_of, true);
}

constexpr auto read_rule = [](const auto& member) -> const Rule& { return member.read; };

}  // namespace

std::span<const std::string> Context::effective() const {
  static const std::string kNoRole;
  if (roles && !roles->empty()) return *roles;
  if (role) return {&*role, 1};
  return {&kNoRole, 1};
}

std::optional<Context> context_from_value(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  Context ctx;
  if (const std::string* s = text_member(value, "userId")) ctx.userId = *s;
  if (const Json* roles = find_key(value, "roles"); roles != nullptr && roles->is_array()) {
    auto& list = ctx.roles.emplace();
    for (const Json& r : *roles) {
      if (r.is_string()) list.push_back(r.get<std::string>());
    }
  }
  if (const std::string* s = text_member(value, "role")) ctx.role = *s;
  ctx.internal = is_truthy_key(value, "internal");
  return ctx;
}

bool has_any(const Context& ctx, std::span<const std::string> roles) {
  for (const std::string& r : ctx.effective()) {
    if (contains(roles, r)) return true;
  }
  return false;
}

bool evaluate(const RoleRules& rules, const Context* ctx, const Rule& rule, bool document_check,
              const Json* doc) {
  if (ctx == nullptr || privileged(rules, *ctx)) return true;
  if (!rule || rule->empty()) return rules.unconfigured_policy == schema::UnconfiguredPolicy::Open;
  if (has_any(*ctx, *rule)) return true;
  if (!contains(*rule, kCreator)) return false;
  if (!document_check) return true;
  if (!ctx->userId || ctx->userId->empty() || doc == nullptr) return false;
  const std::string* creator = text_member(*doc, "createdBy");
  return creator != nullptr && *creator == *ctx->userId;
}

bool can_read_schema(const RoleRules& rules, const Schema& schema, const Context* ctx) {
  return evaluate(rules, ctx, schema.read, false, nullptr);
}

bool can_write_schema(const RoleRules& rules, const Schema& schema, const Context* ctx) {
  if (ctx != nullptr) {
    // Deny-write roles win even over internal and exempt callers.
    if (has_any(*ctx, rules.deny_write_roles)) return false;
    // An explicit empty write list closes the model whatever the posture.
    if (schema.write && schema.write->empty() && !privileged(rules, *ctx)) return false;
  }
  return evaluate(rules, ctx, schema.write, false, nullptr);
}

std::optional<Names> get_readable_fields(const RoleRules& rules, const Schema& schema,
                                         const Context* ctx) {
  return readable_members(rules, ctx, schema.fields, read_rule);
}

std::optional<Names> get_readable_relations(const RoleRules& rules, const Schema& schema,
                                            const Context* ctx) {
  return readable_members(rules, ctx, schema.relations, read_rule);
}

std::optional<Names> get_readable_computes(const RoleRules& rules, const Schema& schema,
                                           const Context* ctx) {
  return readable_members(rules, ctx, schema.computes, read_rule);
}

std::optional<Names> get_writable_fields(const RoleRules& rules, const Schema& schema,
                                         const Context* ctx) {
  if (ctx == nullptr) return std::nullopt;
  // When the model refuses, only fields with a passing rule of their own remain.
  return passing_members(
      rules, *ctx, schema.fields, [](const schema::FieldDef& f) -> const Rule& { return f.write; },
      can_write_schema(rules, schema, ctx));
}

bool is_field_readable(const RoleRules& rules, const Schema& schema, const Context* ctx,
                       std::string_view path) {
  std::string_view head = path.substr(0, path.find('.'));
  if (!schema.fields.contains(head)) return true;
  auto readable = get_readable_fields(rules, schema, ctx);
  return !readable || readable->contains(std::string(head));
}

bool is_relation_readable(const RoleRules& rules, const Schema& schema, const Context* ctx,
                          std::string_view name) {
  auto readable = get_readable_relations(rules, schema, ctx);
  return !readable || readable->contains(std::string(name));
}

Json filter_writable_data(const RoleRules& rules, const Schema& schema, const Context* ctx,
                          const Json& data) {
  if (!data.is_object()) return data;
  auto writable = get_writable_fields(rules, schema, ctx);
  return writable ? keep_writable_keys(data, *writable) : data;
}

Json keep_writable_keys(const Json& data, const Names& writable) {
  Json out = Json::object();
  for (const auto& [key, value] : data.items()) {
    std::string_view k = key;
    if (k == "_id" || writable.contains(std::string(k.substr(0, k.find('.'))))) out[key] = value;
  }
  return out;
}

bool should_inject_owner_condition(const RoleRules& rules, const Schema& schema,
                                   const Context* ctx) {
  if (ctx == nullptr || !ctx->userId || ctx->userId->empty() || privileged(rules, *ctx)) {
    return false;
  }
  if (!schema.read) return false;
  const auto roles = ctx->effective();
  for (const std::string& r : *schema.read) {
    if (r != kCreator && contains(roles, r)) return false;  // reads by role, not as creator
  }
  return contains(*schema.read, kCreator);
}

std::optional<Json> merge_owner_condition(const RoleRules& rules, const Schema& schema,
                                          const Context* ctx, std::optional<Json> condition) {
  if (!should_inject_owner_condition(rules, schema, ctx)) return condition;
  Json owner = Json::object({{"createdBy", *ctx->userId}});
  if (!condition || !is_truthy(*condition)) return owner;
  Json both = Json::array();
  both.push_back(std::move(*condition));
  both.push_back(std::move(owner));
  return Json::object({{"$and", std::move(both)}});
}

bool can_register(const schema::MetaPolicy& meta, const Context* ctx) {
  if (!meta.closed) return true;
  if (ctx == nullptr) return false;
  return ctx->internal || has_any(*ctx, meta.roles);
}

void require_context_gate(bool required, const Context* ctx) {
  if (required && ctx == nullptr) throw CoreError(std::string(kNoContextMessage));
}

}  // namespace varnel::permission
