// The normalised records of a model definition and their placement.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "schema/triggers.h"
#include "types.h"

namespace varnel::schema {

using Rule = std::optional<std::vector<std::string>>;

// The role of a placement, in this order.
enum class Role { Primary, Replica, Cache, Archive };

// Exact, case-sensitive; fails with "未知链路角色: {}（仅 primary/replica/cache/archive）".
Role parse_role(std::string_view text);
std::string_view role_text(Role role);

struct Location {
  std::string source = "default";
  std::optional<std::string> database;
  std::optional<std::string> schema;
  std::optional<Role> role;
  std::optional<std::int64_t> priority;

  bool operator==(const Location&) const = default;
};

struct FieldDef {
  std::string type;
  bool required = false;
  std::optional<Json> default_value;  // the definition's "default"
  Rule read;
  Rule write;
  std::optional<Json> fields;
  std::optional<std::string> strategy;
};

struct RelationDef {
  std::string model;
  std::string type = "many";
  std::string localField = "_id";
  std::string foreignField;
  Rule read;
};

struct ComputeDef {
  std::string type = "any";
  bool fn = false;
  bool asyncFn = false;
  std::optional<std::string> fnRef;
  std::vector<std::string> depends;
  Rule read;
  std::optional<Json> agg;
};

struct Schema {
  std::string name;
  std::string collection;
  std::string idPrefix;
  FieldTable fields;
  std::map<std::string, RelationDef, std::less<>> relations;
  std::vector<std::pair<std::string, ComputeDef>> computes;  // ascending name order
  std::vector<Json> indexes;
  Rule read;
  Rule write;
  TriggerMap triggers;
  bool timestamps = true;
  std::optional<std::string> source;
  std::optional<std::string> database;
  std::optional<std::string> schema;

  // Source (or "default"), database and schema; no role, no priority.
  Location location() const;
  bool id_is_autoincrement() const;
  const ComputeDef* find_compute(std::string_view name) const;
};

// Reads a definition's "fields" value (nullptr when missing) into the
// field table. A non-object gives an empty table; an entry that is neither
// a type string nor an object fails, and so does a strategy other than
// "autoincrement".
FieldTable normalize_fields(const Json* value);

// Normalises a definition into its schema, placed at `location`. Fails
// with the first refused value's message; wrong types in optional keys
// fall back to their defaults.
Schema build_schema(const Json& defn, std::string_view name, std::string_view collection,
                    const Location& location);

// Every ordinary model has an archive companion `<Name>Deleted` stored in
// `<collection>_deleted`.
inline constexpr std::string_view kArchiveSuffix = "Deleted";
inline constexpr std::string_view kArchiveCollectionSuffix = "_deleted";

// Whether a primary definition registered under `name` derives an archive
// companion: not itself an archive ("_isArchive" falsy, name not ending
// with "Deleted").
bool derives_archive(const Json& defn, std::string_view name);

struct ArchiveDefinition {
  std::string name;        // the model name followed by "Deleted"
  std::string collection;  // the collection followed by "_deleted"
  Json defn;
};

// The companion of the model `name` stored in `collection`: its definition
// keeps the fields (with "deletedAt" added, without an id strategy) and the
// indexes of `defn`, and has no rules, relations, computes or triggers.
ArchiveDefinition archive_definition(const Json& defn, std::string_view name,
                                     std::string_view collection);

}  // namespace varnel::schema
