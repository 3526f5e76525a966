// Query text from outside: tokenizing never fails, parsing fails only with a
// parse error, and a parsed tree survives its JSON form.
// libFuzzer options: -max_len=8192 -dict=fuzz/gql.dict

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "error.h"
#include "pipeline/parse.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto tokens = pipeline::tokenize(text);
  for (const auto& token : tokens) {
    // dump() refuses text that is not UTF-8, so this also checks token texts.
    (void)pipeline::token_to_value(token).dump();
  }
  try {
    pipeline::Ast ast = pipeline::parse(tokens);
    Json form = ast.to_value();
    (void)form.dump();
    if (pipeline::Ast::from_value(form).to_value() != form) __builtin_trap();
  } catch (const CoreError& e) {
    if (!e.message().starts_with("ERR_GQL_PARSE:")) __builtin_trap();
  }
  return 0;
}
