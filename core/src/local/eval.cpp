#include "local/eval.h"

#include <map>
#include <numeric>
#include <optional>

#include "bson.h"
#include "error.h"
#include "local/filter.h"
#include "local/pipeline.h"
#include "local/update.h"
#include "local/value.h"

namespace varnel::local {

namespace {

using Array = Json::array_t;

const Json& member(const Json& command, std::string_view key) {
  static const Json kNull;
  const Json* v = find_key(command, key);
  return v == nullptr ? kNull : *v;
}

const Json& required(const Json& command, std::string_view key, std::string_view message) {
  const Json* v = find_key(command, key);
  if (v == nullptr) fail(message);
  return *v;
}

// Ids of a document list, the first document of each id kept.
using IdIndex = std::map<Json, std::size_t, ValueLess>;

IdIndex index_ids(const Array& docs) {
  IdIndex index;
  for (std::size_t i = 0; i < docs.size(); ++i) {
    if (const Json* id = find_key(docs[i], "_id")) index.emplace(*id, i);
  }
  return index;
}

void refuse_existing_id(const Array& docs, const Json& doc, std::string_view kind) {
  const Json* id = find_key(doc, "_id");
  if (id == nullptr) return;
  for (const Json& existing : docs) {
    const Json* other = find_key(existing, "_id");
    if (other != nullptr && equal(*other, *id)) fail("{}: _id 冲突（{}）", {kind, id->dump()});
  }
}

// Reads the filter and projection of a read command over one collection.
class Reader {
 public:
  Reader(const Json& command)
      : filter_(member(command, "filter")), projection_(member(command, "projection")) {}

  bool matches(const Json& doc) { return matcher_.matches(doc, filter_); }

  Json project(const Json& doc) {
    if (projection_.is_null()) return doc;
    if (!compiled_) compiled_ = Projection::plain(projection_);
    static const Json kNoVars = Json::object();
    return compiled_->apply(doc, kNoVars);
  }

 private:
  const Json& filter_;
  const Json& projection_;
  Matcher matcher_;
  std::optional<Projection> compiled_;
};

Json find(const Array& docs, const Json& command, bool first_only) {
  Reader reader(command);
  Json out = Json::array();
  for (const Json& doc : docs) {
    if (!reader.matches(doc)) continue;
    if (first_only) return reader.project(doc);
    out.push_back(reader.project(doc));
  }
  return first_only ? Json() : out;
}

Json count_documents(const Array& docs, const Json& command) {
  Reader reader(command);
  std::uint64_t n = 0;
  for (const Json& doc : docs) n += reader.matches(doc) ? 1 : 0;
  return n;
}

// The document list a write works on, with the input position of every
// document it has not touched (-1 for written ones).
struct Written {
  Array docs;
  Origins origin;

