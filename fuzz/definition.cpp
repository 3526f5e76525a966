// Model definitions and store configurations from outside, as arbitrary
// JSON: normalisation, registration, load planning and link declarations
// either succeed or fail with a message, and a refused registration leaves
// the catalog exactly as it was.
// libFuzzer options: -max_len=4096 -dict=fuzz/definition.dict

#include <cstddef>
#include <cstdint>
#include <vector>

#include "error.h"
#include "schema/definition.h"
#include "schema/load.h"
#include "schema/registry.h"

using namespace varnel;

namespace {

template <class F>
bool passes(F step) {
  try {
    step();
    return true;
  } catch (const CoreError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Json value = Json::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;

  passes([&] { schema::build_schema(value, "M", "m", {}); });
  passes([&] {
    auto archive = schema::archive_definition(value, "M", "m");
    schema::build_schema(archive.defn, archive.name, archive.collection, {});
  });

  schema::Registry registry;
  registry.register_with_ctx(Json::parse(R"({"name": "Base", "collection": "m"})"), nullptr);
  const std::vector<std::string> before = registry.list();
  const schema::Schema* base = &registry.get("Base");
  bool registered = passes([&] {
    registry.register_batch({{value, {}}, {value, schema::Location{"s", "db"}}}, nullptr);
  });
  if (!registered && (registry.list() != before || &registry.get("Base") != base)) {
    __builtin_trap();
  }

  passes([&] {
    auto config = schema::LoadConfig::from_json(value);
    std::vector<schema::FileEntry> files;
    for (const auto& source : config.sources) {
      for (const auto& db : source.databases) {
        files.push_back({db + "/x/" + source.name + ".json", Json{{"name", source.name}}});
      }
    }
    auto items = schema::plan_load(config, files);
    registry.register_batch(items, nullptr);
    registry.apply_link_decls(config.links);
  });
  return 0;
}
