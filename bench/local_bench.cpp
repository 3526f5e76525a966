// The local evaluator on in-memory JSON, without any Python conversion.
#include <benchmark/benchmark.h>

#include <random>

#include "local/eval.h"

namespace varnel::local {
namespace {

Json make_collections(std::size_t n) {
  std::mt19937 rng(7);
  const char* cities[] = {"paris", "lyon", "oslo", "rome", "kyiv", "lima"};
  Json docs = Json::array();
  for (std::size_t i = 0; i < n; ++i) {
    docs.push_back({{"_id", i},
                    {"age", 18 + rng() % 60},
                    {"address", {{"city", cities[rng() % 6]}}},
                    {"score", (rng() % 100000) / 1000.0},
                    {"tags", Json::array({"a", cities[rng() % 6]})}});
  }
  return {{"users", docs}};
}

void run(benchmark::State& state, const char* command) {
  Json collections = make_collections(static_cast<std::size_t>(state.range(0)));
  Json cmd = Json::parse(command);
  for (auto _ : state) {
    Json copy = collections;  // eval_command consumes its collections
    benchmark::DoNotOptimize(eval_command(std::move(copy), cmd));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CopyOnly(benchmark::State& state) {
  Json collections = make_collections(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Json(collections));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FindSortLimit(benchmark::State& state) {
  run(state, R"({"kind": "aggregate", "collection": "users", "pipeline": [
      {"$match": {"age": {"$gte": 30}, "address.city": {"$in": ["oslo", "lima"]}}},
      {"$sort": {"score": -1}}, {"$limit": 20}]})");
}

void BM_Group(benchmark::State& state) {
  run(state, R"({"kind": "aggregate", "collection": "users", "pipeline": [
      {"$group": {"_id": "$address.city", "n": {"$sum": 1}, "avg": {"$avg": "$score"}}},
      {"$sort": {"_id": 1}}]})");
}

void BM_UpdateMany(benchmark::State& state) {
  run(state, R"({"kind": "updateMany", "collection": "users", "filter": {"age": {"$lt": 50}},
                 "update": {"$inc": {"age": 1}, "$set": {"seen": true}}})");
}

BENCHMARK(BM_CopyOnly)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindSortLimit)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Group)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateMany)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel::local
