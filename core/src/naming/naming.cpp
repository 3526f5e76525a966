#include "naming/naming.h"

#include <unordered_map>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

#include "error.h"

namespace varnel::naming {

namespace {

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

void finish(std::string& word, Tokens& tokens) {
  if (word.empty()) return;
  for (char& c : word) c = to_lower(c);
  tokens.push_back(std::move(word));
  word.clear();
}

// Decodes one UTF-8 scalar at text[i], advancing i. Input is valid UTF-8
// (it comes from Python str); a stray byte is taken as its own value.
char32_t decode(std::string_view text, std::size_t& i) {
  auto b = static_cast<unsigned char>(text[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
  if (i + len > text.size()) len = 1;
  char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1f) : len == 3 ? (b & 0x0f) : (b & 0x07);
  for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
  i += len;
  return cp;
}

void encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xc0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xe0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

}  // namespace

// Unicode lower-casing of a whole text. ASCII is mapped directly; other
// scalars use the C library's Unicode case tables, plus the one mapping
// that expands (capital I with dot above) and the final form of sigma.
std::string lower_unicode(std::string_view text) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  std::vector<char32_t> cps;
  for (std::size_t i = 0; i < text.size();) cps.push_back(decode(text, i));
  auto is_letter = [&](char32_t c) {
    return c < 0x80 ? (is_lower(static_cast<char>(c)) || is_upper(static_cast<char>(c)))
                    : utf8 != static_cast<locale_t>(0) && iswalpha_l(static_cast<wint_t>(c), utf8);
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < cps.size(); ++k) {
    char32_t c = cps[k];
    if (c < 0x80) {
      out += to_lower(static_cast<char>(c));
    } else if (c == 0x130) {
      out += "i\u0307";
    } else if (c == 0x3a3) {
      bool after_letter = k > 0 && is_letter(cps[k - 1]);
      bool before_letter = k + 1 < cps.size() && is_letter(cps[k + 1]);
      encode(after_letter && !before_letter ? 0x3c2 : 0x3c3, out);
    } else if (utf8 != static_cast<locale_t>(0)) {
      encode(static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8)), out);
    } else {
      encode(c, out);
    }
  }
  return out;
}

namespace {

struct Keyword {
  std::string_view word;
  Target target;
};

constexpr Keyword kKeywords[] = {
    {"mysql", Target::Mysql},       {"postgres", Target::Postgres},
    {"postgresql", Target::Postgres}, {"pg", Target::Postgres},
    {"sqlite", Target::Sqlite},     {"python", Target::Python},
    {"py", Target::Python},         {"mongo", Target::Mongo},
    {"mongodb", Target::Mongo},     {"node", Target::Node},
    {"nodejs", Target::Node},       {"java", Target::Java},
    {"csharp", Target::Csharp},     {"cs", Target::Csharp},
    {"c#", Target::Csharp},         {"rust", Target::Rust},
    {"go", Target::Go},             {"golang", Target::Go},
};

constexpr std::string_view kReservedKeys[] = {
    "type",   "read", "write",        "model",      "default", "asyncfn", "required", "fields",
    "strategy", "fn", "foreignfield", "localfield", "fnref",   "agg",     "depends"};

}  // namespace

Tokens canonical(std::string_view text) {
  Tokens tokens;
  std::string word;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (is_lower(c) || is_digit(c)) {
      word += c;
    } else if (is_upper(c)) {
      if (!word.empty()) {
        char p = word.back();
        bool next_lower = i + 1 < text.size() && is_lower(text[i + 1]);
        if (is_lower(p) || is_digit(p) || (is_upper(p) && next_lower)) finish(word, tokens);
      }
      word += c;
    } else {
      // Everything else separates, including each byte of a non-ASCII
      // character: none of them is an ASCII letter or digit.
      finish(word, tokens);
    }
  }
  finish(word, tokens);
  return tokens;
}

std::string cap(std::string_view text) {
  std::string out(text);
  if (!out.empty() && is_lower(out[0])) out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return out;
}

std::string to_snake(const Tokens& tokens) {
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i > 0) out += '_';
    out += tokens[i];
  }
  return out;
}

std::string to_camel(const Tokens& tokens) {
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) out += i == 0 ? tokens[i] : cap(tokens[i]);
  return out;
}

std::string to_pascal(const Tokens& tokens) {
  std::string out;
  for (const auto& t : tokens) out += cap(t);
  return out;
}

Target target_from_str_or_err(std::string_view text) {
  std::string lowered = lower_unicode(text);
  for (const auto& k : kKeywords) {
    if (k.word == lowered) return k.target;
  }
  fail("未知命名目标: {}", {lowered});
}

Style target_style(Target target) {
  switch (target) {
    case Target::Mysql:
    case Target::Postgres:
    case Target::Sqlite:
    case Target::Python:
      return Style::Snake;
    case Target::Go:
      return Style::Pascal;
    default:
      return Style::Camel;
  }
}

std::string translate(std::string_view logical, Target target) {
  Tokens tokens = canonical(logical);
  switch (target_style(target)) {
    case Style::Snake:
      return to_snake(tokens);
    case Style::Pascal:
      return to_pascal(tokens);
    case Style::Camel:
      break;
  }
  return to_camel(tokens);
}

std::string translate_by_str(std::string_view logical, std::string_view target) {
  return translate(logical, target_from_str_or_err(target));
}

std::string norm_key(std::string_view name) {
  std::string key;
  for (const auto& t : canonical(name)) key += t;
  return key;
}

void detect_conflicts(const std::vector<std::string>& names) {
  std::unordered_map<std::string, std::string_view> accepted;
  for (const auto& name : names) {
    if (name == "_id") continue;
    std::string key = norm_key(name);
    if (key.empty()) continue;
    if (auto it = accepted.find(key); it != accepted.end()) {
      fail("{}名称 \"{}\" 与 \"{}\" 归一后相同（{}）", {"ERR_NAME_CONFLICT:", name, it->second, key});
    }
    for (auto reserved : kReservedKeys) {
      if (reserved == key) {
        fail("{}名称 \"{}\" 归一后命中契约保留键 \"{}\"", {"ERR_NAME_CONFLICT:", name, key});
      }
    }
    accepted.emplace(std::move(key), name);
  }
}

}  // namespace varnel::naming
