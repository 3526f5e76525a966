#include "schema/definition.h"

#include <algorithm>

#include "error.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kRoleTexts[] = {"primary", "replica", "cache", "archive"};

}  // namespace

Role parse_role(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kRoleTexts); ++i) {
    if (kRoleTexts[i] == text) return static_cast<Role>(i);
  }
  fail("未知链路角色: {}（仅 primary/replica/cache/archive）", {text});
}

std::string_view role_text(Role role) { return kRoleTexts[static_cast<std::size_t>(role)]; }

Location Schema::location() const {
  Location loc;
  if (source) loc.source = *source;
  loc.database = database;
  loc.schema = schema;
  return loc;
}

bool Schema::id_is_autoincrement() const {
  auto it = fields.find("_id");
  return it != fields.end() && it->second.strategy == "autoincrement";
}

const ComputeDef* Schema::find_compute(std::string_view name) const {
  auto it = std::lower_bound(computes.begin(), computes.end(), name,
                             [](const auto& entry, std::string_view n) { return entry.first < n; });
  return it != computes.end() && it->first == name ? &it->second : nullptr;
}

}  // namespace varnel::schema
