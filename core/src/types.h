// The value model shared by every module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnel {

// A JSON value: null, boolean, number (int64, uint64 or double), string,
// array or object. Objects keep their keys in ascending byte order.
using Json = nlohmann::json;

// Deepest nesting of arrays and objects accepted from outside. Every
// recursive walk over outside input stays within a small multiple of it.
inline constexpr std::size_t kMaxDepth = 512;

// The flag reading of a value: null is false, a boolean is itself, a number
// is true unless zero (NaN is true), a string unless empty, arrays and
// objects always.
bool is_truthy(const Json& value);

// `is_truthy` of obj[key]; a missing key (or a non-object) is false.
bool is_truthy_key(const Json& obj, std::string_view key);

// The compact JSON text of a value, as messages quote it.
std::string compact_json(const Json& value);

// obj[key] when obj is an object holding key, else nullptr.
const Json* find_key(const Json& obj, std::string_view key);

// The text of v when it is a non-empty string, else nullptr.
const std::string* non_empty_string(const Json* v);

// The value of an integer that fits a signed 64-bit integer; nullopt for
// larger integers, floating numbers and every other type.
std::optional<std::int64_t> as_int64(const Json& v);

// The string elements of an array, in order; others are dropped. A
// non-array gives none.
std::vector<std::string> string_elements(const Json& array);

}  // namespace varnel
