// The parsed query: a root model with its arguments and a tree of field and
// relation selections, and the JSON form of both.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "types.h"

namespace varnel::pipeline {

// Deepest relation selection a query may nest (a relation selected at the
// root is at level 1). Planning refuses lookups far shallower than this; the
// bound keeps every walk over a tree, and over its JSON form (two levels per
// selection), well inside kMaxDepth.
inline constexpr std::size_t kMaxSelectionDepth = 64;

struct RelAst;
struct RelEntry;

// Argument key (leading "$" removed) -> value token text (a reference such
// as "@w", or an identifier).
using Params = std::map<std::string, std::string, std::less<>>;
using Relations = std::vector<RelEntry>;

// A relation selection.
struct RelAst {
  Params params;
  std::vector<std::string> fields;  // in order of appearance, duplicates kept
  Relations relations;              // in order of appearance

  // {"fields", "params", "relations"}; relations with one name collapse to
  // the later one.
  Json to_value() const;
  // Fails with "RelAst 必须是对象" on a non-object.
  static RelAst from_value(const Json& value);
};

// One relation selection under its name.
struct RelEntry {
  std::string name;
  RelAst ast;
};

// A parsed query: the root model and its selection.
struct Ast : RelAst {
  std::string model;

  // {"fields", "model", "params", "relations"}.
  Json to_value() const;
  // Fails with "Ast 必须是对象" on a non-object.
  static Ast from_value(const Json& value);
};

}  // namespace varnel::pipeline
