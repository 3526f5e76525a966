// The error of every core operation: a message whose prefix decides its kind.
#pragma once

#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

enum class ErrorKind { Permission, NoContext, Text2Query, Other };

// The exact message of the require-context gate.
inline constexpr std::string_view kNoContextMessage =
    "ERR_NO_CONTEXT:require_context 已开启，调用必须携带用户上下文（内部调用请传 "
    "{\"internal\": true}）";

// Derives the kind from the message text alone.
ErrorKind error_kind(std::string_view message);

// The code text a kind carries at the Python boundary.
std::string_view error_code(ErrorKind kind);

class CoreError : public std::exception {
 public:
  explicit CoreError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  ErrorKind kind() const noexcept { return error_kind(message_); }

 private:
  std::string message_;
};

// Fills each "{}" of the template with the next argument, in order.
// Braces in the arguments are copied as they are.
std::string format(std::string_view tmpl, std::initializer_list<std::string_view> args);

// The text between double quotes, a double quote and a backslash escaped
// with a backslash, tab, carriage return and line feed as \t, \r, \n and
// other control characters as \u{hex}; everything else as it is.
std::string debug_quoted(std::string_view text);

// An optional text in messages: None, or Some("...") quoted as above.
std::string debug_optional(std::optional<std::string_view> text);

// Throws CoreError(format(tmpl, args)).
[[noreturn]] void fail(std::string_view tmpl, std::initializer_list<std::string_view> args = {});

}  // namespace varnel
