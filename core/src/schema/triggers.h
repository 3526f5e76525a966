// The "triggers" block of a definition: parsing and validation into
// trigger records. Expansion into write steps happens in the command layer.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "types.h"

namespace varnel::schema {

struct FieldDef;
using FieldTable = std::map<std::string, FieldDef, std::less<>>;

// Command form: a write on another model.
struct TriggerCommand {
  std::string into;
  std::string op;  // insert, update or remove
  Json data;       // an object, or null for remove
  std::optional<Json> condition;
};

// Callback form: a Host callback with its arguments.
struct TriggerCallback {
  std::string fnRef;
  Json args;
};

using TriggerBody = std::variant<TriggerCommand, TriggerCallback>;

struct TriggerDef {
  std::string name;
  std::vector<std::string> onFields;
  std::optional<std::string> cron;
  TriggerBody body;
  std::optional<Json> when;
};

// Event ("insert", "update", "remove", "schedule") to its triggers.
using TriggerMap = std::map<std::string, std::vector<TriggerDef>, std::less<>>;

// Parses defn["triggers"]; fails with the first mistake's message.
TriggerMap parse_triggers(const Json& defn, std::string_view schema_name, const FieldTable& fields);

// Checks a five-field timetable; fails with a message that carries no label.
void validate_cron(std::string_view text);

// Fails when a string anywhere in value refers to "{{root." or "{{before.".
void forbid_root_before_refs(const Json& value, std::string_view label);

}  // namespace varnel::schema
