#include "schema/definition.h"

#include <algorithm>

#include "error.h"
#include "naming/naming.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kRoleTexts[] = {"primary", "replica", "cache", "archive"};
constexpr std::string_view kAggOperators[] = {"$count", "$sum", "$avg", "$min", "$max"};

using RelationTable = std::map<std::string, RelationDef, std::less<>>;

std::optional<std::string> optional_text(const Json& obj, std::string_view key) {
  const std::string* s = non_empty_string(find_key(obj, key));
  return s != nullptr ? std::optional<std::string>(*s) : std::nullopt;
}

void read_text(const Json& obj, std::string_view key, std::string& member) {
  if (const std::string* s = non_empty_string(find_key(obj, key))) member = *s;
}

// A rule is present only when the key holds an array.
Rule read_rule(const Json& obj, std::string_view key) {
  const Json* v = find_key(obj, key);
  if (v == nullptr || !v->is_array()) return std::nullopt;
  return string_elements(*v);
}

bool read_timestamps(const Json& defn) {
  const Json* v = find_key(defn, "timestamps");
  if (v == nullptr || v->is_null()) return true;
  if (v->is_boolean()) return v->get<bool>();
  constexpr std::string_view kMessage = "timestamps 仅支持 true/false/'ms'/'s'，实际 {}";
  if (!v->is_string()) fail(kMessage, {compact_json(*v)});
  const auto& unit = v->get_ref<const std::string&>();
  if (unit != "s" && unit != "ms") fail(kMessage, {debug_quoted(unit)});
  return true;
}

FieldDef field_from_object(std::string_view name, const Json& obj) {
  FieldDef def;
  read_text(obj, "type", def.type);
  const Json* required = find_key(obj, "required");
  def.required = required != nullptr && required->is_boolean() && required->get<bool>();
  if (const Json* d = find_key(obj, "default"); d != nullptr && !d->is_null()) {
    def.default_value = *d;
  }
  def.read = read_rule(obj, "read");
  def.write = read_rule(obj, "write");
  if (const Json* nested = find_key(obj, "fields"); nested != nullptr && is_truthy(*nested)) {
    def.fields = *nested;
  }
  if (const Json* strategy = find_key(obj, "strategy"); strategy != nullptr && strategy->is_string()) {
    const auto& text = strategy->get_ref<const std::string&>();
    if (text != "autoincrement") {
      fail("字段 {} 的 strategy \"{}\" 非法（仅支持 \"autoincrement\"，且仅限 _id 字段）",
           {name, text});
    }
    def.strategy = text;
  }
  return def;
}

RelationTable normalize_relations(const Json& defn) {
  RelationTable out;
  const Json* value = find_key(defn, "relations");
  if (value == nullptr || !value->is_object()) return out;
  for (const auto& [name, entry] : value->get_ref<const Json::object_t&>()) {
    RelationDef def;
    def.foreignField = name;
    if (entry.is_object()) {
      read_text(entry, "model", def.model);
      read_text(entry, "type", def.type);
      read_text(entry, "localField", def.localField);
      read_text(entry, "foreignField", def.foreignField);
      def.read = read_rule(entry, "read");
    }
    out.emplace_hint(out.end(), name, std::move(def));
  }
  return out;
}

// A relation aggregate: one operator over a declared relation, or over
// one field of it ("lessons" / "lessons.duration").
void check_agg(std::string_view name, const ComputeDef& def, const Json& agg,
               const RelationTable& relations) {
  if (def.fn || def.asyncFn) fail("计算列 \"{}\" 不能同时声明 agg 与 fn/asyncFn（二选一）", {name});
  if (!agg.is_object()) fail("计算列 \"{}\" 的 agg 必须是对象，如 {\"$count\": \"lessons\"}", {name});
  if (agg.size() != 1) fail("计算列 \"{}\" 的 agg 必须且只能声明一个算子键", {name});
  const auto& [op, path_value] = *agg.get_ref<const Json::object_t&>().begin();
  if (std::find(std::begin(kAggOperators), std::end(kAggOperators), op) == std::end(kAggOperators)) {
    fail("计算列 \"{}\" 的 agg 算子 {} 不在白名单（$count/$sum/$avg/$min/$max）", {name, op});
  }
  const std::string* path = non_empty_string(&path_value);
  if (path == nullptr || *path == "*") {
    fail("计算列 \"{}\" 的 agg 取值必须是关系路径字符串（如 \"lessons\" / \"lessons.duration\"）",
         {name});
  }
  std::string_view whole = *path;
  std::size_t dot = whole.find('.');
  std::string_view relation = whole.substr(0, dot);
  if (!relations.contains(relation)) {
    fail("计算列 \"{}\" 的 agg 引用的关系 \"{}\" 未在 schema 中定义", {name, relation});
  }
  bool has_field = dot != std::string_view::npos;
  if (has_field) {
    std::string_view field = whole.substr(dot + 1);
    if (field.empty() || field.find('.') != std::string_view::npos) {
      fail("计算列 \"{}\" 的 agg 关系路径 \"{}\" 非法：仅支持单级「关系.字段」（二级路径首批不支持）",
           {name, whole});
    }
  }
  if (op == "$count" && has_field) {
    fail("计算列 \"{}\" 的 $count 仅支持关系整行计数（如 \"lessons\"），按字段计数待 P5", {name});
  }
  if (op != "$count" && !has_field) {
    fail("计算列 \"{}\" 的 agg 算子 {} 必须引用关系字段（如 \"lessons.duration\"）", {name, op});
  }
}

