// Parsing query text and checking conditions: the first steps of every query.

#include <benchmark/benchmark.h>

#include <string>

#include "pipeline/parse.h"
#include "pipeline/util.h"

namespace {

using namespace varnel;

void BM_ParseTypicalQuery(benchmark::State& state) {
  const std::string text =
      "User(condition: @c, sort: @s, limit: @l) { id name profile.city "
      "posts(condition: @pc, limit: @pl) { title createdAt comments { body } } author { name } }";
  for (auto _ : state) benchmark::DoNotOptimize(pipeline::parse_gql(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseTypicalQuery);

void BM_ParseOneMegabyte(benchmark::State& state) {
  std::string text = "User { ";
  while (text.size() < (1u << 20)) text += "field" + std::to_string(text.size()) + ", ";
  text += "}";
  for (auto _ : state) benchmark::DoNotOptimize(pipeline::parse_gql(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseOneMegabyte)->Unit(benchmark::kMillisecond);

void BM_ValidateCondition(benchmark::State& state) {
  const Json condition = Json::parse(R"({"$or": [{"age": {"$gt": 18}}, {"name": {"$regex": "^a"}}],
      "status": {"$in": ["a", "b", "c"]}, "address.city": "x", "$and": [{"tags": "t"}]})");
  schema::Schema schema;
  schema.fields["tags"].type = "array";
  schema.fields["address"].type = "object";
  for (auto _ : state) {
    pipeline::validate_condition(condition);
    pipeline::validate_condition_shape(schema, condition, false);
  }
}
BENCHMARK(BM_ValidateCondition);

}  // namespace
