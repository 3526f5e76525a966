// The request context and the static permission decisions: model, field,
// relation and compute rules of a definition, bent by the registry's role
// rules; the owner condition of creator-governed models; the definition-layer
// gate and the require-context gate. Pure decisions over borrowed values.
//
// An optional context is passed as `const Context*`: nullptr is "no
// context", which is not the same as an internal (system) context.
#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "schema/definition.h"
#include "schema/registry.h"
#include "types.h"

namespace varnel::permission {

// Who is asking: a user with roles, or the system itself (`internal`).
struct Context {
  std::optional<std::string> userId;
  std::optional<std::vector<std::string>> roles;
  std::optional<std::string> role;  // used only when `roles` is absent or empty
  bool internal = false;

  // The roles the caller acts with: `roles` when non-empty, else `role`,
  // else the single empty role.
  std::span<const std::string> effective() const;
};

// Reads a context from a JSON value. A non-object gives no context; wrong
// member types count as absent; never fails.
std::optional<Context> context_from_value(const Json& value);

// Whether one of the caller's effective roles is in the list.
bool has_any(const Context& ctx, std::span<const std::string> roles);

using Names = std::set<std::string>;

// One rule decision. A rule of [] or unset follows the unconfigured
// posture. With a document check, "creator" allows only the document's
// creator; without one it allows any caller.
bool evaluate(const schema::RoleRules& rules, const Context* ctx, const schema::Rule& rule,
              bool document_check, const Json* doc);

bool can_read_schema(const schema::RoleRules& rules, const schema::Schema& schema,
                     const Context* ctx);
bool can_write_schema(const schema::RoleRules& rules, const schema::Schema& schema,
                      const Context* ctx);

// Readable or writable member names; nullopt means unrestricted (no
// context). An internal or exempt caller gets the full set.
std::optional<Names> get_readable_fields(const schema::RoleRules& rules,
                                         const schema::Schema& schema, const Context* ctx);
std::optional<Names> get_readable_relations(const schema::RoleRules& rules,
                                            const schema::Schema& schema, const Context* ctx);
std::optional<Names> get_readable_computes(const schema::RoleRules& rules,
                                           const schema::Schema& schema, const Context* ctx);
std::optional<Names> get_writable_fields(const schema::RoleRules& rules,
                                         const schema::Schema& schema, const Context* ctx);

// A dotted path is judged by its first segment; undeclared fields are readable.
bool is_field_readable(const schema::RoleRules& rules, const schema::Schema& schema,
                       const Context* ctx, std::string_view path);
bool is_relation_readable(const schema::RoleRules& rules, const schema::Schema& schema,
                          const Context* ctx, std::string_view name);

// A new object holding the entries of the object `data` whose key is "_id"
// or whose first segment is in `writable`.
Json keep_writable_keys(const Json& data, const Names& writable);

// Keeps "_id" and the keys whose first segment is writable; a non-object
// payload, or an unrestricted caller, gets a copy unchanged.
Json filter_writable_data(const schema::RoleRules& rules, const schema::Schema& schema,
                          const Context* ctx, const Json& data);

// Whether reads must be limited to the caller's own documents: the model's
// read rule names "creator" and the caller has no other role in it.
bool should_inject_owner_condition(const schema::RoleRules& rules, const schema::Schema& schema,
                                   const Context* ctx);

// The condition with {"createdBy": userId} added when the owner condition
// applies: alone for a falsy condition, else {"$and": [condition, owner]}.
std::optional<Json> merge_owner_condition(const schema::RoleRules& rules,
                                          const schema::Schema& schema, const Context* ctx,
                                          std::optional<Json> condition);

// The definition-layer gate: whether the caller may register or override
// definitions.
bool can_register(const schema::MetaPolicy& meta, const Context* ctx);

// The require-context gate of planning entry points: fails with the
// no-context message when a context is required and none was given.
void require_context_gate(bool required, const Context* ctx);

}  // namespace varnel::permission
