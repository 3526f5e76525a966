#include "pipeline/projection.h"

#include <gtest/gtest.h>

#include "pipeline/parse.h"

namespace varnel::pipeline {
namespace {

schema::Schema user_schema() {
  schema::Schema s;
  s.name = "User";
  schema::FieldDef address;
  address.type = "object";
  address.fields = Json::parse(R"({"city": {"type": "string"}})");
  s.fields["address"] = address;
  schema::FieldDef meta;  // an object without a nested description stays a relation entry
  meta.type = "object";
  s.fields["meta"] = meta;
  s.fields["name"].type = "string";
  return s;
}

TEST(FlattenObjectFields, SubSelectionsBecomeDottedFields) {
  Ast ast = parse_gql("User { name posts { title } address { city zip geo { lat } } meta { a } }");
  flatten_object_fields_impl(ast.fields, ast.relations, user_schema());
  EXPECT_EQ(ast.fields, (std::vector<std::string>{"name", "address.city", "address.zip"}));
  ASSERT_EQ(ast.relations.size(), 2u);
  EXPECT_EQ(ast.relations[0].name, "posts");
  EXPECT_EQ(ast.relations[1].name, "meta");
}

TEST(FlattenObjectFields, RepeatedSubSelectionsAppendInOrder) {
  Ast ast = parse_gql("User { address { city } name address { zip } }");
  flatten_object_fields_impl(ast.fields, ast.relations, user_schema());
  EXPECT_EQ(ast.fields, (std::vector<std::string>{"name", "address.city", "address.zip"}));
  EXPECT_TRUE(ast.relations.empty());
}

}  // namespace
}  // namespace varnel::pipeline
