// The registry: the catalog of schemas (shared between a base registry and
// its policy views, copied before a change) and the policy settings.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "schema/definition.h"

namespace varnel::schema {

enum class Profile { Standard, Text2Query };
enum class UnconfiguredPolicy { Open, Closed };
enum class WriteLinkPolicy { Reject, PrimaryOnly };

// Exact text forms; unknown texts fail with the messages of each setting.
Profile profile_from_str_or_err(std::string_view text);
UnconfiguredPolicy unconfigured_policy_from_str_or_err(std::string_view text);
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
