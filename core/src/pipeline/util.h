// Checks every planner runs on conditions, sorts and pipelines, the limits of
// the text2query profile, and small helpers on values, schemas and stages.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "schema/definition.h"
#include "schema/registry.h"
#include "types.h"

namespace varnel::pipeline {

// The zero value of a declared type: 0, "", false, [] or {}; null for any
// other name ("number", "any", ...).
Json get_default(std::string_view type_name);

// The declared type of the field that `path` starts with (the text before
// the first "."), or nothing when the schema does not declare it.
std::optional<std::string_view> root_field_type(const schema::Schema& schema,
                                                std::string_view path);

// True when the condition names one of the schema's relations at its top
// level or inside "$and", "$or", "$nor" or "$not".
bool has_relation_predicate(const schema::Schema& schema, const Json& condition);

// Refuses server-executed operators ("$where", "$function", "$accumulator")
// and empty "$and"/"$or"/"$nor" groups anywhere in the value.
void validate_condition(const Json& condition);

// Refuses conditions on array index paths; under text2query also conditions
// on array fields, object fields and object dotted paths. Logical groups and
// "$not" are checked as well.
void validate_condition_shape(const schema::Schema& schema, const Json& condition, bool t2q);

// Under text2query refuses sorting on a dotted path into an object field.
void validate_sort_shape(const schema::Schema& schema, const Json& sort, bool t2q);

// Refuses write stages ("$merge", "$out") at any depth, nested pipelines
// included, and checks every stage's content with validate_condition.
void validate_pipeline_stages(const Json& stages);

bool is_text2query(const schema::Registry& registry);

// Under text2query fails with "ERR_TEXT2QUERY:text2query 档禁用 [feature]…".
void forbid_t2q(const schema::Registry& registry, std::string_view feature);
// When `t2q` fails with "ERR_TEXT2QUERY:text2query 档功能收缩 [code]：message".
void forbid_t2q_shape(bool t2q, std::string_view code, std::string_view message);
// Under text2query a planning call must carry a context (the system context
// counts as one).
void ensure_t2q_context(const schema::Registry& registry, bool has_context);
// Under text2query a route override is refused.
void ensure_route_override_allowed(const schema::Registry& registry, bool has_override);
// Fails when a relation lookup nests too deep: nesting depth at least 10 (3
// under text2query) or paging depth at least 4.
void ensure_relation_nesting(bool t2q, std::size_t depth, std::size_t paging_depth);

// The caller's value for a query argument: `reference` without its first
// character (the "@") looked up in `params`; nullptr when the reference is
// empty or the entry is missing.
const Json* param(const Json& params, std::string_view reference);

// {key: value} replaces the first stage that is an object holding `key`, or
// is appended when there is none.
void override_or_append(Json& stages, std::string_view key, Json value);

// Appends {"$sort"}, {"$skip"}, {"$limit"} in this order, each only when
// given and not null.
void append_order(Json& stages, const Json* sort, const Json* skip, const Json* limit);

// Adds to `refs` every key of the condition (descending into "$and", "$or"
// and "$nor" arrays, skipping other "$" keys) for which `pred` holds.
void collect_having_agg_refs(const Json& condition,
                             const std::function<bool(const std::string&)>& pred,
                             std::set<std::string>& refs);

}  // namespace varnel::pipeline