  void append(Json doc) {
    docs.push_back(std::move(doc));
    origin.push_back(-1);
  }
};

Json insert_one(Written& w, const Json& command) {
  Json doc = normalize_doc(required(command, "doc", "insertOne 缺少 doc"));
  refuse_existing_id(w.docs, doc, "insertOne");
  w.append(doc);
  return doc;
}

Json insert_many(Written& w, const Json& command) {
  Array& docs = w.docs;
  const Json& given = member(command, "docs");
  if (!given.is_array()) fail("insertMany 需要 docs 数组");
  Array batch;
  batch.reserve(given.size());
  for (const Json& d : given.get_ref<const Array&>()) batch.push_back(normalize_doc(d));
  const Json* upsert = find_key(command, "upsertById");
  IdIndex existing = index_ids(docs);
  if (upsert != nullptr && upsert->is_boolean() && upsert->get<bool>()) {
    for (Json& d : batch) {
      const Json* id = find_key(d, "_id");
      if (id != nullptr) {
        auto [it, fresh] = existing.try_emplace(*id, docs.size());
        if (!fresh) {
          docs[it->second] = std::move(d);
          w.origin[it->second] = -1;
          continue;
        }
      }
      w.append(std::move(d));
    }
  } else {
    IdIndex seen;
    for (const Json& d : batch) {
      const Json* id = find_key(d, "_id");
      if (id == nullptr) continue;
      if (existing.count(*id) != 0) fail("insertMany: _id 冲突（{}）", {id->dump()});
      if (!seen.emplace(*id, 0).second) fail("insertMany: 批内 _id 重复（{}）", {id->dump()});
    }
    docs.reserve(docs.size() + batch.size());
    for (Json& d : batch) w.append(std::move(d));
  }
  return Json{{"insertedCount", static_cast<std::uint64_t>(given.size())}};
}

Json delete_many(Written& w, const Json& command) {
  Matcher matcher;
  const Json& filter = member(command, "filter");
  Written kept;
  kept.docs.reserve(w.docs.size());
  std::uint64_t removed = 0;
  for (std::size_t i = 0; i < w.docs.size(); ++i) {
    if (matcher.matches(w.docs[i], filter)) {
      ++removed;
    } else {
      kept.docs.push_back(std::move(w.docs[i]));
      kept.origin.push_back(w.origin[i]);
    }
  }
  w = std::move(kept);
  return Json{{"deletedCount", removed}};
}

Json update_many(Written& w, const Json& command) {
  const Json& update = required(command, "update", "updateMany 缺少 update");
  Matcher matcher;
  const Json& filter = member(command, "filter");
  std::uint64_t modified = 0;
  for (std::size_t i = 0; i < w.docs.size(); ++i) {
    Json& doc = w.docs[i];
    if (!matcher.matches(doc, filter)) continue;
    Json before = doc;
    apply_update(doc, update, false);
    w.origin[i] = -1;
    if (!equal(before, doc)) ++modified;
  }
  return Json{{"modifiedCount", modified}};
}

// The document an upsert starts from: the filter's top-level equality
// conditions ("$eq" operands, literal values and extended-JSON literals).
Json upsert_seed(const Json& filter) {
  Json seed = Json::object();
  if (filter.is_null()) return seed;
  if (!filter.is_object()) {
    fail("filter 必须是对象或 null，收到 {}（拒绝静默按「无过滤」处理）", {type_name(filter)});
  }
  for (const auto& [key, cond] : filter.get_ref<const Json::object_t&>()) {
    if (!key.empty() && key[0] == '$') continue;
    if (!cond.is_object() || bson::is_extended(cond)) {
      seed[key] = cond;
    } else if (const Json* eq = find_key(cond, "$eq")) {
      seed[key] = *eq;
    }
  }
  return seed;
}

Json find_one_and_update(Written& w, const Json& command) {
  const Json& update = required(command, "update", "findOneAndUpdate 缺少 update");
  const Json& options = member(command, "options");
  const Json* upsert_flag = find_key(options, "upsert");
  bool upsert = upsert_flag != nullptr && upsert_flag->is_boolean() && upsert_flag->get<bool>();
  const Json* mode = find_key(options, "returnDocument");
  bool before = mode != nullptr && mode->is_string() && mode->get_ref<const std::string&>() == "before";
  const Json& filter = member(command, "filter");
  Matcher matcher;
  for (std::size_t i = 0; i < w.docs.size(); ++i) {
    Json& doc = w.docs[i];
    if (!matcher.matches(doc, filter)) continue;
    Json previous = doc;
    apply_update(doc, update, false);
    w.origin[i] = -1;
    return before ? previous : doc;
  }
  if (!upsert) return Json();
  Json seed = upsert_seed(filter);
  apply_update(seed, update, true);
  refuse_existing_id(w.docs, seed, "findOneAndUpdate");
  w.append(seed);
  return before ? Json() : seed;
}

bool is_read(std::string_view kind) {
  return kind == "find" || kind == "findOne" || kind == "countDocuments" || kind == "aggregate";
}

Json run_write(std::string_view kind, Written& w, const Json& command) {
  if (kind == "insertOne") return insert_one(w, command);
  if (kind == "insertMany") return insert_many(w, command);
  if (kind == "updateMany") return update_many(w, command);
  if (kind == "findOneAndUpdate") return find_one_and_update(w, command);
  return delete_many(w, command);
}

}  // namespace

Json envelope(Json result, Json changed, Json collections) {
  Json out = Json::object();
  auto& obj = out.get_ref<Json::object_t&>();
  obj.emplace("changed", std::move(changed));
  obj.emplace("collections", std::move(collections));
  obj.emplace("result", std::move(result));
  return out;
}

Json normalize_doc(const Json& value) {
  if (value.is_null()) return Json::object();
  if (!value.is_object()) {
    fail("文档必须是对象，收到 {}（拒绝静默按空文档写入）", {type_name(value)});
  }
  return value;
}

void guard_docs(std::string_view name, std::size_t count) {
  if (count > kMaxLocalCollectionDocs) {
    fail("集合 \"{}\" 文档数 {} 超过护栏 MAX_LOCAL_COLLECTION_DOCS={}（拒绝静默截断）",
         {name, std::to_string(count), std::to_string(kMaxLocalCollectionDocs)});
  }
}

Json eval_command(Json collections, const Json& command, Origins* origins) {
  if (!command.is_object()) fail("command 必须是对象，收到 {}", {type_name(command)});
  const Json* kind_value = find_key(command, "kind");
  if (kind_value == nullptr || !kind_value->is_string()) fail("command 缺少 kind");
  const Json* name_value = find_key(command, "collection");
  if (name_value == nullptr || !name_value->is_string()) fail("command 缺少 collection");
  if (!collections.is_object()) {
    fail("collections 必须是对象 {集合名: [文档…]}，收到 {}", {type_name(collections)});
  }
  const std::string& kind = kind_value->get_ref<const std::string&>();
  const std::string& name = name_value->get_ref<const std::string&>();
  static const Array kNoRows;
  const Array* rows = collection_rows(collections, name);
  const Array& docs = rows == nullptr ? kNoRows : *rows;

  if (is_read(kind)) {
    Json result;
    if (kind == "find" || kind == "findOne") {
      result = find(docs, command, kind == "findOne");
    } else if (kind == "countDocuments") {
      result = count_documents(docs, command);
    } else {
      const Json* pipeline = find_key(command, "pipeline");
      if (pipeline == nullptr || !pipeline->is_array()) fail("aggregate 需要 pipeline 数组");
      result = run(collections, name, *pipeline);
    }
    return envelope(std::move(result), Json::array(), std::move(collections));
  }
  if (kind != "insertOne" && kind != "insertMany" && kind != "updateMany" &&
      kind != "findOneAndUpdate" && kind != "deleteMany") {
    fail(
        "未支持的命令: {}（本地求值器拒绝静默；支持 "
        "find/aggregate/countDocuments/findOne/insertOne/insertMany/updateMany/findOneAndUpdate/"
        "deleteMany）",
        {kind});
  }
  Written w;
  if (rows != nullptr) w.docs = std::move(collections[name].get_ref<Array&>());
  w.origin.resize(w.docs.size());
  std::iota(w.origin.begin(), w.origin.end(), 0);
  Json result = run_write(kind, w, command);
  guard_docs(name, w.docs.size());
  collections[name] = std::move(w.docs);
  if (origins != nullptr) *origins = std::move(w.origin);
  return envelope(std::move(result), Json::array({name}), std::move(collections));
}

}  // namespace varnel::local
