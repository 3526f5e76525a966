#include "error.h"

namespace varnel {

namespace {

bool has_prefix_longer(std::string_view message, std::string_view prefix) {
  return message.size() > 14 && message.substr(0, prefix.size()) == prefix;
}

}  // namespace

ErrorKind error_kind(std::string_view message) {
  if (has_prefix_longer(message, "ERR_PERMISSION:")) return ErrorKind::Permission;
  if (message.substr(0, kNoContextMessage.size()) == kNoContextMessage) {
    return ErrorKind::NoContext;
  }
  if (has_prefix_longer(message, "ERR_TEXT2QUERY:")) return ErrorKind::Text2Query;
  return ErrorKind::Other;
}

std::string_view error_code(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Permission:
      return "permission_denied";
    case ErrorKind::NoContext:
      return "no_context";
    case ErrorKind::Text2Query:
      return "profile_blocked";
    case ErrorKind::Other:
      break;
  }
  return "other";
}

std::string format(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  std::string out;
  std::size_t extra = 0;
  for (auto a : args) extra += a.size();
  out.reserve(tmpl.size() + extra);
  auto next = args.begin();
  std::size_t i = 0;
  while (i < tmpl.size()) {
    if (tmpl[i] == '{' && i + 1 < tmpl.size() && tmpl[i + 1] == '}' && next != args.end()) {
      out += *next++;
      i += 2;
    } else {
      out += tmpl[i++];
    }
  }
  return out;
}

std::string debug_quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    unsigned code = c;
    bool c1 = false;  // C1 controls are two bytes in UTF-8: C2 80 to C2 9F
    if (c == 0xc2 && i + 1 < text.size()) {
      auto n = static_cast<unsigned char>(text[i + 1]);
      c1 = n >= 0x80 && n <= 0x9f;
      if (c1) code = n;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (code < 0x20 || code == 0x7f || c1) {
      out += "\\u{";
      if (code >= 0x10) out += kHex[code >> 4];
      out += kHex[code & 0xf];
      out += '}';
      if (c1) ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

std::string debug_optional(std::optional<std::string_view> text) {
  return text ? "Some(" + debug_quoted(*text) + ")" : std::string("None");
}

void fail(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  throw CoreError(format(tmpl, args));
}

}  // namespace varnel
