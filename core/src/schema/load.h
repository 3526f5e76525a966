// Load planning: the store configuration (`store.config.json`) and the
// Host's scan of its definition roots become located, classified load
// items ready for batch registration. Reads no files, keeps no state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "schema/registry.h"
#include "types.h"

namespace varnel::schema {

// One declared data source.
struct SourceDecl {
  std::string name;
  std::string kind;                    // lower-cased
  std::vector<std::string> databases;  // never empty
};

struct LoadConfig {
  std::vector<SourceDecl> sources;  // ascending name order
  std::vector<std::string> defs;    // the definition roots
  LinkDecls links;                  // ascending schema name; every database set

  // Checks the whole configuration, links included; fails with the first
  // mistake's "ERR:LOAD " message (a role text failing keeps its own).
  static LoadConfig from_json(const Json& config);

  struct SourceOfDb {
    const SourceDecl* source;
    int depth;
  };
  // The one source that maintains the database, with the layer depth of
  // its kind. Fails when none or several do.
  SourceOfDb source_of_db(std::string_view database) const;
};

// How many directory levels below a definition root name the storage
// place: 2 (database, then schema) for PostgreSQL, 1 for the other kinds.
int depth_layered(std::string_view kind);

// The location of a definition file whose path below its database
// directory is `rest`.
Location locate(std::string_view rest, std::string_view source, std::string_view database,
                int depth);

// A scanned definition file: its path relative to its root ("/" or "\"
// separated) and its parsed content.
struct FileEntry {
  std::string rel;
  Json defn;
};

// The load items of the scan, by ascending name, each primary followed by
// its replicas in scan order. Every name needs exactly one primary.
std::vector<LoadItem> plan_load(const LoadConfig& config, const std::vector<FileEntry>& files);

// The message of a classification error, naming files by their paths.
std::string batch_err_to_load(const BatchError& error, const std::vector<FileEntry>& files);

}  // namespace varnel::schema
