#include "schema/load.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::schema {
namespace {

using testing::error_of;
using testing::parse;

const char* kStore = R"({
  "sources": {"pg": {"kind": "PostgreSQL", "databases": ["shop"]},
              "my": {"kind": "mysql", "databases": ["crm", "crm_eu"]},
              "mem": {"kind": "Memory", "databases": ["cache"]}},
  "defs": ["defs"]})";

std::string config_error(const std::string& text) {
  return error_of([&] { LoadConfig::from_json(parse(text.c_str())); });
}

std::vector<FileEntry> files(std::initializer_list<std::pair<const char*, const char*>> entries) {
  std::vector<FileEntry> out;
  for (const auto& [rel, defn] : entries) out.push_back({rel, parse(defn)});
  return out;
}

std::vector<LoadItem> plan(const std::vector<FileEntry>& f) {
  return plan_load(LoadConfig::from_json(parse(kStore)), f);
}

std::string plan_error(const std::vector<FileEntry>& f) {
  return error_of([&] { plan(f); });
}

TEST(LoadConfig, Parses) {
  LoadConfig c = LoadConfig::from_json(parse(R"({
    "sources": {"b": {"kind": "PostgreSQL", "databases": [1, "x", "", "x"], "other": 1},
                "a": {"kind": "MONGO", "databases": ["m"]}},
    "defs": ["", 3, "defs", "more"], "links": null, "extra": 1})"));
  ASSERT_EQ(c.sources.size(), 2u);
  EXPECT_EQ(c.sources[0].name, "a");
  EXPECT_EQ(c.sources[0].kind, "mongo");
  EXPECT_EQ(c.sources[1].kind, "postgresql");
  EXPECT_EQ(c.sources[1].databases, (std::vector<std::string>{"x", "x"}));
  EXPECT_EQ(c.defs, (std::vector<std::string>{"defs", "more"}));
  EXPECT_TRUE(c.links.empty());
}

TEST(LoadConfig, LinksTakeDefaults) {
  LoadConfig c = LoadConfig::from_json(parse(R"({
    "sources": {"a": {"kind": "mongo", "databases": ["m"]},
                "b": {"kind": "pg", "databases": ["x", "y"]}},
    "defs": ["d"],
    "links": {"User": [{"source": "a", "role": "primary"},
                       {"source": "b", "database": "y", "schema": "s", "role": "replica",
                        "priority": -3},
                       {"source": "a", "priority": 9223372036854775807, "role": null,
                        "schema": null}]}})"));
  ASSERT_EQ(c.links.size(), 1u);
  EXPECT_EQ(c.links[0].first, "User");
  const auto& d = c.links[0].second;
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0], (Location{"a", "m", std::nullopt, Role::Primary, std::nullopt}));
  EXPECT_EQ(d[1], (Location{"b", "y", "s", Role::Replica, -3}));
  EXPECT_EQ(d[2], (Location{"a", "m", std::nullopt, std::nullopt, INT64_MAX}));
}

