#include "schema/load.h"

#include <algorithm>

#include "datasource.h"
#include "error.h"
#include "naming/naming.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kKindMessage =
    "ERR:LOAD 连接 {} 的 kind 非法: {}（仅 mongodb/mysql/pg/sqlite/local/memory）";

// The path's segments between "/" and "\" separators, empty ones dropped.
std::vector<std::string_view> path_segments(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The non-empty strings of an array value (nullptr or non-array: none).
std::vector<std::string> kept_strings(const Json* value) {
  std::vector<std::string> out;
  if (value == nullptr || !value->is_array()) return out;
  for (const Json& e : *value) {
    if (const std::string* s = non_empty_string(&e)) out.push_back(*s);
  }
  return out;
}

SourceDecl parse_source(const std::string& name, const Json& decl) {
  if (!decl.is_object()) fail("ERR:LOAD 连接 {} 声明必须是对象", {name});
  const std::string* kind = non_empty_string(find_key(decl, "kind"));
  if (kind == nullptr) fail("ERR:LOAD 连接 {} 缺 kind", {name});
  if (!datasource::kind_from_text(*kind)) fail(kKindMessage, {name, *kind});
  SourceDecl out{name, naming::lower_unicode(*kind), kept_strings(find_key(decl, "databases"))};
  if (out.databases.empty()) fail("ERR:LOAD 连接 {} 的 databases 须为非空字符串数组", {name});
  return out;
}

// An optional non-empty text member: missing or null is absent; an empty
// string or another type fails with `message`.
std::optional<std::string> optional_member(const Json& obj, std::string_view key,
                                           std::string_view message, std::string_view schema,
                                           std::string_view index) {
  const Json* v = find_key(obj, key);
  if (v == nullptr || v->is_null()) return std::nullopt;
  const std::string* s = non_empty_string(v);
  if (s == nullptr) fail(message, {schema, index});
  return *s;
}

Location parse_link(const std::string& schema, std::size_t position, const Json& decl,
                    const std::vector<SourceDecl>& sources) {
  std::string index = std::to_string(position);
  if (!decl.is_object()) fail("ERR:LOAD links[{}][{}] 必须是对象", {schema, index});
  const std::string* source = non_empty_string(find_key(decl, "source"));
  if (source == nullptr) fail("ERR:LOAD links[{}][{}] 缺 source", {schema, index});
  auto declared = std::find_if(sources.begin(), sources.end(),
                               [&](const SourceDecl& s) { return s.name == *source; });
  if (declared == sources.end()) {
    fail("ERR:LOAD links[{}] 的 source 未在 sources 中声明: {}", {schema, *source});
  }

  Location link;
  link.source = *source;
  if (const Json* role = find_key(decl, "role"); role != nullptr && !role->is_null()) {
    if (!role->is_string()) fail("ERR:LOAD links[{}][{}] 的 role 须为字符串", {schema, index});
    link.role = parse_role(role->get_ref<const std::string&>());
  }
  if (const Json* priority = find_key(decl, "priority"); priority != nullptr && !priority->is_null()) {
    link.priority = as_int64(*priority);
    if (!link.priority) fail("ERR:LOAD links[{}][{}] 的 priority 须为整数", {schema, index});
  }
  link.database = optional_member(decl, "database", "ERR:LOAD links[{}][{}] 的 database 须为非空字符串",
                                  schema, index);
  if (!link.database) {
    if (declared->databases.size() != 1) {
      fail("ERR:LOAD links[{}] 的 source {} 维护多库，须显式给 database", {schema, *source});
    }
    link.database = declared->databases.front();
  }
  link.schema = optional_member(decl, "schema", "ERR:LOAD links[{}][{}] 的 schema 须为非空字符串",
                                schema, index);
  return link;
}

LinkDecls parse_links(const Json* value, const std::vector<SourceDecl>& sources) {
  LinkDecls out;
  if (value == nullptr || value->is_null()) return out;
  if (!value->is_object()) fail("ERR:LOAD links 必须是对象（schema 名 → 链路声明数组）");
  for (const auto& [schema, list] : value->get_ref<const Json::object_t&>()) {
    if (!list.is_array()) fail("ERR:LOAD links[{}] 必须是数组（链路声明列表）", {schema});
    std::vector<Location> decls;
    decls.reserve(list.size());
    std::size_t primaries = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      decls.push_back(parse_link(schema, i, list[i], sources));
      if (decls.back().role == Role::Primary) ++primaries;
    }
    if (primaries != 1) {
      fail("ERR:LOAD links[{}] 必须恰好一条 role=primary（实际 {} 条）",
           {schema, std::to_string(primaries)});
    }
    out.emplace_back(schema, std::move(decls));
  }
  return out;
}

std::string file_label(const std::vector<FileEntry>& files, std::size_t position) {
  return position < files.size() ? files[position].rel : "#" + std::to_string(position);
}

}  // namespace

