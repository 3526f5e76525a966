// Identity helpers for command values: extended-JSON literals and the text
// that identifies a document id across result sets.
#pragma once

#include <string>

#include "types.h"

namespace varnel::bson {

// True for a one-key object whose key is "$oid", "$date", "$binary",
// "$numberLong" or "$numberDecimal": such an object is a literal value,
// never an operator object.
bool is_extended(const Json& value);

// The text identifying a document id: "null", "true"/"false", a number's
// JSON text, a string itself, the string under "$oid", and the compact JSON
// text of any other object or array.
std::string id_key(const Json& value);

}  // namespace varnel::bson
