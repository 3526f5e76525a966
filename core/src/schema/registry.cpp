#include "schema/registry.h"

#include <algorithm>
#include <compare>
#include <cstdint>
#include <limits>
#include <set>

#include "error.h"
#include "permission.h"

namespace varnel::schema {

namespace {

constexpr std::string_view kProfileTexts[] = {"standard", "text2query"};
constexpr std::string_view kUnconfiguredTexts[] = {"open", "closed"};
constexpr std::string_view kWriteLinkTexts[] = {"reject", "primaryOnly"};

template <typename E, std::size_t N>
bool lookup(const std::string_view (&texts)[N], std::string_view text, E& out) {
  for (std::size_t i = 0; i < N; ++i) {
    if (texts[i] == text) {
      out = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

// A storage slot, compared member by member.
struct Slot {
  std::string_view source;
  std::optional<std::string_view> database;
  std::optional<std::string_view> schema;
  std::string_view collection;
  auto operator<=>(const Slot&) const = default;
};

// An empty text counts as absent.
std::optional<std::string_view> present(std::optional<std::string_view> text) {
  return text && !text->empty() ? text : std::nullopt;
}

std::string location_conflict_message(const LocationConflict& c) {
  return format("定位冲突: ({}, {}, {}, {}) 已被 schema `{}` 占用",
                {c.source, debug_optional(c.database), debug_optional(c.schema),
                 c.collection, c.first});
}

std::string batch_error_message(const BatchError& error) {
  const auto& form = error.form();
  if (const auto* plain = std::get_if<std::string>(&form)) return *plain;
  if (const auto* dup = std::get_if<DuplicatePrimary>(&form)) {
    return format("同名主定义重复: {}（同一装载批次内 name 必须唯一，从定义请用 replica: true）",
                  {dup->name});
  }
  return location_conflict_message(std::get<LocationConflict>(form));
}

// One pending catalog change of a batch.
struct Planned {
  std::string name;
  Schema schema;
  std::vector<Location> locations;
};

// New placements of one name about to be committed.
struct Pending {
  std::string_view name;
  std::string_view collection;
  const std::vector<Location>* locations;
};

// Checks every storage slot of the catalog as it would be after the pending
// changes: the entries left as they are, then the pending ones in order.
void check_slots_after(const Catalog& catalog, const std::vector<Pending>& pending) {
  std::set<std::string_view, std::less<>> changed;
  for (const Pending& p : pending) changed.insert(p.name);
  std::vector<Placement> placements;
  for (const auto& [name, entry] : catalog.entries) {
    if (changed.contains(name)) continue;
    for (const Location& loc : entry.locations) {
      placements.push_back({name, entry.schema.collection, &loc});
    }
  }
  for (const Pending& p : pending) {
    for (const Location& loc : *p.locations) placements.push_back({p.name, p.collection, &loc});
  }
  if (auto conflict = detect_location_conflict(placements)) {
    throw CoreError(location_conflict_message(*conflict));
  }
}

bool same_place(const Location& a, const Location& b) {
  return a.source == b.source && a.database == b.database && a.schema == b.schema;
}

// Read order: role rank (absent after archive), then priority (absent last).
std::pair<int, std::int64_t> link_order(const Location& loc) {
  return {loc.role ? static_cast<int>(*loc.role) : 4,
          loc.priority.value_or(std::numeric_limits<std::int64_t>::max())};
}

Json read_link_warning(std::string_view schema, std::string_view source) {
  Json w = Json::object();
  w["code"] = "readLinkUnreachable";
  w["hint"] = "检查该数据源连接；或调整 store.config.json 的 links 优先级";
  w["layer"] = "schema";
  w["message"] = format("schema {} 的链路 {} 不可达，已跳过", {schema, source});
  w["schema"] = schema;
  w["source"] = source;
  return w;
}

bool at_place(const Location& loc, std::string_view source, std::optional<std::string_view> database,
              std::optional<std::string_view> schema) {
  return loc.source == source && present(loc.database) == database &&
         present(loc.schema) == schema;
}

}  // namespace

std::optional<LocationConflict> detect_location_conflict(const std::vector<Placement>& placements) {
  std::map<Slot, std::string_view> taken;
  for (const Placement& p : placements) {
    const Location& loc = *p.location;
    Slot slot{loc.source, loc.database, loc.schema, p.collection};
    auto [it, inserted] = taken.try_emplace(slot, p.name);
    if (inserted || it->second == p.name) continue;
    return LocationConflict{std::string(p.collection), std::string(it->second), std::string(p.name),
                            loc.source, loc.database, loc.schema};
  }
  return std::nullopt;
}

BatchClass classify_batch(const std::vector<LoadItem>& items) {
  BatchClass out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Json& defn = items[i].defn;
    if (!defn.is_object()) throw BatchError(std::string("schema 定义必须是对象"));
    const Json* name_value = find_key(defn, "name");
    if (name_value == nullptr || !name_value->is_string()) {
      throw BatchError(std::string("schema 缺少 name"));
    }
    const auto& name = name_value->get_ref<const std::string&>();
    if (!out.primaries.contains(name) && !out.replicas.contains(name)) out.names.push_back(name);
    if (is_truthy_key(defn, "replica")) {
      out.replicas[name].push_back(i);
      continue;
    }
    if (auto it = out.primaries.find(name); it != out.primaries.end()) {
      throw BatchError(DuplicatePrimary{name, it->second.item, i});
    }
    const std::string* collection = non_empty_string(find_key(defn, "collection"));
    out.primaries.emplace(name, BatchClass::Primary{i, collection ? *collection : name});
  }

  std::vector<Placement> placements;
  placements.reserve(items.size());
  for (const std::string& name : out.names) {
    if (auto p = out.primaries.find(name); p != out.primaries.end()) {
      placements.push_back({name, p->second.collection, &items[p->second.item].location});
    }
    if (auto r = out.replicas.find(name); r != out.replicas.end()) {
      // A replica's slot is named by its definition's name.
      for (std::size_t i : r->second) placements.push_back({name, name, &items[i].location});
    }
  }
  if (auto conflict = detect_location_conflict(placements)) throw BatchError(std::move(*conflict));
  return out;
}

Profile profile_from_str_or_err(std::string_view text) {
  Profile p{};
  if (!lookup(kProfileTexts, text, p)) fail("未知 profile: {}（仅 standard / text2query）", {text});
  return p;
}

UnconfiguredPolicy unconfigured_policy_from_str_or_err(std::string_view text) {
  UnconfiguredPolicy p{};
  if (!lookup(kUnconfiguredTexts, text, p)) {
    fail("未知 unconfigured_policy: {}（仅 open / closed）", {text});
  }
  return p;
}

WriteLinkPolicy write_link_policy_from_str_or_err(std::string_view text) {
  WriteLinkPolicy p{};
  if (!lookup(kWriteLinkTexts, text, p)) {
    fail("未知 writeLinkPolicy: {}（仅 reject / primaryOnly）", {text});
  }
  return p;
}

std::string_view profile_text(Profile p) { return kProfileTexts[static_cast<std::size_t>(p)]; }
std::string_view unconfigured_policy_text(UnconfiguredPolicy p) {
  return kUnconfiguredTexts[static_cast<std::size_t>(p)];
}
std::string_view write_link_policy_text(WriteLinkPolicy p) {
  return kWriteLinkTexts[static_cast<std::size_t>(p)];
}

std::string view_readonly_message() {
  return format("{} 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）",
                {"ERR_POLICY_VIEW_READONLY:"});
}

Registry::Registry() : catalog_(std::make_shared<Catalog>()) {}

Registry Registry::make_view() const {
  Registry view = *this;
  view.is_base_ = false;
  return view;
}

bool Registry::has(std::string_view name) const { return catalog_->entries.contains(name); }

const Entry& Registry::get_entry(std::string_view name) const {
  auto it = catalog_->entries.find(name);
  if (it == catalog_->entries.end()) fail("Schema 未注册: {}", {name});
  return it->second;
}

void Registry::check_base() const {
  if (!is_base_) throw CoreError(view_readonly_message());
}

Catalog& Registry::catalog_for_change() {
  check_base();
  if (catalog_.use_count() > 1) catalog_ = std::make_shared<Catalog>(*catalog_);
  return *catalog_;
}

void Registry::replace_catalog(Catalog catalog) {
  check_base();
  catalog_ = std::make_shared<Catalog>(std::move(catalog));
}

void Registry::register_batch(const std::vector<LoadItem>& items,
                              const permission::Context* ctx) {
  check_base();
  BatchClass batch;
  try {
    batch = classify_batch(items);
  } catch (const BatchError& e) {
    throw CoreError(batch_error_message(e));
  }
  // The gate does not depend on the item, so the first one is named.
  if (!items.empty() && !can_register(ctx)) {
    fail("ERR_PERMISSION: 无权注册或覆盖定义 {}",
         {items.front().defn["name"].get_ref<const std::string&>()});
  }

  std::vector<Planned> planned;
  planned.reserve(batch.names.size() * 2);
  for (const std::string& name : batch.names) {
    std::vector<Location> replica_locations;
    if (auto r = batch.replicas.find(name); r != batch.replicas.end()) {
      for (std::size_t i : r->second) replica_locations.push_back(items[i].location);
    }
    auto move_replicas_after = [&](std::vector<Location> locations) {
      locations.insert(locations.end(), std::make_move_iterator(replica_locations.begin()),
                       std::make_move_iterator(replica_locations.end()));
      return locations;
    };

    if (auto p = batch.primaries.find(name); p != batch.primaries.end()) {
      const LoadItem& item = items[p->second.item];
      const std::string& collection = p->second.collection;
      Schema schema = build_schema(item.defn, name, collection, item.location);
      auto locations = move_replicas_after({item.location});
      if (derives_archive(item.defn, name)) {
        ArchiveDefinition archive = archive_definition(item.defn, name, collection);
        Schema archived =
            build_schema(archive.defn, archive.name, archive.collection, locations.front());
        planned.push_back({name, std::move(schema), locations});
        planned.push_back({std::move(archive.name), std::move(archived), std::move(locations)});
      } else {
        planned.push_back({name, std::move(schema), std::move(locations)});
      }
    } else if (auto e = catalog_->entries.find(name); e != catalog_->entries.end()) {
      // Replicas alone add placements to the registered schema.
      planned.push_back({name, e->second.schema, move_replicas_after(e->second.locations)});
    } else {
      fail("未找到主 schema: {}（从定义 `replica` 必须伴随同批主定义，或该 name 已注册）", {name});
    }
  }

  std::vector<Pending> pending;
  pending.reserve(planned.size());
  for (const Planned& p : planned) pending.push_back({p.name, p.schema.collection, &p.locations});
  check_slots_after(*catalog_, pending);

  Catalog& catalog = catalog_for_change();
  for (Planned& p : planned) {
    Entry entry{std::move(p.schema), std::move(p.locations)};
    if (auto it = catalog.entries.find(p.name); it != catalog.entries.end()) {
      it->second = std::move(entry);  // keeps its place in the name list
    } else {
      catalog.entries.emplace(p.name, std::move(entry));
      catalog.names.push_back(std::move(p.name));
    }
  }
}

void Registry::register_with_ctx(Json defn, const permission::Context* ctx) {
  std::vector<LoadItem> items;
  items.push_back({std::move(defn), Location{}});
  register_batch(items, ctx);
}

bool Registry::can_register(const permission::Context* ctx) const {
  return permission::can_register(policy.meta, ctx);
}

void Registry::apply_link_decls(const LinkDecls& links) {
  if (links.empty()) return;
  check_base();
  auto declared = [&](std::string_view name) {
    return std::any_of(links.begin(), links.end(), [&](const auto& l) { return l.first == name; });
  };
  std::vector<std::pair<std::string, std::vector<Location>>> scheduled;
  for (const auto& [name, decls] : links) {
    auto it = catalog_->entries.find(name);
    if (it == catalog_->entries.end()) {
      fail("未注册 schema: {}（config.links 引用了不存在的 schema）", {name});
    }
    std::vector<Location> locations = it->second.locations;
    for (const Location& decl : decls) {
      auto same = std::find_if(locations.begin(), locations.end(),
                               [&](const Location& loc) { return same_place(loc, decl); });
      if (same != locations.end()) {
        same->role = decl.role;
        same->priority = decl.priority;
      } else {
        locations.push_back(decl);
      }
    }
    scheduled.emplace_back(name, std::move(locations));
    if (!name.ends_with(kArchiveSuffix)) {
      std::string archive = name + std::string(kArchiveSuffix);
      if (has(archive) && !declared(archive)) {
        std::vector<Location> same = scheduled.back().second;
        scheduled.emplace_back(std::move(archive), std::move(same));
      }
    }
  }
  // Links must not put two names on one slot: every later registration
  // would be refused for it.
  std::vector<Pending> pending;
  pending.reserve(scheduled.size());
  for (const auto& [name, locations] : scheduled) {
    pending.push_back({name, get(name).collection, &locations});
  }
  check_slots_after(*catalog_, pending);

  Catalog& catalog = catalog_for_change();
  for (auto& [name, locations] : scheduled) {
    catalog.entries.find(name)->second.locations = std::move(locations);
  }
}

ReadLinks Registry::resolve_read_links(std::string_view name,
                                       const std::vector<std::string>* unreachable) const {
  ReadLinks out;
  out.locations = get_entry(name).locations;
  std::stable_sort(out.locations.begin(), out.locations.end(),
                   [](const Location& a, const Location& b) { return link_order(a) < link_order(b); });
  if (unreachable != nullptr) {
    std::erase_if(out.locations, [&](const Location& loc) {
      bool dropped = std::find(unreachable->begin(), unreachable->end(), loc.source) !=
                     unreachable->end();
      if (dropped) out.warnings.push_back(read_link_warning(name, loc.source));
      return dropped;
    });
  }
  if (out.locations.empty()) {
    fail("ERR_READ_NO_REACHABLE_LINK: {} 的全部链路不可达（已按 unreachable 跳过）", {name});
  }
  return out;
}

const Entry& Registry::get_by_location(std::string_view source,
                                       std::optional<std::string_view> database,
                                       std::optional<std::string_view> schema,
                                       std::string_view collection) const {
  database = present(database);
  schema = present(schema);
  for (const auto& [name, entry] : catalog_->entries) {
    if (entry.schema.collection != collection) continue;
    for (const Location& loc : entry.locations) {
      if (at_place(loc, source, database, schema)) return entry;
    }
  }
  fail("Schema 未定位（source = {}, database = {}, schema = {}, collection = {}）",
       {source, debug_optional(database), debug_optional(schema), collection});
}

const Entry& Registry::get_for_command(std::string_view source,
                                       std::optional<std::string_view> database,
                                       std::optional<std::string_view> schema,
                                       std::string_view collection) const {
  std::vector<const Entry*> candidates;
  for (const auto& [name, entry] : catalog_->entries) {
    if (entry.schema.collection != collection) continue;
    for (const Location& loc : entry.locations) {
      if (at_place(loc, source, present(database), present(schema))) return entry;
    }
    if (std::any_of(entry.locations.begin(), entry.locations.end(),
                    [&](const Location& loc) { return loc.source == source; })) {
      candidates.push_back(&entry);
    }
  }
  if (candidates.empty()) return get_by_location(source, database, schema, collection);
  if (candidates.size() == 1) return *candidates.front();
  // Tenant databases share the structure declared without database and schema.
  for (const Entry* e : candidates) {
    if (!present(e->schema.database) && !present(e->schema.schema)) return *e;
  }
  fail("命令定位 ({}, {}, {}, {}) 存在多个结构 schema（多租户 override 需唯一的 (source, collection) 结构声明）",
       {source, debug_optional(present(database)), debug_optional(present(schema)), collection});
}

void Registry::clear() {
  check_base();
  if (catalog_.use_count() > 1) {
    catalog_ = std::make_shared<Catalog>();
    return;
  }
  catalog_->names.clear();
  catalog_->entries.clear();
}

}  // namespace varnel::schema
