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

void fail(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  throw CoreError(format(tmpl, args));
}

}  // namespace varnel
