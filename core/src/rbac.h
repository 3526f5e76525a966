// The dynamic role policy of a registry: grants of actions on models to
// roles, with readable and writable field lists and row restrictions per
// grant. It is decided per caller and model on top of the static rules of
// the permission module and can only narrow them: a caller the policy does
// not govern is left to the static rules alone.
//
// Also the policy views: registries that share a base's catalog snapshot
// under their own policy settings.
//
// An optional context is passed as `const Context*` (nullptr: no context).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "permission.h"
#include "schema/definition.h"
#include "schema/registry.h"
#include "types.h"

namespace varnel::rbac {

using permission::Context;
using permission::Names;

enum class Action : std::uint8_t { Read, Insert, Update, Remove };

// The write actions in their index order, as the write planners name them.
enum class WriteAction : std::uint8_t { Insert, Update, Remove };

constexpr Action action_of(WriteAction action) {
  return static_cast<Action>(static_cast<std::uint8_t>(action) + 1);
}

// "read", "insert", "update" or "remove".
std::string_view action_text(Action action);

// "insert", "update" or "remove"; anything else fails with the
// illegal-action message.
WriteAction write_action_from_str(std::string_view text);

class ActionSet {
 public:
  void add(Action action) { bits_ |= bit(action); }
  ActionSet& operator|=(ActionSet other) {
    bits_ |= other.bits_;
    return *this;
  }
  bool contains(Action action) const { return (bits_ & bit(action)) != 0; }
  bool has_write() const { return (bits_ & ~bit(Action::Read)) != 0; }

 private:
  static constexpr std::uint8_t bit(Action action) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(action));
  }
  std::uint8_t bits_ = 0;
};

// Overlay: only callers with a grant for the model are governed. Enforce:
// every caller holding a managed role is governed.
enum class Mode { Overlay, Enforce };

struct Grant {
  std::string role;
  std::string model;  // "*" matches every model
  ActionSet actions;
  std::optional<Names> read_fields;   // absent: every field
  std::optional<Names> write_fields;  // absent: every field
  bool owner_only = false;            // rows created by the caller only
  std::optional<Json> condition;      // rows equal to these scalars, key by key
};

struct RbacPolicy {
  Mode mode = Mode::Overlay;
  std::set<std::string, std::less<>> roles;  // managed roles
  std::vector<Grant> grants;                 // in policy order

  // Parses the policy JSON; fails with a message naming the first fault.
  static RbacPolicy from_json(const Json& value);
};

// How the policy governs one caller on one model. Borrows the grants of the
// policy it was decided from and must not outlive it.
struct ModelDecision {
  ActionSet actions;                 // union of the matching grants' actions
  std::vector<const Grant*> grants;  // the matching grants, in policy order

  // Union of the field lists of the matching grants carrying "read"
  // (respectively a write action); absent when one of them has no list or
  // none carries such an action.
  std::optional<Names> read_fields() const;
  std::optional<Names> write_fields() const;
};

// The decision for a caller on a model, or nullopt when the policy does not
// govern it: no context, the system context, an exempt role, or (overlay) no
// matching grant, or (enforce) no managed role.
std::optional<ModelDecision> decide(const RbacPolicy& policy,
                                    std::span<const std::string> exempt_roles, const Context* ctx,
                                    std::string_view model);

// Fail with an ERR_PERMISSION message when a governed caller lacks the action.
void ensure_read(const schema::Registry& registry, const schema::Schema& schema,
                 const Context* ctx);
void ensure_write(const schema::Registry& registry, const schema::Schema& schema,
                  const Context* ctx, WriteAction action);
// As ensure_write, and the stored document `doc` must lie within the rows
// of one of the caller's grants for the action.
void ensure_write_on_doc(const schema::Registry& registry, const schema::Schema& schema,
                         const Context* ctx, WriteAction action, const Json& doc);

// The rows a grant limits the caller to: {"createdBy": userId} for an
// owner-only grant ({"__rbac_impossible__": true} without a user id), the
// condition, or both under "$and"; nullopt when it limits nothing.
std::optional<Json> grant_row_restriction(const Grant& grant, const Context& ctx);

// The rows a governed caller may touch with the action: nullopt when
// unrestricted, else the one restriction or "$or" of them in grant order.
std::optional<Json> row_condition(const schema::Registry& registry, const schema::Schema& schema,
                                  const Context* ctx, Action action);

// The caller's condition (ignored unless a non-empty object) combined with
// the row condition under "$and".
std::optional<Json> merge_row_condition(const schema::Registry& registry,
                                        const schema::Schema& schema, const Context* ctx,
                                        Action action, std::optional<Json> condition);

// The condition keys the caller's grants for the action test, which a
// probe of the stored document must fetch. Ascending within a grant,
// grants in policy order, no repeats.
std::vector<std::string> probe_condition_fields(const schema::Registry& registry,
                                                const schema::Schema& schema, const Context* ctx,
                                                Action action);

// The static readable (writable) set narrowed by the caller's field lists:
// base ∩ fields (keeping "_id" when base has it), or fields plus "_id" for
// an unrestricted base. Unchanged when nothing narrows it.
std::optional<Names> overlay_readable_fields(const schema::Registry& registry,
                                             std::string_view model, const Context* ctx,
                                             std::optional<Names> base);
std::optional<Names> overlay_writable_fields(const schema::Registry& registry,
                                             std::string_view model, const Context* ctx,
                                             std::optional<Names> base);

// Static readability of the path's first segment, and the caller's read
// field lists when they narrow it ("_id" gets no exception there).
bool is_field_readable_overlay(const schema::Registry& registry, const schema::Schema& schema,
                               const Context* ctx, std::string_view path);

// The static writable-data filter with the writable set narrowed by the
// caller's write field lists.
Json filter_writable_data_overlay(const schema::Registry& registry, const schema::Schema& schema,
                                  const Context* ctx, const Json& data);

// The argument of `with_policy`. Every member is absent unless given.
struct PolicyOverrides {
  std::optional<schema::Profile> profile;
  std::optional<bool> requireContext;
  std::optional<schema::WriteLinkPolicy> writeLinkPolicy;
  std::optional<schema::RoleRules> roleRules;  // whole: omitted keys take defaults
  std::optional<schema::MetaPolicy> metaPolicy;
  // Given as a policy, or as null (holds nullptr: the view has none).
  std::optional<std::shared_ptr<const RbacPolicy>> rbac;

  // Parses an override object, keys in ascending order; fails with the
  // message of the first fault.
  static PolicyOverrides from_value(const Json& value);
};

// A policy view of `base`: its catalog snapshot (shared, never changed
// through the view) with the overridden settings, the rest as the base's.
schema::Registry with_policy(const schema::Registry& base, const PolicyOverrides& overrides);

}  // namespace varnel::rbac
