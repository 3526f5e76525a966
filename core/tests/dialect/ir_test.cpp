#include "dialect/ir.h"

#include <gtest/gtest.h>

#include "support.h"

namespace varnel::dialect {
namespace {

TEST(Backend, ParsesSpellingsAndNamesTheTextAsGiven) {
  EXPECT_EQ(parse_backend("MySQL"), Backend::Mysql);
  EXPECT_EQ(parse_backend("PG"), Backend::Postgres);
  EXPECT_EQ(parse_backend("postgresql"), Backend::Postgres);
  EXPECT_EQ(parse_backend("sqlite"), Backend::Sqlite);
  EXPECT_EQ(backend_text(Backend::Postgres), "postgres");
  EXPECT_EQ(testing::error_of([] { parse_backend("Oracle"); }), "不支持的后端: Oracle");
  EXPECT_FALSE(backend_from_text("mongo"));
}

}  // namespace
}  // namespace varnel::dialect