std::vector<std::pair<std::string, ComputeDef>> normalize_computes(const Json& defn,
                                                                   const RelationTable& relations) {
  std::vector<std::pair<std::string, ComputeDef>> out;
  const Json* value = find_key(defn, "computes");
  if (value == nullptr || !value->is_object()) return out;
  out.reserve(value->size());
  for (const auto& [name, entry] : value->get_ref<const Json::object_t&>()) {
    ComputeDef def;
    if (entry.is_object()) {
      read_text(entry, "type", def.type);
      def.fn = is_truthy_key(entry, "fn");
      def.asyncFn = is_truthy_key(entry, "asyncFn");
      def.fnRef = optional_text(entry, "fnRef");
      if (const Json* depends = find_key(entry, "depends")) def.depends = string_elements(*depends);
      def.read = read_rule(entry, "read");
      if (const Json* agg = find_key(entry, "agg"); agg != nullptr && is_truthy(*agg)) {
        check_agg(name, def, *agg, relations);
        def.agg = *agg;
      }
    }
    out.emplace_back(name, std::move(def));
  }
  return out;
}

void check_name_conflicts(const Schema& schema) {
  std::vector<std::string> names;
  names.reserve(schema.fields.size() + schema.relations.size() + schema.computes.size());
  for (const auto& entry : schema.fields) names.push_back(entry.first);
  for (const auto& entry : schema.relations) names.push_back(entry.first);
  for (const auto& entry : schema.computes) names.push_back(entry.first);
  naming::detect_conflicts(names);
}

std::optional<std::string> non_empty(const std::optional<std::string>& text) {
  return text && !text->empty() ? text : std::nullopt;
}

}  // namespace

Role parse_role(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kRoleTexts); ++i) {
    if (kRoleTexts[i] == text) return static_cast<Role>(i);
  }
  fail("未知链路角色: {}（仅 primary/replica/cache/archive）", {text});
}

std::string_view role_text(Role role) { return kRoleTexts[static_cast<std::size_t>(role)]; }

Location Schema::location() const {
  Location loc;
  if (source) loc.source = *source;
  loc.database = database;
  loc.schema = schema;
  return loc;
}

bool Schema::id_is_autoincrement() const {
  auto it = fields.find("_id");
  return it != fields.end() && it->second.strategy == "autoincrement";
}

const ComputeDef* Schema::find_compute(std::string_view name) const {
  auto it = std::lower_bound(computes.begin(), computes.end(), name,
                             [](const auto& entry, std::string_view n) { return entry.first < n; });
  return it != computes.end() && it->first == name ? &it->second : nullptr;
}

FieldTable normalize_fields(const Json* value) {
  FieldTable out;
  if (value == nullptr || !value->is_object()) return out;
  for (const auto& [name, entry] : value->get_ref<const Json::object_t&>()) {
    FieldDef def;
    if (entry.is_string()) {
      def.type = entry.get<std::string>();
    } else if (entry.is_object()) {
      def = field_from_object(name, entry);
    } else {
      fail("字段 {} 定义类型非法（须为类型字符串或对象）", {name});
    }
    out.emplace_hint(out.end(), name, std::move(def));
  }
  return out;
}

Schema build_schema(const Json& defn, std::string_view name, std::string_view collection,
                    const Location& location) {
  Schema schema;
  schema.name = name;
  schema.collection = collection;
  schema.timestamps = read_timestamps(defn);
  schema.fields = normalize_fields(find_key(defn, "fields"));
  if (schema.timestamps) {
    // A declaration of the same name wins.
    for (const char* stamp : {"createdAt", "updatedAt"}) {
      FieldDef def;
      def.type = "number";
      schema.fields.try_emplace(stamp, std::move(def));
    }
  }
  schema.relations = normalize_relations(defn);
  schema.computes = normalize_computes(defn, schema.relations);
  schema.triggers = parse_triggers(defn, name, schema.fields);
  check_name_conflicts(schema);

  read_text(defn, "idPrefix", schema.idPrefix);
  schema.read = read_rule(defn, "read");
  schema.write = read_rule(defn, "write");
  if (const Json* indexes = find_key(defn, "indexes"); indexes != nullptr && indexes->is_array()) {
    schema.indexes = indexes->get<std::vector<Json>>();
  }
  if (location.source != "default") schema.source = location.source;
  schema.database = non_empty(location.database);
  schema.schema = non_empty(location.schema);
  return schema;
}

bool derives_archive(const Json& defn, std::string_view name) {
  return !is_truthy_key(defn, "_isArchive") && !name.ends_with(kArchiveSuffix);
}

ArchiveDefinition archive_definition(const Json& defn, std::string_view name,
                                     std::string_view collection) {
  ArchiveDefinition out;
  out.name = std::string(name) + std::string(kArchiveSuffix);
  out.collection = std::string(collection) + std::string(kArchiveCollectionSuffix);

  const Json* source_fields = find_key(defn, "fields");
  Json fields = source_fields != nullptr && source_fields->is_object() ? *source_fields
                                                                       : Json::object();
  fields["deletedAt"] = Json::object({{"type", "number"}});
  // Archived rows keep the ids they had: no generation strategy.
  if (auto id = fields.find("_id"); id != fields.end() && id->is_object()) id->erase("strategy");
  const Json* indexes = find_key(defn, "indexes");

  Json& d = out.defn = Json::object();
  d["name"] = out.name;
  d["collection"] = out.collection;
  d["idPrefix"] = "";
  d["_isArchive"] = true;
  d["fields"] = std::move(fields);
  d["indexes"] = indexes != nullptr ? *indexes : Json::array();
  return out;
}

}  // namespace varnel::schema
