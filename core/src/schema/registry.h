// The registry: the catalog of schemas (shared between a base registry and
// its policy views, copied before a change) and the policy settings.
#pragma once

#include <cstddef>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "schema/definition.h"

namespace varnel::permission {
struct Context;
}

namespace varnel::rbac {
struct RbacPolicy;
}

namespace varnel::schema {

enum class Profile { Standard, Text2Query };
enum class UnconfiguredPolicy { Open, Closed };
enum class WriteLinkPolicy { Reject, PrimaryOnly };

// Exact text forms; unknown texts fail with the messages of each setting.
Profile profile_from_str_or_err(std::string_view text);
UnconfiguredPolicy unconfigured_policy_from_str_or_err(std::string_view text);
WriteLinkPolicy write_link_policy_from_str_or_err(std::string_view text);
std::string_view profile_text(Profile profile);
std::string_view unconfigured_policy_text(UnconfiguredPolicy policy);
std::string_view write_link_policy_text(WriteLinkPolicy policy);

struct RoleRules {
  std::vector<std::string> exempt_roles;       // pass every permission decision
  std::vector<std::string> deny_write_roles;   // refused on every write path
  UnconfiguredPolicy unconfigured_policy = UnconfiguredPolicy::Open;
};

// Who may register or override definitions when closed.
struct MetaPolicy {
  bool closed = false;
  std::vector<std::string> roles;
};

struct PolicyBundle {
  RoleRules role_rules;
  MetaPolicy meta;
  // The dynamic role policy, if any. Immutable once parsed, so a policy
  // view shares its base's policy instead of copying it.
  std::shared_ptr<const rbac::RbacPolicy> rbac;
};

struct Entry {
  Schema schema;
  std::vector<Location> locations;
};

struct Catalog {
  std::vector<std::string> names;  // first-registration order
  std::map<std::string, Entry, std::less<>> entries;
};

// The message refusing a catalog change on a policy view.
std::string view_readonly_message();

// A definition and the place its data lives.
struct LoadItem {
  Json defn;
  Location location;
};

// Which name occupies which storage slot. The slot is the location's
// source, database and schema with the collection; role and priority take
// no part. Borrows its texts.
struct Placement {
  std::string_view name;
  std::string_view collection;
  const Location* location;
};

// Two names on one storage slot; `first` took it first.
struct LocationConflict {
  std::string collection;
  std::string first;
  std::string second;
  std::string source;
  std::optional<std::string> database;
  std::optional<std::string> schema;
};

// The first placement whose slot another name already holds. One name may
// occupy a slot several times.
std::optional<LocationConflict> detect_location_conflict(const std::vector<Placement>& placements);

// A second primary item for a name, at these batch positions.
struct DuplicatePrimary {
  std::string name;
  std::size_t first;
  std::size_t second;
};

// Why a batch cannot be classified: a plain message, a duplicate primary
// or a location conflict. Each caller words it in its own message.
class BatchError : public std::exception {
 public:
  using Form = std::variant<std::string, DuplicatePrimary, LocationConflict>;
  explicit BatchError(Form form) : form_(std::move(form)) {}
  const Form& form() const { return form_; }
  const char* what() const noexcept override { return "batch classification error"; }

 private:
  Form form_;
};

// A classified batch. Items are referred to by their batch position, so a
// BatchClass is read together with the items it was made from.
struct BatchClass {
  struct Primary {
    std::size_t item;
    std::string collection;  // the definition's "collection", else the name
  };
  std::vector<std::string> names;  // distinct names, in order of first appearance
  std::map<std::string, Primary, std::less<>> primaries;
  std::map<std::string, std::vector<std::size_t>, std::less<>> replicas;  // batch order
};

// Sorts every item into the one primary or the replicas of its name (a
// truthy "replica" makes a replica) and checks the storage slots. Throws
// BatchError. A name with replicas and no primary is not an error here.
BatchClass classify_batch(const std::vector<LoadItem>& items);

// Link declarations per schema name (ascending), each a placement with its
// role and priority.
using LinkDecls = std::vector<std::pair<std::string, std::vector<Location>>>;

// Read-link warnings are objects {"code", "hint", "layer", "message",
// "schema", "source"}.
struct ReadLinks {
  std::vector<Location> locations;
  std::vector<Json> warnings;
};

class Registry {
 public:
  Registry();

  // A policy view: shares this registry's catalog snapshot and copies its
  // settings; it can never change its schemas.
  Registry make_view() const;

  bool is_base() const { return is_base_; }
  bool has(std::string_view name) const;
  const std::vector<std::string>& list() const { return catalog_->names; }
  const Catalog& catalog() const { return *catalog_; }
  // Fails with "Schema 未注册: {}".
  const Entry& get_entry(std::string_view name) const;
  const Schema& get(std::string_view name) const { return get_entry(name).schema; }

  // The catalog, made exclusive first (copied when a view shares it).
  // Refused on a view.
  Catalog& catalog_for_change();
  // Replaces the whole catalog (a batch commit). Refused on a view.
  void replace_catalog(Catalog catalog);
  // Empties the catalog. Refused on a view.
  void clear();

  // Registers a batch all or nothing: classifies it, checks the
  // definition-layer gate, normalises every primary with its archive
  // companion, checks every storage slot of the resulting catalog, then
  // commits. After a failure the catalog is exactly as before.
  void register_batch(const std::vector<LoadItem>& items, const permission::Context* ctx);
  // A batch of one at the default location.
  void register_with_ctx(Json defn, const permission::Context* ctx);
  // The definition-layer gate under this registry's meta policy.
  bool can_register(const permission::Context* ctx) const;

  // Adds or re-roles placements of registered schemas (and of their archive
  // companions unless declared themselves). All or nothing.
  void apply_link_decls(const LinkDecls& links);

  // The schema's placements in read order (role, then priority, absent
  // last), without those on unreachable sources, each reported by a warning.
  ReadLinks resolve_read_links(std::string_view name,
                               const std::vector<std::string>* unreachable) const;

  // The entry whose collection sits at that place; an empty database or
  // schema counts as absent.
  const Entry& get_by_location(std::string_view source, std::optional<std::string_view> database,
                               std::optional<std::string_view> schema,
                               std::string_view collection) const;
  // As get_by_location, falling back to the one structure declaration
  // (no database, no schema) among the source's schemas of that collection.
  const Entry& get_for_command(std::string_view source, std::optional<std::string_view> database,
                               std::optional<std::string_view> schema,
                               std::string_view collection) const;

  PolicyBundle policy;
  bool require_context = false;
  Profile profile = Profile::Standard;
  WriteLinkPolicy writeLinkPolicy = WriteLinkPolicy::Reject;

 private:
  void check_base() const;

  std::shared_ptr<Catalog> catalog_;
  bool is_base_ = true;
};

}  // namespace varnel::schema
