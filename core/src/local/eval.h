// Command objects run against in-memory collections: the read kinds on top
// of filters and pipelines, the write kinds with their update operators,
// and the result envelope {"changed", "collections", "result"}.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "types.h"

namespace varnel::local {

// The most documents a collection may hold after a write.
inline constexpr std::size_t kMaxLocalCollectionDocs = 100000;

// For each document of a written collection: the position in the input
// collection of the document it still is, untouched, or -1 when the
// command wrote it.
using Origins = std::vector<std::ptrdiff_t>;

// Runs the command against the collections (an object of name -> array of
// documents). The collections are taken by value and handed back in the
// envelope, changed only by a successful write; a failed command throws
// CoreError and produces nothing. After a write, `origins` (when given)
// tells which documents of the written collection are untouched inputs.
Json eval_command(Json collections, const Json& command, Origins* origins = nullptr);

Json envelope(Json result, Json changed, Json collections);

// null -> {}, an object as is, anything else refused.
Json normalize_doc(const Json& value);

// Throws when a collection would hold more than kMaxLocalCollectionDocs.
void guard_docs(std::string_view name, std::size_t count);

}  // namespace varnel::local
