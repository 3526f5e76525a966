#include "pipeline/token.h"

namespace varnel::pipeline {

namespace {

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_punct(char c) {
  return c == '(' || c == ')' || c == '{' || c == '}' || c == ',' || c == ':';
}
bool starts_ident(char c) {
  return is_letter(c) || c == '$' || c == '_';
}
bool continues_ident(char c) {
  return starts_ident(c) || is_digit(c) || c == '.';
}
bool continues_ref(char c) {
  return is_letter(c) || is_digit(c) || c == '_';
}

// End of the run of characters accepted by `keep`, starting at `from`.
template <class Pred>
std::size_t run_end(std::string_view text, std::size_t from, Pred keep) {
  while (from < text.size() && keep(text[from])) ++from;
  return from;
}

}  // namespace

std::string_view kind_name(TokenKind kind) {
  switch (kind) {
    case TokenKind::Punct:
      return "p";
    case TokenKind::Ident:
      return "id";
    case TokenKind::Ref:
      break;
  }
  return "ref";
}

// Works on bytes: every byte of a multi-byte UTF-8 character is outside the
// ASCII classes, so skipping byte by byte skips the whole character, and a
// stray invalid byte is skipped the same way.
std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  tokens.reserve(text.size() / 4);
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    std::size_t end = i + 1;
    if (is_punct(c)) {
      tokens.push_back({TokenKind::Punct, text.substr(i, 1)});
    } else if (starts_ident(c)) {
      end = run_end(text, end, continues_ident);
      tokens.push_back({TokenKind::Ident, text.substr(i, end - i)});
    } else if (c == '@') {
      end = run_end(text, end, continues_ref);
      tokens.push_back({TokenKind::Ref, text.substr(i, end - i)});
    }
    i = end;
  }
  return tokens;
}

Json token_to_value(const Token& token) {
  Json out = Json::object();
  out["t"] = kind_name(token.kind);
  out["v"] = token.text;
  return out;
}

}  // namespace varnel::pipeline
