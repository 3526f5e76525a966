// Aggregation pipelines over in-memory collections: the expression
// evaluator, projection, and the stage runner. Unsupported stages,
// operators and option forms are refused with a message naming them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "types.h"

namespace varnel::local {

// The result of an expression: borrowed from the document or the
// variables when it is a plain reference, owned otherwise.
class Value {
 public:
  Value();
  explicit Value(const Json* borrowed) : ptr_(borrowed) {}
  explicit Value(Json owned) : own_(std::move(owned)), ptr_(&own_) {}
  Value(Value&& other) noexcept
      : own_(std::move(other.own_)), ptr_(other.owned() ? &own_ : other.ptr_) {}
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  const Json& operator*() const { return *ptr_; }
  const Json* operator->() const { return ptr_; }
  Json take() &&;

 private:
  bool owned() const { return ptr_ == &own_; }
  Json own_;
  const Json* ptr_;
};

// Evaluates an expression against the current document and the variables
// (an object). Throws CoreError for unsupported operators and bad operands.
Value evaluate(const Json& expr, const Json& doc, const Json& vars);
Json eval_expr(const Json& expr, const Json& doc, const Json& vars);
Json eval_operator(std::string_view name, const Json& operand, const Json& doc, const Json& vars);

// "sum", "avg", "min" or "max" over values.
Json accumulate_expr(std::string_view op, const std::vector<const Json*>& values);

// The truth of a value inside expressions: null, false and numbers equal
// to zero are false, everything else true.
bool expr_truthy(const Json& value);

// The text identifying a group key value.
std::string canonical(const Json& value);

// A projection read once and applied to many documents.
class Projection {
 public:
  // Inclusions and exclusions only (0/1 or false/true values).
  static Projection plain(const Json& spec);
  // A "$project" specification, which may also hold computed entries.
  static Projection stage(const Json& spec);

  Json apply(const Json& doc, const Json& vars) const;

  struct PathTree {
    bool whole = false;
    std::map<std::string, PathTree, std::less<>> children;
  };

 private:
  enum class Mode { Unchanged, Exclude, Include };
  Mode mode_ = Mode::Unchanged;
  std::optional<bool> id_flag_;
  std::vector<std::string> excluded_;
  PathTree included_;
  std::vector<std::pair<std::string, const Json*>> computed_;
};

Json apply_projection(const Json& doc, const Json& projection);

// The rows of a collection: a borrowed array, or nullptr when absent.
const Json::array_t* collection_rows(const Json& collections, std::string_view name);

// Runs the stages over a collection and returns the output rows (an array).
Json run(const Json& collections, std::string_view name, const Json& stages);
// Runs the stages over the given rows (an array) with variables (an object).
Json run_stages(const Json& collections, const Json& rows, const Json& stages, const Json& vars);

// "$skip"/"$limit" argument: a non-negative integer.
std::uint64_t usize_of(std::string_view stage, const Json& value);

}  // namespace varnel::local
