// The SQL backends the dialect layer writes for.
#pragma once

#include <optional>
#include <string_view>

namespace varnel::dialect {

enum class Backend { Mysql, Postgres, Sqlite };

// Recognises a backend name in any letter case: "mysql"; "postgres",
// "postgresql", "pg"; "sqlite".
std::optional<Backend> backend_from_text(std::string_view text);

// As backend_from_text; fails with "不支持的后端: {}" naming the text as given.
Backend parse_backend(std::string_view text);

// "mysql", "postgres" or "sqlite".
std::string_view backend_text(Backend backend);

}  // namespace varnel::dialect