LoadConfig LoadConfig::from_json(const Json& config) {
  if (!config.is_object()) fail("ERR:LOAD store.config.json 必须是对象");
  const Json* sources = find_key(config, "sources");
  if (sources == nullptr || !sources->is_object()) {
    fail("ERR:LOAD 缺 sources（须为 { name: { kind, databases } } 对象）");
  }
  if (sources->empty()) fail("ERR:LOAD sources 不得为空");
  LoadConfig out;
  out.sources.reserve(sources->size());
  for (const auto& [name, decl] : sources->get_ref<const Json::object_t&>()) {
    out.sources.push_back(parse_source(name, decl));
  }
  out.defs = kept_strings(find_key(config, "defs"));
  if (out.defs.empty()) fail("ERR:LOAD defs 须为非空字符串数组（定义根）");
  out.links = parse_links(find_key(config, "links"), out.sources);
  return out;
}

LoadConfig::SourceOfDb LoadConfig::source_of_db(std::string_view database) const {
  const SourceDecl* found = nullptr;
  for (const SourceDecl& s : sources) {
    if (std::find(s.databases.begin(), s.databases.end(), database) == s.databases.end()) continue;
    if (found != nullptr) {
      fail("ERR:LOAD 库归属冲突: {} 同时声明在连接 {} 与 {}（同一 db 名只能挂一个连接）",
           {database, found->name, s.name});
    }
    found = &s;
  }
  if (found == nullptr) {
    fail("ERR:LOAD 库目录未声明: {}（须在 store.config.json 的某连接 databases 中列出）", {database});
  }
  return {found, depth_layered(found->kind)};
}

int depth_layered(std::string_view kind) {
  auto parsed = datasource::kind_from_text(kind);
  if (!parsed) fail("ERR:LOAD 连接 kind 非法: {}（仅 mongodb/mysql/pg/sqlite/local/memory）", {kind});
  return *parsed == datasource::DataSource::Postgres ? 2 : 1;
}

Location locate(std::string_view rest, std::string_view source, std::string_view database,
                int depth) {
  auto segments = path_segments(rest);
  if (segments.empty()) fail("ERR:LOAD 定义路径非法（缺文件名）: {}", {rest});
  Location loc;
  loc.source = source;
  loc.database = std::string(database);
  if (depth == 2 && segments.size() >= 2) loc.schema = std::string(segments.front());
  return loc;
}

std::vector<LoadItem> plan_load(const LoadConfig& config, const std::vector<FileEntry>& files) {
  std::vector<LoadItem> items;
  items.reserve(files.size());
  for (const FileEntry& file : files) {
    auto segments = path_segments(file.rel);
    if (segments.empty()) fail("ERR:LOAD 定义路径非法: {}", {file.rel});
    std::string_view database = segments.front();
    auto [source, depth] = config.source_of_db(database);
    std::string rest;
    for (std::size_t i = 1; i < segments.size(); ++i) {
      if (i > 1) rest += '/';
      rest += segments[i];
    }
    items.push_back({file.defn, locate(rest, source->name, database, depth)});
  }

  BatchClass batch;
  try {
    batch = classify_batch(items);
  } catch (const BatchError& e) {
    throw CoreError(batch_err_to_load(e, files));
  }
  // classify_batch has checked every storage slot of these items already.
  std::vector<std::string> names = batch.names;
  std::sort(names.begin(), names.end());

  std::vector<LoadItem> out;
  out.reserve(items.size());
  for (const std::string& name : names) {
    auto primary = batch.primaries.find(name);
    if (primary == batch.primaries.end()) {
      fail("ERR:LOAD 主定义缺失: {}（同名项均为 replica:true，须恰好一份主）", {name});
    }
    out.push_back(std::move(items[primary->second.item]));
    if (auto r = batch.replicas.find(name); r != batch.replicas.end()) {
      for (std::size_t i : r->second) out.push_back(std::move(items[i]));
    }
  }
  return out;
}

std::string batch_err_to_load(const BatchError& error, const std::vector<FileEntry>& files) {
  const auto& form = error.form();
  if (const auto* plain = std::get_if<std::string>(&form)) return "ERR:LOAD " + *plain;
  if (const auto* dup = std::get_if<DuplicatePrimary>(&form)) {
    std::string both = file_label(files, dup->first) + " 与 " + file_label(files, dup->second);
    return format("ERR:LOAD 主定义重复: {}（{}）——同名只允许一份主，其余须 replica:true",
                  {dup->name, both});
  }
  const auto& c = std::get<LocationConflict>(form);
  return format(
      "ERR:LOAD 落点冲突: {} 同时映射 ({}, {}, {})（同一落点只能有一个 collection；冲突名 `{}` 与 `{}`）",
      {c.collection, c.source, debug_optional(c.database), debug_optional(c.schema), c.first,
       c.second});
}

}  // namespace varnel::schema
