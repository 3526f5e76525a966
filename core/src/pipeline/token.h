// The tokenizer of query text: punctuation, identifiers and @references.
#pragma once

#include <string_view>
#include <vector>

#include "types.h"

namespace varnel::pipeline {

enum class TokenKind { Punct, Ident, Ref };

// "p", "id" or "ref": the name used in parse errors and in the JSON form.
std::string_view kind_name(TokenKind kind);

// A token borrows its text from the query text it was read from.
struct Token {
  TokenKind kind;
  std::string_view text;
};

// Never fails: every character outside the three token classes is skipped.
std::vector<Token> tokenize(std::string_view text);

// {"t": kind name, "v": text}.
Json token_to_value(const Token& token);

}  // namespace varnel::pipeline
