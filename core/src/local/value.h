// The value layer of the local evaluator: the total order of JSON values
// (with the extended-JSON forms), reading numbers, and dotted paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types.h"

namespace varnel::local {

// The type rank, first criterion of the order: 1 minKey, 2 null, 3 numbers
// (and "$numberLong"/"$numberDecimal"), 4 strings, 5 other objects, 6
// arrays, 7 binary, 8 ObjectId, 9 booleans, 10 dates, 11 timestamps, 12
// regular expressions, 13 maxKey. Only the key of a one-key object counts.
int bson_rank(const Json& value);

// Total preorder over values: negative, zero or positive. Numbers compare
// as doubles; NaN equals NaN and sorts below every other number.
int compare(const Json& a, const Json& b);
inline bool equal(const Json& a, const Json& b) { return compare(a, b) == 0; }

// Strict-weak-ordering adaptor for sorted containers of values.
struct ValueLess {
  bool operator()(const Json& a, const Json& b) const { return compare(a, b) < 0; }
  bool operator()(const Json* a, const Json* b) const { return compare(*a, *b) < 0; }
};

// A number's value as a double; "$numberLong" then "$numberDecimal" text of
// an object; nothing otherwise or when the text is not a number.
std::optional<double> as_number(const Json& value);

// Parses the number text of the extended forms: sign, digits with an
// optional point and exponent, or inf/infinity/nan in any case.
std::optional<double> parse_number_text(std::string_view text);

std::pair<std::int64_t, std::int64_t> ts_parts(const Json& value);
std::pair<std::string, std::string> regex_parts(const Json& value);
std::pair<std::string, std::string> binary_parts(const Json& value);

// "null", "bool", "number", "string", "array" or "object".
std::string_view type_name(const Json& value);

// Dotted paths: segments split at every "."; the empty path has none and
// designates the value itself. Segments are object keys.
const Json* get_path(const Json& value, std::string_view path);
Json* get_path(Json& value, std::string_view path);

// Writes x at the path, creating missing intermediate objects. Refuses the
// empty path and a path that meets anything but an object on its way, so
// no stored value is ever replaced by a write to a path below it.
void set_path(Json& value, std::string_view path, Json x);

// Removes the path; arrays met on the way are entered (every element).
void remove_path(Json& value, std::string_view path);

// Removes the last key of a path reached through objects only.
void remove_object_path(Json& value, std::string_view path);

// The values a path designates in filters and lookups: arrays met on the
// way are entered element by element, and a segment of digits applied to
// an array also designates that element. Appends borrowed pointers.
void resolve_path_candidates(const Json& value, std::string_view path,
                             std::vector<const Json*>& out);

// Counts the nesting of a walk over outside input (filters, expressions,
// pipelines) and refuses to go deeper than kMaxDepth levels.
class DepthGuard {
 public:
  DepthGuard(std::size_t& depth, std::string_view what);
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  std::size_t& depth_;
};

}  // namespace varnel::local
