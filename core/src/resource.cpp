#include "resource.h"

#include "error.h"

namespace varnel::resource {

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Length in bytes of the UTF-8 character starting with byte b.
std::size_t char_len(unsigned char b) {
  return b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
}

std::string text_of(const Json& cfg, std::string_view key, std::string_view fallback) {
  const Json* v = find_key(cfg, key);
  return v != nullptr && v->is_string() ? v->get<std::string>() : std::string(fallback);
}

}  // namespace

bool is_external_url(std::string_view reference) {
  std::size_t b = 0, e = reference.size();
  while (b < e && is_space(reference[b])) ++b;
  while (e > b && is_space(reference[e - 1])) --e;
  std::string_view t = reference.substr(b, e - b);
  if (t.empty()) return false;
  return starts_with_nocase(t, "http://") || starts_with_nocase(t, "https://") ||
         starts_with_nocase(t, "data:");
}

std::string content_path(std::string_view sha1) {
  if (sha1.size() < 2) fail("sha1 非法（长度 < 2）: \"{}\"", {sha1});
  // The directory is made of the first two whole characters, so a
  // multi-byte character is never cut in half.
  std::size_t n = 0;
  for (int k = 0; k < 2 && n < sha1.size(); ++k) {
    n += char_len(static_cast<unsigned char>(sha1[n]));
  }
  n = std::min(n, sha1.size());
  return format("objects/{}/{}", {sha1.substr(0, n), sha1});
}

std::string scalar_to_string(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean() || value.is_number()) return value.dump();
  return {};
}

std::string percent_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~';
    if (keep) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    }
  }
  return out;
}

std::string render(std::string_view tmpl, const Vars& vars) {
  std::string out;
  out.reserve(tmpl.size());
  std::size_t i = 0;
  while (i < tmpl.size()) {
    std::size_t open = tmpl.find('{', i);
    if (open == std::string_view::npos) break;
    std::size_t close = tmpl.find('}', open + 1);
    if (close == std::string_view::npos) break;
    out.append(tmpl, i, open - i);
    auto it = vars.find(tmpl.substr(open + 1, close - open - 1));
    if (it != vars.end()) {
      out += it->second;
    } else {
      out.append(tmpl, open, close - open + 1);
    }
    i = close + 1;
  }
  out.append(tmpl, i);
  return out;
}

std::string compose_url(std::string_view reference, const Json& cfg) {
  if (reference.empty()) fail("resource reference 为空");
  if (is_external_url(reference)) {
    const Json* pass = find_key(cfg, "externalPassthrough");
    if (pass != nullptr && pass->is_boolean() && !pass->get<bool>()) {
      fail("外部 URL 直返被禁用: \"{}\"", {reference});
    }
    return std::string(reference);
  }
  std::string base = text_of(cfg, "baseUrl", "");
  std::string path_template = text_of(cfg, "pathTemplate", "{key}");

  Vars vars;
  vars.insert_or_assign("key", std::string(reference));
  vars.insert_or_assign("sha1", std::string(reference));
  vars.insert_or_assign("contentPath", content_path(reference));
  if (const Json* extra = find_key(cfg, "vars"); extra != nullptr && extra->is_object()) {
    for (const auto& [k, v] : extra->items()) vars.insert_or_assign(k, scalar_to_string(v));
  }

  std::string path = render(path_template, vars);
  std::string url;
  if (base.empty()) {
    url = std::move(path);
  } else {
    while (!base.empty() && base.back() == '/') base.pop_back();
    url = path.starts_with('/') ? format("{}{}", {base, path}) : format("{}/{}", {base, path});
  }

  if (const Json* query = find_key(cfg, "query"); query != nullptr && query->is_object()) {
    std::string pairs;
    for (const auto& [k, v] : query->items()) {
      if (!pairs.empty()) pairs += '&';
      pairs += format("{}={}", {percent_encode(k), percent_encode(render(scalar_to_string(v), vars))});
    }
    if (!pairs.empty()) url += "?" + pairs;
  }
  return url;
}

}  // namespace varnel::resource
