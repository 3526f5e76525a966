#include "local/value.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "error.h"

namespace varnel::local {

namespace {

using Object = Json::object_t;
using Array = Json::array_t;

// The key of a one-key object, or nothing.
const std::string* single_key(const Json& v) {
  if (!v.is_object() || v.size() != 1) return nullptr;
  return &v.get_ref<const Object&>().begin()->first;
}

int rank_of_key(std::string_view key) {
  if (key.size() < 2 || key[0] != '$') return 5;
  if (key == "$minKey") return 1;
  if (key == "$numberLong" || key == "$numberDecimal") return 3;
  if (key == "$binary") return 7;
  if (key == "$oid") return 8;
  if (key == "$date") return 10;
  if (key == "$timestamp") return 11;
  if (key == "$regularExpression") return 12;
  if (key == "$maxKey") return 13;
  return 5;
}

template <typename T>
int three_way(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int compare_bytes(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int compare_doubles(double a, double b) {
  bool an = std::isnan(a);
  bool bn = std::isnan(b);
  if (an || bn) return an && bn ? 0 : (an ? -1 : 1);
  return three_way(a, b);
}

// A signed 64-bit reading: signed as is, unsigned within range as is,
// anything else 0.
std::int64_t as_int64(const Json* v) {
  if (v == nullptr) return 0;
  if (v->is_number_unsigned()) {
    auto u = v->get<std::uint64_t>();
    return u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(u)
               : 0;
  }
  if (v->is_number_integer()) return v->get<std::int64_t>();
  return 0;
}

std::string_view string_or_empty(const Json* v) {
  return v != nullptr && v->is_string() ? std::string_view(v->get_ref<const std::string&>())
                                        : std::string_view();
}

std::pair<std::string_view, std::string_view> parts_view(const Json& v, std::string_view key,
                                                         std::string_view first,
                                                         std::string_view second) {
  const Json* inner = find_key(v, key);
  if (inner == nullptr || !inner->is_object()) return {};
  return {string_or_empty(find_key(*inner, first)), string_or_empty(find_key(*inner, second))};
}

int compare_same_rank(int rank, const Json& a, const Json& b) {
  switch (rank) {
    case 3:
      return compare_doubles(as_number(a).value_or(0.0), as_number(b).value_or(0.0));
    case 4:
      return compare_bytes(a.get_ref<const std::string&>(), b.get_ref<const std::string&>());
    case 5: {
      const auto& x = a.get_ref<const Object&>();
      const auto& y = b.get_ref<const Object&>();
      auto i = x.begin();
      auto j = y.begin();
      for (; i != x.end() && j != y.end(); ++i, ++j) {
        if (int c = compare_bytes(i->first, j->first)) return c;
        if (int c = compare(i->second, j->second)) return c;
      }
      return i == x.end() ? (j == y.end() ? 0 : -1) : 1;
    }
    case 6: {
      const auto& x = a.get_ref<const Array&>();
      const auto& y = b.get_ref<const Array&>();
      std::size_t n = std::min(x.size(), y.size());
      for (std::size_t k = 0; k < n; ++k) {
        if (int c = compare(x[k], y[k])) return c;
      }
      return three_way(x.size(), y.size());
    }
    case 7: {
      auto [a64, asub] = parts_view(a, "$binary", "base64", "subType");
      auto [b64, bsub] = parts_view(b, "$binary", "base64", "subType");
      if (int c = three_way(a64.size(), b64.size())) return c;
      if (int c = compare_bytes(asub, bsub)) return c;
      return compare_bytes(a64, b64);
    }
    case 8:
      return compare_bytes(string_or_empty(find_key(a, "$oid")),
                           string_or_empty(find_key(b, "$oid")));
    case 9:
      return three_way(a.get<bool>(), b.get<bool>());
    case 10:
      return three_way(as_int64(find_key(a, "$date")), as_int64(find_key(b, "$date")));
    case 11:
      return three_way(ts_parts(a), ts_parts(b));
    case 12: {
      auto ra = parts_view(a, "$regularExpression", "pattern", "options");
      auto rb = parts_view(b, "$regularExpression", "pattern", "options");
      if (int c = compare_bytes(ra.first, rb.first)) return c;
      return compare_bytes(ra.second, rb.second);
    }
    default:  // minKey, null, maxKey
      return 0;
  }
}

bool is_digit_text(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool equals_word(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// Splits the first segment off a path that still has segments.
struct Segment {
  std::string_view head;
  std::string_view rest;
  bool last;
};

Segment split(std::string_view path) {
  std::size_t dot = path.find('.');
  if (dot == std::string_view::npos) return {path, {}, true};
  return {path.substr(0, dot), path.substr(dot + 1), false};
}

// A segment of digits read as an array index.
std::optional<std::size_t> array_index(std::string_view seg) {
  if (!is_digit_text(seg) || seg.size() > 18) return {};
  std::size_t n = 0;
  std::from_chars(seg.data(), seg.data() + seg.size(), n);
  return n;
}

void collect(const Json& v, std::string_view path, bool has_segments,
             std::vector<const Json*>& out) {
  if (!has_segments) {
    out.push_back(&v);
    return;
  }
  Segment s = split(path);
  if (v.is_object()) {
    const auto& map = v.get_ref<const Object&>();
    auto it = map.find(s.head);
    if (it != map.end()) collect(it->second, s.rest, !s.last, out);
  } else if (v.is_array()) {
    const auto& arr = v.get_ref<const Array&>();
    if (auto idx = array_index(s.head); idx && *idx < arr.size()) {
      collect(arr[*idx], s.rest, !s.last, out);
    }
    for (const Json& e : arr) collect(e, path, true, out);
  }
}

void remove_in(Json& v, std::string_view path) {
  Segment s = split(path);
  if (v.is_array()) {
    for (Json& e : v.get_ref<Array&>()) remove_in(e, path);
    return;
  }
  if (!v.is_object()) return;
  auto& map = v.get_ref<Object&>();
  auto it = map.find(s.head);
  if (s.last) {
    if (it != map.end()) map.erase(it);
  } else if (it != map.end()) {
    remove_in(it->second, s.rest);
  }
}

}  // namespace

int bson_rank(const Json& value) {
  switch (value.type()) {
    case Json::value_t::boolean:
      return 9;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return 3;
    case Json::value_t::string:
      return 4;
    case Json::value_t::array:
      return 6;
    case Json::value_t::object: {
      const std::string* key = single_key(value);
      return key == nullptr ? 5 : rank_of_key(*key);
    }
    default:
      return 2;
  }
}

int compare(const Json& a, const Json& b) {
  int ra = bson_rank(a);
  int rb = bson_rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  return compare_same_rank(ra, a, b);
}

std::optional<double> parse_number_text(std::string_view text) {
  std::string_view body = text;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  bool negative = !text.empty() && text[0] == '-';
  if (equals_word(body, "inf") || equals_word(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_word(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return {};
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    std::size_t exp_start = i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i;
    if (i == exp_start) return {};
  }
  if (i != body.size()) return {};
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Past the double range: the C library gives the infinity or zero.
    value = std::strtod(std::string(body).c_str(), nullptr);
  }
  return negative ? -value : value;
}

std::optional<double> as_number(const Json& value) {
  switch (value.type()) {
    case Json::value_t::number_integer:
      return static_cast<double>(value.get<std::int64_t>());
    case Json::value_t::number_unsigned:
      return static_cast<double>(value.get<std::uint64_t>());
    case Json::value_t::number_float:
      return value.get<double>();
    case Json::value_t::object: {
      const Json* text = find_key(value, "$numberLong");
      if (text == nullptr || !text->is_string()) text = find_key(value, "$numberDecimal");
      if (text == nullptr || !text->is_string()) return {};
      return parse_number_text(text->get_ref<const std::string&>());
    }
    default:
      return {};
  }
}

std::pair<std::int64_t, std::int64_t> ts_parts(const Json& value) {
  const Json* ts = find_key(value, "$timestamp");
  if (ts == nullptr || !ts->is_object()) return {0, 0};
  return {as_int64(find_key(*ts, "t")), as_int64(find_key(*ts, "i"))};
}

std::pair<std::string, std::string> regex_parts(const Json& value) {
  auto [p, o] = parts_view(value, "$regularExpression", "pattern", "options");
  return {std::string(p), std::string(o)};
}

std::pair<std::string, std::string> binary_parts(const Json& value) {
  auto [b, s] = parts_view(value, "$binary", "base64", "subType");
  return {std::string(b), std::string(s)};
}

std::string_view type_name(const Json& value) {
  switch (value.type()) {
    case Json::value_t::boolean:
      return "bool";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return "number";
    case Json::value_t::string:
      return "string";
    case Json::value_t::array:
      return "array";
    case Json::value_t::object:
      return "object";
    default:
      return "null";
  }
}

const Json* get_path(const Json& value, std::string_view path) {
  const Json* cur = &value;
  if (path.empty()) return cur;
  while (true) {
    Segment s = split(path);
    if (!cur->is_object()) return nullptr;
    const auto& map = cur->get_ref<const Object&>();
    auto it = map.find(s.head);
    if (it == map.end()) return nullptr;
    cur = &it->second;
    if (s.last) return cur;
    path = s.rest;
  }
}

Json* get_path(Json& value, std::string_view path) {
  return const_cast<Json*>(get_path(static_cast<const Json&>(value), path));
}

void set_path(Json& value, std::string_view path, Json x) {
  if (path.empty()) fail("写入路径不能为空（空路径会整体替换文档，拒绝静默覆盖）");
  Json* cur = &value;
  std::string_view rest = path;
  while (true) {
    if (!cur->is_object()) {
      std::string_view walked = path.substr(0, path.size() - rest.size());
      if (!walked.empty()) walked.remove_suffix(1);
      fail("写入路径 \"{}\" 途经的 \"{}\" 是 {} 而不是对象（拒绝静默覆盖已有数据）",
           {path, walked.empty() ? std::string_view("（文档本身）") : walked, type_name(*cur)});
    }
    Segment s = split(rest);
    auto& map = cur->get_ref<Object&>();
    if (s.last) {
      map.insert_or_assign(std::string(s.head), std::move(x));
      return;
    }
    auto it = map.find(s.head);
    if (it == map.end()) it = map.emplace(std::string(s.head), Json::object()).first;
    cur = &it->second;
    rest = s.rest;
  }
}

void remove_path(Json& value, std::string_view path) {
  if (!path.empty()) remove_in(value, path);
}

void remove_object_path(Json& value, std::string_view path) {
  if (path.empty()) return;
  std::size_t dot = path.rfind('.');
  Json* parent = dot == std::string_view::npos ? &value : get_path(value, path.substr(0, dot));
  if (parent == nullptr || !parent->is_object()) return;
  auto& map = parent->get_ref<Object&>();
  auto it = map.find(dot == std::string_view::npos ? path : path.substr(dot + 1));
  if (it != map.end()) map.erase(it);
}

DepthGuard::DepthGuard(std::size_t& depth, std::string_view what) : depth_(depth) {
  if (depth_ >= kMaxDepth) {
    fail("{}嵌套超过上限 {} 层", {what, std::to_string(kMaxDepth)});
  }
  ++depth_;
}

void resolve_path_candidates(const Json& value, std::string_view path,
                             std::vector<const Json*>& out) {
  collect(value, path, !path.empty(), out);
}

}  // namespace varnel::local
