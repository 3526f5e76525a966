// Data-source kinds, the configuration mapping source names to kinds, and
// the resolution of a schema to the kind of store it lives in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "schema/registry.h"
#include "types.h"

namespace varnel::datasource {

enum class DataSource { Mongo, Mysql, Postgres, Sqlite, Local };

// Recognises a kind in any letter case: "mongo"/"mongodb", "local"/"memory",
// or a SQL backend name.
std::optional<DataSource> kind_from_text(std::string_view text);

// As kind_from_text; fails with "不支持的后端: {}" naming the lower-cased text.
DataSource from_kind(std::string_view text);

// "mongo", "mysql", "postgres", "sqlite" or "local".
std::string_view datasource_text(DataSource kind);

// Source names and their kinds, in insertion order, names unique.
class DataSourceConfig {
 public:
  // {"sources": {name: kind}}. A non-object, or no "sources" object, is the
  // empty configuration; a kind that is not a string or not recognised fails.
  static DataSourceConfig from_json(const Json& value);

  // Replaces the kind of a known name in place, else appends.
  void register_source(std::string name, DataSource kind);

  // The kind of the named source (failing when undeclared); without a name
  // the "default" source's kind, or mongo when it is not declared.
  DataSource resolve(const std::optional<std::string>& name) const;

  const std::vector<std::pair<std::string, DataSource>>& sources() const { return sources_; }

 private:
  std::vector<std::pair<std::string, DataSource>> sources_;
};

// The schema's source, absent when it lives in the default source.
const std::optional<std::string>& schema_datasource(const schema::Registry& registry,
                                                    std::string_view schema_name);

// The kind of store the schema lives in under the configuration.
DataSource resolve_datasource(const schema::Registry& registry, std::string_view schema_name,
                              const Json& config);

}  // namespace varnel::datasource
