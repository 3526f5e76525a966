#include "schema/registry.h"

#include <gtest/gtest.h>

#include "error.h"
#include "permission.h"
#include "support.h"

namespace varnel::schema {
namespace {

void add(Registry& r, const std::string& name) {
  Catalog& c = r.catalog_for_change();
  c.names.push_back(name);
  Schema s;
  s.name = name;
  c.entries[name] = Entry{s, {}};
}

std::string message_of(auto&& f) {
  try {
    f();
    return "";
  } catch (const CoreError& e) {
    return e.message();
  }
}

TEST(Registry, FreshDefaults) {
  Registry r;
  EXPECT_TRUE(r.is_base());
  EXPECT_EQ(r.profile, Profile::Standard);
  EXPECT_FALSE(r.require_context);
  EXPECT_EQ(r.writeLinkPolicy, WriteLinkPolicy::Reject);
  EXPECT_EQ(r.policy.role_rules.unconfigured_policy, UnconfiguredPolicy::Open);
  EXPECT_FALSE(r.policy.meta.closed);
  EXPECT_TRUE(r.list().empty());
  EXPECT_FALSE(r.has("User"));
  EXPECT_EQ(message_of([&] { r.get("User"); }), "Schema 未注册: User");
}

TEST(Registry, ViewKeepsTheCatalogItWasMadeFrom) {
  Registry base;
  add(base, "User");
  Registry view = base.make_view();
  add(base, "Post");
  EXPECT_EQ(base.list(), (std::vector<std::string>{"User", "Post"}));
  EXPECT_EQ(view.list(), (std::vector<std::string>{"User"}));
  base.clear();
  EXPECT_TRUE(base.list().empty());
  EXPECT_TRUE(view.has("User"));
  EXPECT_FALSE(view.is_base());
}

TEST(Registry, ViewRefusesCatalogChanges) {
  Registry base;
  Registry view = base.make_view();
  const std::string expected =
      "ERR_POLICY_VIEW_READONLY: 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）";
  EXPECT_EQ(message_of([&] { view.clear(); }), expected);
  EXPECT_EQ(message_of([&] { view.catalog_for_change(); }), expected);
  EXPECT_EQ(message_of([&] { view.replace_catalog({}); }), expected);
}

TEST(PolicyTexts, ParseExactly) {
  EXPECT_EQ(profile_from_str_or_err("text2query"), Profile::Text2Query);
  EXPECT_EQ(profile_text(Profile::Standard), "standard");
  EXPECT_EQ(message_of([] { profile_from_str_or_err("Standard"); }),
            "未知 profile: Standard（仅 standard / text2query）");
  EXPECT_EQ(unconfigured_policy_from_str_or_err("closed"), UnconfiguredPolicy::Closed);
  EXPECT_EQ(message_of([] { unconfigured_policy_from_str_or_err("deny"); }),
            "未知 unconfigured_policy: deny（仅 open / closed）");
  EXPECT_EQ(write_link_policy_text(WriteLinkPolicy::PrimaryOnly), "primaryOnly");
}

TEST(Records, RoleLocationAndAutoincrement) {
  EXPECT_EQ(parse_role("cache"), Role::Cache);
  EXPECT_EQ(role_text(Role::Archive), "archive");
  EXPECT_EQ(message_of([] { parse_role("Primary"); }),
            "未知链路角色: Primary（仅 primary/replica/cache/archive）");

  Schema s;
  EXPECT_EQ(s.location(), Location{});
  s.source = "pg";
  s.schema = "app";
  Location loc = s.location();
  EXPECT_EQ(loc.source, "pg");
  EXPECT_EQ(loc.schema, "app");
  EXPECT_FALSE(loc.role.has_value());

  EXPECT_FALSE(s.id_is_autoincrement());
  FieldDef id;
  id.type = "number";
  id.strategy = "autoincrement";
  s.fields["_id"] = id;
  EXPECT_TRUE(s.id_is_autoincrement());
}


// ---- batch registration ----

using testing::parse;

Location at(const char* source, std::optional<std::string> db = std::nullopt,
            std::optional<std::string> schema = std::nullopt) {
  return Location{source, std::move(db), std::move(schema), std::nullopt, std::nullopt};
}

LoadItem item(const char* defn, Location loc = {}) { return {parse(defn), std::move(loc)}; }

void reg(Registry& r, const char* defn) { r.register_with_ctx(parse(defn), nullptr); }

// Everything a batch may change, as text, to compare catalogs whole.
std::string dump(const Registry& r) {
  std::string out;
  for (const auto& name : r.list()) {
    const Entry& e = r.get_entry(name);
    out += name + "|" + e.schema.collection + "|" + std::to_string(e.schema.timestamps) + "|";
    for (const auto& [f, def] : e.schema.fields) out += f + ":" + def.type + ",";
    for (const Location& loc : e.locations) {
      out += "@" + loc.source + "/" + loc.database.value_or("-") + "/" + loc.schema.value_or("-");
      if (loc.role) out += "/" + std::string(role_text(*loc.role));
      if (loc.priority) out += "/" + std::to_string(*loc.priority);
    }
    out += "\n";
  }
  return out;
}

std::vector<std::string> sources(const std::vector<Location>& locs) {
  std::vector<std::string> out;
  for (const auto& l : locs) out.push_back(l.source + "/" + l.database.value_or("-"));
  return out;
}

TEST(RegisterBatch, OneDefinitionWithItsArchiveCompanion) {
  Registry r;
  reg(r, R"({"name": "Order", "collection": "order", "fields": {"total": "number"}})");
  EXPECT_EQ(r.list(), (std::vector<std::string>{"Order", "OrderDeleted"}));
  const Entry& archive = r.get_entry("OrderDeleted");
  EXPECT_EQ(archive.schema.collection, "order_deleted");
  EXPECT_TRUE(archive.schema.fields.contains("deletedAt"));
  EXPECT_EQ(archive.locations, std::vector<Location>{Location{}});
  EXPECT_EQ(r.get("Order").collection, "order");

  reg(r, R"({"name": "Plain"})");
  EXPECT_EQ(r.get("Plain").collection, "Plain");
  EXPECT_EQ(r.get("PlainDeleted").collection, "Plain_deleted");
  reg(r, R"({"name": "Log", "_isArchive": true})");
  reg(r, R"({"name": "TrashDeleted"})");
  EXPECT_FALSE(r.has("LogDeleted"));
  EXPECT_FALSE(r.has("TrashDeletedDeleted"));
}

TEST(RegisterBatch, ReRegisteringKeepsThePositionAndReplacesTheSchema) {
  Registry r;
  reg(r, R"({"name": "A"})");
  reg(r, R"({"name": "B"})");
  reg(r, R"({"name": "A", "timestamps": false, "fields": {"x": "string"}})");
  EXPECT_EQ(r.list(), (std::vector<std::string>{"A", "ADeleted", "B", "BDeleted"}));
  EXPECT_FALSE(r.get("A").timestamps);
  EXPECT_TRUE(r.get("A").fields.contains("x"));
}

TEST(RegisterBatch, ReplicasJoinTheirPrimary) {
  Registry r;
  r.register_batch({item(R"({"name": "Order", "replica": true})", at("my", "crm_eu")),
                    item(R"({"name": "Order"})", at("my", "crm"))},
                   nullptr);
  EXPECT_EQ(r.list(), (std::vector<std::string>{"Order", "OrderDeleted"}));
  EXPECT_EQ(sources(r.get_entry("Order").locations),
            (std::vector<std::string>{"my/crm", "my/crm_eu"}));
  EXPECT_EQ(sources(r.get_entry("OrderDeleted").locations),
            (std::vector<std::string>{"my/crm", "my/crm_eu"}));
  EXPECT_EQ(r.get("Order").database, "crm");
  EXPECT_EQ(r.get("OrderDeleted").database, "crm");
}

TEST(RegisterBatch, ReplicaAloneNeedsARegisteredPrimary) {
  Registry r;
  std::vector<LoadItem> replica = {item(R"({"name": "Order", "replica": 1})", at("my", "eu"))};
  EXPECT_EQ(testing::error_of([&] { r.register_batch(replica, nullptr); }),
            "未找到主 schema: Order（从定义 `replica` 必须伴随同批主定义，或该 name 已注册）");
  EXPECT_TRUE(r.list().empty());

  r.register_batch({item(R"({"name": "Order", "fields": {"a": "string"}})", at("my", "us"))},
                   nullptr);
  r.register_batch(replica, nullptr);
  EXPECT_EQ(sources(r.get_entry("Order").locations), (std::vector<std::string>{"my/us", "my/eu"}));
  EXPECT_TRUE(r.get("Order").fields.contains("a"));
  EXPECT_EQ(r.get("Order").database, "us");
  // The archive companion is not touched by a replica batch.
  EXPECT_EQ(sources(r.get_entry("OrderDeleted").locations), (std::vector<std::string>{"my/us"}));

  // A primary registration replaces the whole location list again.
  r.register_batch({item(R"({"name": "Order"})", at("my", "us"))}, nullptr);
  EXPECT_EQ(sources(r.get_entry("Order").locations), (std::vector<std::string>{"my/us"}));
}

TEST(RegisterBatch, StorageSlotsStayUnique) {
  Registry r;
  r.register_batch({item(R"({"name": "A", "collection": "items"})", at("s", "d"))}, nullptr);
  const std::string before = dump(r);
  EXPECT_EQ(testing::error_of([&] {
              r.register_batch({item(R"({"name": "B", "collection": "items"})", at("s", "d"))},
                               nullptr);
            }),
            "定位冲突: (s, Some(\"d\"), None, items) 已被 schema `A` 占用");
  EXPECT_EQ(dump(r), before);
  // Its own slot is no conflict, and neither is another database.
  r.register_batch({item(R"({"name": "A", "collection": "items"})", at("s", "d"))}, nullptr);
  r.register_batch({item(R"({"name": "B", "collection": "items"})", at("s", "d2"))}, nullptr);
  // Inside one batch the earlier name is the one named.
  EXPECT_EQ(testing::error_of([&] {
              r.register_batch({item(R"({"name": "C", "collection": "c"})", at("x", "y", "z")),
                                item(R"({"name": "D", "collection": "c"})", at("x", "y", "z"))},
                               nullptr);
            }),
            "定位冲突: (x, Some(\"y\"), Some(\"z\"), c) 已被 schema `C` 占用");
}

TEST(RegisterBatch, ClassificationMessages) {
  Registry r;
  auto error = [&](std::vector<LoadItem> items) {
    return testing::error_of([&] { r.register_batch(items, nullptr); });
  };
  EXPECT_EQ(error({item(R"({"name": "A"})"), item("[]")}), "schema 定义必须是对象");
  EXPECT_EQ(error({item(R"({"name": null})")}), "schema 缺少 name");
  EXPECT_EQ(error({item(R"({"name": "A"})", at("a")), item(R"({"name": "A"})", at("b"))}),
            "同名主定义重复: A（同一装载批次内 name 必须唯一，从定义请用 replica: true）");
  EXPECT_TRUE(r.list().empty());
}

TEST(RegisterBatch, DefinitionLayerGate) {
  Registry r;
  r.policy.meta = MetaPolicy{true, {"schema-admin"}};
  std::vector<LoadItem> batch = {item(R"({"name": "First"})"), item(R"({"name": "Second"})")};
  EXPECT_EQ(testing::error_of([&] { r.register_batch(batch, nullptr); }),
            "ERR_PERMISSION: 无权注册或覆盖定义 First");
  auto guest = permission::context_from_value(parse(R"({"role": "guest"})"));
  EXPECT_EQ(testing::error_of([&] { r.register_batch(batch, &*guest); }),
            "ERR_PERMISSION: 无权注册或覆盖定义 First");
  EXPECT_FALSE(r.can_register(&*guest));
  // A malformed batch is reported as such before the gate.
  EXPECT_EQ(testing::error_of([&] { r.register_batch({item("5")}, nullptr); }),
            "schema 定义必须是对象");
  EXPECT_TRUE(r.list().empty());

  auto internal = permission::context_from_value(parse(R"({"internal": true})"));
  r.register_batch(batch, &*internal);
  auto admin = permission::context_from_value(parse(R"({"roles": ["schema-admin"]})"));
  r.register_with_ctx(parse(R"({"name": "Third"})"), &*admin);
  EXPECT_EQ(r.list().size(), 6u);
  r.register_batch({}, nullptr);  // an empty batch names nobody
}

TEST(RegisterBatch, ViewsNeverRegister) {
  Registry base;
  reg(base, R"({"name": "A"})");
  Registry view = base.make_view();
  const std::string refused =
      "ERR_POLICY_VIEW_READONLY: 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）";
  EXPECT_EQ(testing::error_of([&] { view.register_batch({}, nullptr); }), refused);
  EXPECT_EQ(testing::error_of([&] { reg(view, R"({"name": "B"})"); }), refused);
  base.register_batch({}, nullptr);
  reg(base, R"({"name": "B"})");
  EXPECT_TRUE(base.has("B"));
  EXPECT_FALSE(view.has("B"));
}

TEST(RegisterBatch, AllOrNothing) {
  Registry r;
  reg(r, R"({"name": "Keep", "collection": "keep", "fields": {"a": "string"}})");
  Registry view = r.make_view();  // shares the catalog: a failure must not copy or change it
  const std::string before = dump(r);

  auto long_batch = [](LoadItem last) {
    std::vector<LoadItem> items;
    for (int i = 0; i < 300; ++i) {
      std::string defn = R"({"name": "M)" + std::to_string(i) + R"(", "fields": {"f": "number"}})";
      items.push_back({parse(defn.c_str()), at("s", "db")});
    }
    items.push_back(std::move(last));
    return items;
  };
  const LoadItem failing_last[] = {
      item(R"({"name": "Bad", "timestamps": "days"})", at("s", "db")),
      item(R"({"name": "Bad", "fields": {"x": 5}})", at("s", "db")),
      item(R"({"name": "Bad", "computes": {"c": {"agg": {"$sum": "r"}}}})", at("s", "db")),
      item(R"({"name": "Bad", "triggers": {"insert": [{"fnRef": ""}]}})", at("s", "db")),
      // Only the archive companion fails: its deletedAt meets deleted_at.
      item(R"({"name": "Bad", "fields": {"deleted_at": "number"}})", at("s", "db")),
      item(R"({"name": "Ghost", "replica": true})", at("s", "db")),
      item(R"({"name": "Bad", "collection": "keep"})", at("default")),
      item(R"({"name": "M3"})", at("s", "db")),
  };
  for (const LoadItem& last : failing_last) {
    EXPECT_NE(testing::error_of([&] { r.register_batch(long_batch(last), nullptr); }), "")
        << last.defn.dump();
    EXPECT_EQ(dump(r), before) << last.defn.dump();
  }
  EXPECT_EQ(dump(view), before);
  r.register_batch(long_batch(item(R"({"name": "Good"})", at("s", "db"))), nullptr);
  EXPECT_EQ(r.list().size(), 2u + 2u * 301u);
  EXPECT_EQ(r.list()[2], "M0");
  EXPECT_EQ(r.list()[3], "M0Deleted");
}

TEST(ClassifyBatch, NamesPrimariesReplicas) {
  std::vector<LoadItem> items = {item(R"({"name": "B", "replica": [0]})", at("x")),
                                 item(R"({"name": "A", "collection": ""})", at("y")),
                                 item(R"({"name": "B", "collection": "bees"})", at("z")),
                                 item(R"({"name": "B", "replica": "r"})", at("w"))};
  BatchClass c = classify_batch(items);
  EXPECT_EQ(c.names, (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(c.primaries.at("A").collection, "A");
  EXPECT_EQ(c.primaries.at("B").collection, "bees");
  EXPECT_EQ(c.primaries.at("B").item, 2u);
  EXPECT_EQ(c.replicas.at("B"), (std::vector<std::size_t>{0, 3}));
  try {
    classify_batch({item(R"({"name": "A"})", at("a")), item(R"({"name": "x"})"),
                    item(R"({"name": "A"})", at("b"))});
    FAIL();
  } catch (const BatchError& e) {
    const auto& dup = std::get<DuplicatePrimary>(e.form());
    EXPECT_EQ(dup.name, "A");
    EXPECT_EQ(dup.first, 0u);
    EXPECT_EQ(dup.second, 2u);
  }
}

TEST(DetectLocationConflict, OneNameMayRepeatTwoMayNotShare) {
  Location a = at("s", "d");
  Location b = at("s", "d", "x");
  Location prioritized = a;
  prioritized.role = Role::Replica;
  prioritized.priority = 3;
  EXPECT_FALSE(detect_location_conflict({{"A", "c", &a}, {"A", "c", &a}, {"B", "c", &b},
                                         {"B", "other", &a}}));
  auto c = detect_location_conflict({{"A", "c", &a}, {"B", "c", &prioritized}});
  ASSERT_TRUE(c);
  EXPECT_EQ(c->first, "A");
  EXPECT_EQ(c->second, "B");
  EXPECT_EQ(c->database, "d");
  EXPECT_FALSE(c->schema);
}

// ---- link declarations, read links, lookup by location ----

LinkDecls links(std::initializer_list<std::pair<const char*, std::vector<Location>>> l) {
  LinkDecls out;
  for (const auto& [name, decls] : l) out.emplace_back(name, decls);
  return out;
}

Location link(const char* source, const char* db, std::optional<Role> role,
              std::optional<std::int64_t> priority = std::nullopt) {
  return Location{source, db, std::nullopt, role, priority};
}

TEST(ApplyLinkDecls, ReRolesOrAppends) {
  Registry r;
  r.register_batch({item(R"({"name": "Order"})", at("my", "crm"))}, nullptr);
  r.apply_link_decls(links({{"Order", {link("my", "crm", Role::Replica, 2),
                                       link("pg", "wh", Role::Primary)}}}));
  EXPECT_EQ(dump(r), "Order|Order|1|createdAt:number,updatedAt:number,@my/crm/-/replica/2@pg/wh/-/primary\n"
                     "OrderDeleted|Order_deleted|1|createdAt:number,deletedAt:number,updatedAt:number,"
                     "@my/crm/-/replica/2@pg/wh/-/primary\n");
  // An absent role or priority clears the stored one.
  r.apply_link_decls(links({{"Order", {link("my", "crm", std::nullopt)}}}));
  EXPECT_EQ(r.get_entry("Order").locations[0], at("my", "crm"));
}

TEST(ApplyLinkDecls, ArchiveFollowsUnlessDeclaredItself) {
  Registry r;
  reg(r, R"({"name": "Order"})");
  r.apply_link_decls(links({{"Order", {link("a", "x", Role::Primary)}},
                            {"OrderDeleted", {link("b", "y", Role::Primary)}}}));
  EXPECT_EQ(sources(r.get_entry("Order").locations), (std::vector<std::string>{"default/-", "a/x"}));
  EXPECT_EQ(sources(r.get_entry("OrderDeleted").locations),
            (std::vector<std::string>{"default/-", "b/y"}));
}

TEST(ApplyLinkDecls, RefusalsChangeNothing) {
  Registry r;
  reg(r, R"({"name": "Order"})");
  Registry view = r.make_view();
  view.apply_link_decls({});  // nothing declared: not even the view rule applies
  const std::string before = dump(r);
  EXPECT_EQ(testing::error_of([&] {
              r.apply_link_decls(links({{"Order", {link("a", "x", Role::Primary)}},
                                        {"Zed", {link("a", "x", Role::Primary)}}}));
            }),
            "未注册 schema: Zed（config.links 引用了不存在的 schema）");
  EXPECT_EQ(dump(r), before);
  EXPECT_EQ(testing::error_of([&] {
              view.apply_link_decls(links({{"Order", {link("a", "x", Role::Primary)}}}));
            }),
            "ERR_POLICY_VIEW_READONLY: 非 base 策略视图禁止注册/清空 schema（目录唯一真源在 base Registry）");
}

TEST(ApplyLinkDecls, NeverPutsTwoNamesOnOneSlot) {
  Registry r;
  r.register_batch({item(R"({"name": "A", "collection": "c"})", at("s", "d")),
                    item(R"({"name": "B", "collection": "c"})", at("s", "e"))},
                   nullptr);
  const std::string before = dump(r);
  EXPECT_EQ(testing::error_of([&] {
              r.apply_link_decls(links({{"B", {link("s", "d", Role::Replica)}}}));
            }),
            "定位冲突: (s, Some(\"d\"), None, c) 已被 schema `A` 占用");
  EXPECT_EQ(dump(r), before);
  r.register_batch({item(R"({"name": "C"})", at("s", "d"))}, nullptr);  // still possible
}

TEST(ResolveReadLinks, OrderAndUnreachableSources) {
  Registry r;
  reg(r, R"({"name": "Order"})");
  r.apply_link_decls(links({{"Order", {link("none", "a", std::nullopt, 1),
                                       link("arch", "a", Role::Archive),
                                       link("rep2", "a", Role::Replica),
                                       link("rep1", "a", Role::Replica, 5),
                                       link("rep0", "a", Role::Replica, -1),
                                       link("pri", "a", Role::Primary)}}}));
  auto names = [](const ReadLinks& l) {
    std::vector<std::string> out;
    for (const auto& loc : l.locations) out.push_back(loc.source);
    return out;
  };
  ReadLinks all = r.resolve_read_links("Order", nullptr);
  EXPECT_EQ(names(all),
            (std::vector<std::string>{"pri", "rep0", "rep1", "rep2", "arch", "none", "default"}));
  EXPECT_TRUE(all.warnings.empty());

  std::vector<std::string> down = {"rep1", "pri", "elsewhere"};
  ReadLinks some = r.resolve_read_links("Order", &down);
  EXPECT_EQ(names(some), (std::vector<std::string>{"rep0", "rep2", "arch", "none", "default"}));
  ASSERT_EQ(some.warnings.size(), 2u);
  EXPECT_EQ(some.warnings[0], parse(R"({"code": "readLinkUnreachable",
    "hint": "检查该数据源连接；或调整 store.config.json 的 links 优先级", "layer": "schema",
    "message": "schema Order 的链路 pri 不可达，已跳过", "schema": "Order", "source": "pri"})"));
  EXPECT_EQ(some.warnings[1]["source"], "rep1");

  std::vector<std::string> everything = {"pri", "rep0", "rep1", "rep2", "arch", "default", "none"};
  EXPECT_EQ(testing::error_of([&] { r.resolve_read_links("Order", &everything); }),
            "ERR_READ_NO_REACHABLE_LINK: Order 的全部链路不可达（已按 unreachable 跳过）");
  EXPECT_EQ(testing::error_of([&] { r.resolve_read_links("Nope", nullptr); }), "Schema 未注册: Nope");
}

TEST(GetByLocation, EmptyCountsAsAbsent) {
  Registry r;
  r.register_batch({item(R"({"name": "A", "collection": "a"})", at("s")),
                    item(R"({"name": "B", "collection": "b"})", at("s", "d", "x"))},
                   nullptr);
  EXPECT_EQ(r.get_by_location("s", "", std::nullopt, "a").schema.name, "A");
  EXPECT_EQ(r.get_by_location("s", "d", "x", "b").schema.name, "B");
  EXPECT_EQ(r.get_by_location("s", std::nullopt, "", "a_deleted").schema.name, "ADeleted");
  EXPECT_EQ(testing::error_of([&] { r.get_by_location("s", "d", "", "b"); }),
            "Schema 未定位（source = s, database = Some(\"d\"), schema = None, collection = b）");
  EXPECT_EQ(testing::error_of([&] { r.get_by_location("t", "", "", "a"); }),
            "Schema 未定位（source = t, database = None, schema = None, collection = a）");
}

TEST(GetForCommand, FallsBackToTheStructureDeclaration) {
  Registry r;
  r.register_batch({item(R"({"name": "Tenant", "collection": "t"})", at("pg")),
                    item(R"({"name": "TenantEu", "collection": "t"})", at("pg", "eu"))},
                   nullptr);
  EXPECT_EQ(r.get_for_command("pg", "eu", std::nullopt, "t").schema.name, "TenantEu");
  // Another tenant database shares the structure declared without one.
  EXPECT_EQ(r.get_for_command("pg", "us", std::nullopt, "t").schema.name, "Tenant");
  EXPECT_EQ(r.get_for_command("pg", "us", "app", "t_deleted").schema.name, "TenantDeleted");
  EXPECT_EQ(testing::error_of([&] { r.get_for_command("my", "us", std::nullopt, "t"); }),
            "Schema 未定位（source = my, database = Some(\"us\"), schema = None, collection = t）");

  Registry two;
  two.register_batch({item(R"({"name": "X", "collection": "t"})", at("pg", "a")),
                      item(R"({"name": "Y", "collection": "t"})", at("pg", "b"))},
                     nullptr);
  EXPECT_EQ(testing::error_of([&] { two.get_for_command("pg", "c", "", "t"); }),
            "命令定位 (pg, Some(\"c\"), None, t) 存在多个结构 schema（多租户 override 需唯一的 (source, collection) 结构声明）");
}

}  // namespace
}  // namespace varnel::schema