TEST(LoadConfig, Refusals) {
  const std::string src = R"("sources": {"a": {"kind": "mysql", "databases": ["x"]},
                                        "b": {"kind": "pg", "databases": ["y", "z"]}})";
  auto links = [&](const std::string& l) {
    return config_error("{" + src + R"(, "defs": ["d"], "links": )" + l + "}");
  };
  struct Case {
    std::string error;
    std::string message;
  };
  const Case cases[] = {
      {config_error("[]"), "ERR:LOAD store.config.json 必须是对象"},
      {config_error("{}"), "ERR:LOAD 缺 sources（须为 { name: { kind, databases } } 对象）"},
      {config_error(R"({"sources": []})"), "ERR:LOAD 缺 sources（须为 { name: { kind, databases } } 对象）"},
      {config_error(R"({"sources": {}})"), "ERR:LOAD sources 不得为空"},
      {config_error(R"({"sources": {"b": 1, "a": {}}})"), "ERR:LOAD 连接 a 缺 kind"},
      {config_error(R"({"sources": {"a": []}})"), "ERR:LOAD 连接 a 声明必须是对象"},
      {config_error(R"({"sources": {"a": {"kind": ""}}})"), "ERR:LOAD 连接 a 缺 kind"},
      {config_error(R"({"sources": {"a": {"kind": 3}}})"), "ERR:LOAD 连接 a 缺 kind"},
      {config_error(R"({"sources": {"a": {"kind": "MariaDB"}}})"),
       "ERR:LOAD 连接 a 的 kind 非法: MariaDB（仅 mongodb/mysql/pg/sqlite/local/memory）"},
      {config_error(R"({"sources": {"a": {"kind": "pg"}}})"),
       "ERR:LOAD 连接 a 的 databases 须为非空字符串数组"},
      {config_error(R"({"sources": {"a": {"kind": "pg", "databases": "x"}}})"),
       "ERR:LOAD 连接 a 的 databases 须为非空字符串数组"},
      {config_error(R"({"sources": {"a": {"kind": "pg", "databases": ["", 3]}}})"),
       "ERR:LOAD 连接 a 的 databases 须为非空字符串数组"},
      {config_error("{" + src + "}"), "ERR:LOAD defs 须为非空字符串数组（定义根）"},
      {config_error("{" + src + R"(, "defs": ["", 3]})"), "ERR:LOAD defs 须为非空字符串数组（定义根）"},
      {config_error("{" + src + R"(, "defs": "d"})"), "ERR:LOAD defs 须为非空字符串数组（定义根）"},
      {links("[]"), "ERR:LOAD links 必须是对象（schema 名 → 链路声明数组）"},
      {links(R"({"U": {}})"), "ERR:LOAD links[U] 必须是数组（链路声明列表）"},
      {links(R"({"U": null})"), "ERR:LOAD links[U] 必须是数组（链路声明列表）"},
      {links(R"({"U": []})"), "ERR:LOAD links[U] 必须恰好一条 role=primary（实际 0 条）"},
      {links(R"({"U": [{"source": "a"}, {"source": "a"}]})"),
       "ERR:LOAD links[U] 必须恰好一条 role=primary（实际 0 条）"},
      {links(R"({"U": [{"source": "a", "role": "primary"}, {"source": "a", "role": "primary"}]})"),
       "ERR:LOAD links[U] 必须恰好一条 role=primary（实际 2 条）"},
      {links(R"({"U": [{"source": "a", "role": "primary"}, 3]})"), "ERR:LOAD links[U][1] 必须是对象"},
      {links(R"({"U": [{"source": ""}]})"), "ERR:LOAD links[U][0] 缺 source"},
      {links(R"({"U": [{"source": "c"}]})"), "ERR:LOAD links[U] 的 source 未在 sources 中声明: c"},
      {links(R"({"U": [{"source": "a", "role": 1}]})"), "ERR:LOAD links[U][0] 的 role 须为字符串"},
      {links(R"({"U": [{"source": "a", "role": "Primary"}]})"),
       "未知链路角色: Primary（仅 primary/replica/cache/archive）"},
      {links(R"({"U": [{"source": "a", "priority": 1.5}]})"), "ERR:LOAD links[U][0] 的 priority 须为整数"},
      {links(R"({"U": [{"source": "a", "priority": 18446744073709551615}]})"),
       "ERR:LOAD links[U][0] 的 priority 须为整数"},
      {links(R"({"U": [{"source": "a", "priority": "1"}]})"), "ERR:LOAD links[U][0] 的 priority 须为整数"},
      {links(R"({"U": [{"source": "a", "database": ""}]})"),
       "ERR:LOAD links[U][0] 的 database 须为非空字符串"},
      {links(R"({"U": [{"source": "a", "database": 5}]})"),
       "ERR:LOAD links[U][0] 的 database 须为非空字符串"},
      {links(R"({"U": [{"source": "b"}]})"), "ERR:LOAD links[U] 的 source b 维护多库，须显式给 database"},
      {links(R"({"U": [{"source": "a", "schema": ""}]})"), "ERR:LOAD links[U][0] 的 schema 须为非空字符串"},
      {links(R"({"U": [{"source": "a", "schema": []}]})"), "ERR:LOAD links[U][0] 的 schema 须为非空字符串"},
      // Schema names in ascending order: V is reached after U.
      {links(R"({"V": [], "U": [{"source": "c"}]})"), "ERR:LOAD links[U] 的 source 未在 sources 中声明: c"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error, c.message);
}

