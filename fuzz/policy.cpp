// Role policies and policy-view overrides from outside, as arbitrary JSON:
// parsing either succeeds or fails with a message, and a parsed policy only
// ever narrows what the static rules allow.
// libFuzzer options: -max_len=4096 -dict=fuzz/policy.dict

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "error.h"
#include "permission.h"
#include "rbac.h"
#include "schema/registry.h"

using namespace varnel;

namespace {

void check_narrowing(const schema::Registry& r, const permission::Context& ctx) {
  const schema::Schema& schema = r.get("Doc");
  const auto& rules = r.policy.role_rules;
  auto readable = permission::get_readable_fields(rules, schema, &ctx);
  auto narrowed = rbac::overlay_readable_fields(r, "Doc", &ctx, readable);
  if (readable && narrowed &&
      !std::includes(readable->begin(), readable->end(), narrowed->begin(), narrowed->end())) {
    __builtin_trap();
  }
  Json data = Json::parse(R"({"_id": 1, "a": 1, "b.c": 2, "z": 3})");
  Json kept = rbac::filter_writable_data_overlay(r, schema, &ctx, data);
  for (const auto& [key, value] : kept.items()) {
    if (!data.contains(key)) __builtin_trap();
  }
  for (auto action : {rbac::Action::Read, rbac::Action::Update, rbac::Action::Remove}) {
    rbac::merge_row_condition(r, schema, &ctx, action, Json::object({{"a", 1}}));
    rbac::probe_condition_fields(r, schema, &ctx, action);
  }
  rbac::is_field_readable_overlay(r, schema, &ctx, "b.c");
  try {
    rbac::ensure_read(r, schema, &ctx);
    rbac::ensure_write_on_doc(r, schema, &ctx, rbac::WriteAction::Update, data);
  } catch (const CoreError& e) {
    if (e.kind() != ErrorKind::Permission) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Json value = Json::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;

  schema::Registry base;
  base.register_with_ctx(Json::parse(R"({"name": "Doc", "fields": {"a": "string",
      "b": {"type": "object", "read": ["r"], "write": ["w"]}}})"),
                         nullptr);
  const permission::Context callers[] = {
      *permission::context_from_value(Json::parse(R"({"roles": ["a", "r"], "userId": "u"})")),
      *permission::context_from_value(Json::parse(R"({"role": "w"})")),
      *permission::context_from_value(Json::parse("{}")),
  };

  try {
    base.policy.rbac = std::make_shared<const rbac::RbacPolicy>(rbac::RbacPolicy::from_json(value));
    for (const auto& ctx : callers) check_narrowing(base, ctx);
  } catch (const CoreError&) {
  }
  try {
    schema::Registry view = rbac::with_policy(base, rbac::PolicyOverrides::from_value(value));
    if (view.is_base() || &view.catalog() != &base.catalog()) __builtin_trap();
    for (const auto& ctx : callers) check_narrowing(view, ctx);
  } catch (const CoreError&) {
  }
  return 0;
}
