#include "datasource.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::datasource {
namespace {

using testing::error_of;
using testing::parse;

TEST(DataSource, KindsInAnyLetterCase) {
  struct Case {
    const char* text;
    const char* kind;
  };
  for (const Case& c : {Case{"mongo", "mongo"}, Case{"MongoDB", "mongo"}, Case{"memory", "local"},
                        Case{"LOCAL", "local"}, Case{"MySQL", "mysql"}, Case{"pg", "postgres"},
                        Case{"PostgreSQL", "postgres"}, Case{"postgres", "postgres"},
                        Case{"SQLite", "sqlite"}}) {
    EXPECT_EQ(datasource_text(from_kind(c.text)), c.kind) << c.text;
  }
  EXPECT_EQ(error_of([] { from_kind("Oracle"); }), "不支持的后端: oracle");
  EXPECT_EQ(error_of([] { from_kind(""); }), "不支持的后端: ");
  EXPECT_FALSE(kind_from_text("mariadb"));
}

TEST(DataSourceConfig, FromJson) {
  for (const char* empty : {"[]", "{}", R"({"sources": []})", "null"}) {
    EXPECT_TRUE(DataSourceConfig::from_json(parse(empty)).sources().empty()) << empty;
  }
  auto c = DataSourceConfig::from_json(parse(R"({"sources": {"b": "Memory", "a": "pg"}, "x": 1})"));
  ASSERT_EQ(c.sources().size(), 2u);
  EXPECT_EQ(c.sources()[0].first, "a");
  EXPECT_EQ(c.sources()[0].second, DataSource::Postgres);
  EXPECT_EQ(c.sources()[1].second, DataSource::Local);
  EXPECT_EQ(error_of([] { DataSourceConfig::from_json(parse(R"({"sources": {"a": 1}})")); }),
            "数据源 a 的 kind 必须是字符串");
  EXPECT_EQ(error_of([] { DataSourceConfig::from_json(parse(R"({"sources": {"a": "Oracle"}})")); }),
            "不支持的后端: oracle");
}

TEST(DataSourceConfig, RegisterAndResolve) {
  DataSourceConfig c;
  EXPECT_EQ(c.resolve(std::nullopt), DataSource::Mongo);
  EXPECT_EQ(error_of([&] { c.resolve("pg1"); }), "schema 绑定的数据源未在配置中声明: pg1");
  c.register_source("x", DataSource::Sqlite);
  c.register_source("default", DataSource::Mysql);
  c.register_source("x", DataSource::Local);
  ASSERT_EQ(c.sources().size(), 2u);
  EXPECT_EQ(c.sources()[0], (std::pair<std::string, DataSource>{"x", DataSource::Local}));
  EXPECT_EQ(c.resolve(std::nullopt), DataSource::Mysql);
  EXPECT_EQ(c.resolve("x"), DataSource::Local);
}

TEST(ResolveDatasource, BySchemaSource) {
  schema::Registry r;
  r.register_with_ctx(parse(R"({"name": "A"})"), nullptr);
  r.register_batch({{parse(R"({"name": "B"})"), schema::Location{"pg1"}}}, nullptr);
  EXPECT_EQ(schema_datasource(r, "A"), std::nullopt);
  EXPECT_EQ(schema_datasource(r, "B"), "pg1");
  EXPECT_EQ(resolve_datasource(r, "A", Json()), DataSource::Mongo);
  EXPECT_EQ(resolve_datasource(r, "A", parse(R"({"sources": {"default": "MySQL"}})")),
            DataSource::Mysql);
  EXPECT_EQ(resolve_datasource(r, "B", parse(R"({"sources": {"pg1": "PostgreSQL"}})")),
            DataSource::Postgres);
  EXPECT_EQ(error_of([&] { resolve_datasource(r, "B", Json()); }),
            "schema 绑定的数据源未在配置中声明: pg1");
  EXPECT_EQ(error_of([&] { resolve_datasource(r, "C", Json()); }), "Schema 未注册: C");
  EXPECT_EQ(error_of([&] { schema_datasource(r, "C"); }), "Schema 未注册: C");
}

}  // namespace
}  // namespace varnel::datasource