TEST(LoadConfig, SourceOfDatabase) {
  LoadConfig c = LoadConfig::from_json(parse(R"({
    "sources": {"a": {"kind": "pg", "databases": ["x", "shared", "x"]},
                "b": {"kind": "sqlite", "databases": ["shared", "y"]}},
    "defs": ["d"]})"));
  auto x = c.source_of_db("x");
  EXPECT_EQ(x.source->name, "a");
  EXPECT_EQ(x.depth, 2);
  EXPECT_EQ(c.source_of_db("y").depth, 1);
  EXPECT_EQ(error_of([&] { c.source_of_db("shared"); }),
            "ERR:LOAD 库归属冲突: shared 同时声明在连接 a 与 b（同一 db 名只能挂一个连接）");
  EXPECT_EQ(error_of([&] { c.source_of_db("zz"); }),
            "ERR:LOAD 库目录未声明: zz（须在 store.config.json 的某连接 databases 中列出）");
}

TEST(LoadConfig, DepthByKind) {
  EXPECT_EQ(depth_layered("pg"), 2);
  EXPECT_EQ(depth_layered("PostgreSQL"), 2);
  for (const char* k : {"mysql", "sqlite", "mongodb", "mongo", "memory", "local"}) {
    EXPECT_EQ(depth_layered(k), 1) << k;
  }
  EXPECT_EQ(error_of([] { depth_layered("oracle"); }),
            "ERR:LOAD 连接 kind 非法: oracle（仅 mongodb/mysql/pg/sqlite/local/memory）");
}

TEST(Locate, SegmentsAndDepth) {
  EXPECT_EQ(locate("sales/user.json", "pg", "shop", 2),
            (Location{"pg", "shop", "sales", std::nullopt, std::nullopt}));
  EXPECT_EQ(locate("sales\\\\deep//user.json", "pg", "shop", 2).schema, "sales");
  EXPECT_EQ(locate("user.json", "pg", "shop", 2).schema, std::nullopt);
  EXPECT_EQ(locate("sales/user.json", "my", "crm", 1).schema, std::nullopt);
  EXPECT_EQ(error_of([] { locate("//", "pg", "shop", 2); }), "ERR:LOAD 定义路径非法（缺文件名）: //");
}

