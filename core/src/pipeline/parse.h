// The parser of query text: a model name, optional arguments and an optional
// selection of fields and relations.
#pragma once

#include <span>
#include <string_view>

#include "pipeline/ast.h"
#include "pipeline/token.h"

namespace varnel::pipeline {

// Fails with an "ERR_GQL_PARSE:" message; tokens after the root selection are
// ignored.
Ast parse(std::span<const Token> tokens);

// tokenize, then parse.
Ast parse_gql(std::string_view text);

}  // namespace varnel::pipeline
