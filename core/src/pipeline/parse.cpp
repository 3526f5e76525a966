#include "pipeline/parse.h"

#include <algorithm>
#include <optional>
#include <string>

#include "error.h"

namespace varnel::pipeline {

namespace {

constexpr std::string_view kUndefined = "undefined";

class Parser {
 public:
  explicit Parser(std::span<const Token> tokens) : tokens_(tokens) {}

  Ast query() {
    Ast ast;
    ast.model = consume(TokenKind::Ident).text;
    if (next_is("(")) arguments(ast.params);
    if (next_is("{")) body(ast, 1);
    return ast;
  }

 private:
  bool at_end() const { return pos_ >= tokens_.size(); }
  bool next_is(std::string_view text) const { return !at_end() && tokens_[pos_].text == text; }

  const Token& consume(TokenKind kind, std::optional<std::string_view> text = std::nullopt) {
    std::string_view want = text.value_or(kUndefined);
    if (at_end()) fail("ERR_GQL_PARSE:期望 {}({}) 但已到达末尾", {kind_name(kind), want});
    const Token& tok = tokens_[pos_];
    if (tok.kind != kind || (text && tok.text != *text)) {
      fail("ERR_GQL_PARSE:期望 {}({}) 实际 {}({}) 位置 {}",
           {kind_name(kind), want, kind_name(tok.kind), tok.text, std::to_string(pos_)});
    }
    ++pos_;
    return tok;
  }

  void arguments(Params& params) {
    consume(TokenKind::Punct, "(");
    while (!next_is(")")) {
      std::string_view key = consume(TokenKind::Ident).text;
      key.remove_prefix(std::min(key.find_first_not_of('$'), key.size()));
      consume(TokenKind::Punct, ":");
      if (!at_end()) {
        const Token& value = tokens_[pos_++];
        if (value.kind != TokenKind::Punct) params.insert_or_assign(std::string(key), value.text);
      }
      if (next_is(",")) ++pos_;
    }
    consume(TokenKind::Punct, ")");
  }

  // Reads a selection into `sel`; `level` is the nesting level of the
  // relations it may hold (those of the root are at 1).
  void body(RelAst& sel, std::size_t level) {
    consume(TokenKind::Punct, "{");
    while (true) {
      if (at_end()) consume(TokenKind::Punct, "}");
      if (next_is(",")) {
        ++pos_;
        continue;
      }
      if (next_is("}")) {
        ++pos_;
        return;
      }
      item(sel, level);
      if (next_is(",")) ++pos_;
    }
  }

  void item(RelAst& sel, std::size_t level) {
    std::string_view name = consume(TokenKind::Ident).text;
    bool has_args = next_is("(");
    if (!has_args && !next_is("{")) {
      sel.fields.emplace_back(name);
      return;
    }
    // A relation: its own relations would sit one level further down.
    if (level > kMaxSelectionDepth) {
      fail("ERR_GQL_PARSE:关系嵌套超过 {} 层 位置 {}",
           {std::to_string(kMaxSelectionDepth), std::to_string(pos_)});
    }
    RelAst rel;
    if (has_args) {
      arguments(rel.params);
      if (rel.params.contains("pipeline")) {
        fail("ERR_GQL_PARSE:关系 \"{}\" 的参数不支持 $pipeline（$pipeline 直通仅限根级 GQL）",
             {name});
      }
    }
    if (next_is("{")) body(rel, level + 1);
    sel.relations.push_back({std::string(name), std::move(rel)});
  }

  std::span<const Token> tokens_;
  std::size_t pos_ = 0;
};

}  // namespace

Ast parse(std::span<const Token> tokens) {
  return Parser(tokens).query();
}

Ast parse_gql(std::string_view text) {
  return parse(tokenize(text));
}

}  // namespace varnel::pipeline
