#include "dialect/ir.h"

#include "error.h"
#include "naming/naming.h"

namespace varnel::dialect {

namespace {

struct Spelling {
  std::string_view word;
  Backend backend;
};

constexpr Spelling kSpellings[] = {
    {"mysql", Backend::Mysql},       {"postgres", Backend::Postgres},
    {"postgresql", Backend::Postgres}, {"pg", Backend::Postgres},
    {"sqlite", Backend::Sqlite},
};

constexpr std::string_view kTexts[] = {"mysql", "postgres", "sqlite"};

}  // namespace

std::optional<Backend> backend_from_text(std::string_view text) {
  std::string lowered = naming::lower_unicode(text);
  for (const auto& s : kSpellings) {
    if (s.word == lowered) return s.backend;
  }
  return std::nullopt;
}

Backend parse_backend(std::string_view text) {
  auto backend = backend_from_text(text);
  if (!backend) fail("不支持的后端: {}", {text});
  return *backend;
}

std::string_view backend_text(Backend backend) {
  return kTexts[static_cast<std::size_t>(backend)];
}

}  // namespace varnel::dialect
