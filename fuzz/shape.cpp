// Conditions, sorts and pipelines from outside, as arbitrary JSON: every check
// either passes or fails with a message, whatever the shape or depth.
// libFuzzer options: -max_len=4096 -dict=fuzz/shape.dict

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "error.h"
#include "pipeline/util.h"

using namespace varnel;

namespace {

schema::Schema fixture() {
  schema::Schema s;
  s.name = "User";
  s.fields["name"].type = "string";
  s.fields["tags"].type = "array";
  s.fields["address"].type = "object";
  s.fields["posts"].type = "array";
  s.relations["posts"].model = "Post";
  s.relations["author"].model = "Person";
  return s;
}

// True when `check` passes; any failure other than a CoreError escapes and
// is reported by the fuzzer.
template <class F>
bool passes(F check) {
  try {
    check();
    return true;
  } catch (const CoreError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const schema::Schema schema = fixture();
  Json value = Json::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;

  passes([&] { pipeline::validate_condition(value); });
  passes([&] { pipeline::validate_pipeline_stages(value); });
  passes([&] { pipeline::has_relation_predicate(schema, value); });
  std::set<std::string> refs;
  passes([&] {
    pipeline::collect_having_agg_refs(
        value, [](const std::string& k) { return k.size() & 1; }, refs);
  });
  // The text2query profile only narrows: what it accepts, standard accepts.
  bool shape_t2q = passes([&] { pipeline::validate_condition_shape(schema, value, true); });
  bool shape_std = passes([&] { pipeline::validate_condition_shape(schema, value, false); });
  if (shape_t2q && !shape_std) __builtin_trap();
  bool sort_t2q = passes([&] { pipeline::validate_sort_shape(schema, value, true); });
  bool sort_std = passes([&] { pipeline::validate_sort_shape(schema, value, false); });
  if (sort_t2q && !sort_std) __builtin_trap();
  return 0;
}