TEST(PlanLoad, LocationsFromDirectories) {
  auto items = plan(files({{"shop/sales/order.json", R"({"name": "Order"})"},
                           {"shop/user.json", R"({"name": "User"})"},
                           {"crm/eu/lead.json", R"({"name": "Lead"})"},
                           {"\\cache\\\\x\\y\\tmp.json", R"({"name": "Tmp"})"}}));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].defn["name"], "Lead");
  EXPECT_EQ(items[0].location, (Location{"my", "crm", std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(items[1].location, (Location{"pg", "shop", "sales", std::nullopt, std::nullopt}));
  EXPECT_EQ(items[2].location, (Location{"mem", "cache", std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(items[3].location, (Location{"pg", "shop", std::nullopt, std::nullopt, std::nullopt}));
}

TEST(PlanLoad, PrimaryThenReplicasByName) {
  auto items = plan(files({{"crm/b.json", R"({"name": "b"})"},
                           {"crm_eu/a.json", R"({"name": "a", "replica": 1})"},
                           {"crm/a.json", R"({"name": "a"})"},
                           {"cache/a.json", R"({"name": "a", "replica": "yes"})"}}));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].location.database, "crm");
  EXPECT_EQ(items[1].location.database, "crm_eu");
  EXPECT_EQ(items[2].location.database, "cache");
  EXPECT_EQ(items[3].defn["name"], "b");
}

TEST(PlanLoad, Refusals) {
  struct Case {
    std::vector<FileEntry> files;
    std::string message;
  };
  const Case cases[] = {
      {files({{"", "{}"}}), "ERR:LOAD 定义路径非法: "},
      {files({{"/\\/", "{}"}}), "ERR:LOAD 定义路径非法: /\\/"},
      {files({{"nowhere", "{}"}}),
       "ERR:LOAD 库目录未声明: nowhere（须在 store.config.json 的某连接 databases 中列出）"},
      {files({{"crm", "{}"}}), "ERR:LOAD 定义路径非法（缺文件名）: "},
      // Classification waits until every file is located.
      {files({{"crm/a.json", "[]"}, {"nowhere/b.json", "{}"}}),
       "ERR:LOAD 库目录未声明: nowhere（须在 store.config.json 的某连接 databases 中列出）"},
      {files({{"crm/a.json", "[]"}}), "ERR:LOAD schema 定义必须是对象"},
      {files({{"crm/a.json", R"({"name": 1})"}}), "ERR:LOAD schema 缺少 name"},
      {files({{"crm/user.json", R"({"name": "User"})"}, {"crm_eu/x.json", R"({"name": "X"})"},
              {"crm_eu/user.json", R"({"name": "User"})"}}),
       "ERR:LOAD 主定义重复: User（crm/user.json 与 crm_eu/user.json）——同名只允许一份主，其余须 replica:true"},
      {files({{"crm/user.json", R"({"name": "User", "replica": true})"}}),
       "ERR:LOAD 主定义缺失: User（同名项均为 replica:true，须恰好一份主）"},
      {files({{"crm/a.json", R"({"name": "A", "collection": "items"})"},
              {"crm/b.json", R"({"name": "B", "collection": "items"})"}}),
       "ERR:LOAD 落点冲突: items 同时映射 (my, Some(\"crm\"), None)（同一落点只能有一个 collection；冲突名 `A` 与 `B`）"},
  };
  for (const Case& c : cases) EXPECT_EQ(plan_error(c.files), c.message) << c.message;

  for (const char* off : {"0", "\"\"", "false", "null"}) {
    std::string defn = std::string(R"({"name": "User", "replica": )") + off + "}";
    EXPECT_EQ(plan(files({{"crm/user.json", defn.c_str()}})).size(), 1u) << off;
  }
}

TEST(PlanLoad, DatabaseClaimedTwiceFailsOnlyWhenUsed) {
  LoadConfig c = LoadConfig::from_json(parse(R"({
    "sources": {"a": {"kind": "mysql", "databases": ["shared", "x"]},
                "b": {"kind": "mysql", "databases": ["shared"]}},
    "defs": ["d"]})"));
  EXPECT_EQ(plan_load(c, files({{"x/u.json", R"({"name": "U"})"}})).size(), 1u);
  EXPECT_EQ(error_of([&] { plan_load(c, files({{"shared/u.json", R"({"name": "U"})"}})); }),
            "ERR:LOAD 库归属冲突: shared 同时声明在连接 a 与 b（同一 db 名只能挂一个连接）");
}

TEST(BatchErrToLoad, PositionsWithoutFilesAndQuotedNames) {
  auto f = files({{"a.json", "{}"}});
  EXPECT_EQ(batch_err_to_load(BatchError(DuplicatePrimary{"U", 0, 5}), f),
            "ERR:LOAD 主定义重复: U（a.json 与 #5）——同名只允许一份主，其余须 replica:true");
  LocationConflict c{"items", "A", "B", "s", "d\"b\\", "x\ty"};
  EXPECT_EQ(batch_err_to_load(BatchError(c), f),
            "ERR:LOAD 落点冲突: items 同时映射 (s, Some(\"d\\\"b\\\\\"), Some(\"x\\ty\"))（同一落点只能有一个 collection；冲突名 `A` 与 `B`）");
}

}  // namespace
}  // namespace varnel::schema
