// Update documents of the local evaluator: "$set", "$inc", "$unset" and
// "$setOnInsert". Any other operator is refused.
#pragma once

#include "types.h"

namespace varnel::local {

// Applies the update to the document in place, operators in ascending key
// order. `insert` is on when the document is being created by an upsert
// (only then does "$setOnInsert" apply). Throws CoreError; the document may
// then be partly updated, so callers work on copies.
void apply_update(Json& doc, const Json& update, bool insert);

// Writes every (path, value) of a "$set" argument.
void apply_set(Json& doc, const Json& fields);

}  // namespace varnel::local
