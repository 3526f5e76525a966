// Filter matching: whether a document satisfies a query filter made of
// logical keys, field paths and a small operator set. Every operator
// outside that set is refused, never ignored.
#pragma once

#include <memory>
#include <string>
#include <deque>
#include <unordered_map>
#include <vector>

#include "types.h"

namespace re2 {
class RE2;
}

namespace varnel::local {

// Matches documents against filters. One matcher serves a whole command:
// it keeps the compiled regular expressions and sorted "$in" operands of
// the filters it has seen (filters must outlive the matcher).
class Matcher {
 public:
  Matcher();
  ~Matcher();
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  // Throws CoreError for a malformed or unsupported filter reached while
  // matching. `vars` (an object or null) is visible to "$expr".
  bool matches(const Json& doc, const Json& filter, const Json& vars);
  bool matches(const Json& doc, const Json& filter);

  bool cond_matches(const std::vector<const Json*>& candidates, const Json& cond);

  // "$in" (negate false) or "$nin" (negate true) of the candidates.
  bool in_hit(const std::vector<const Json*>& candidates, const Json& operand, bool negate);

 private:
  bool match_object(const Json& doc, const Json& filter, const Json& vars);
  bool run_operator(const std::string& op, const Json& arg, const Json& cond,
                    const std::vector<const Json*>& candidates);
  bool regex_hit(const Json& cond, const std::vector<const Json*>& candidates);
  const re2::RE2& compiled(const std::string& pattern, const std::string& given);
  bool member_of(const Json& value, const Json& operand);
  std::vector<const Json*>& scratch();

  std::unordered_map<std::string, std::unique_ptr<re2::RE2>> regexes_;
  std::unordered_map<const Json*, std::vector<const Json*>> sorted_members_;
  std::deque<std::vector<const Json*>> scratch_;  // one per nesting level
  std::size_t depth_ = 0;
};

bool matches(const Json& doc, const Json& filter);
bool matches_with_vars(const Json& doc, const Json& filter, const Json& vars);

// An object that is not an extended-JSON literal and has at least one key
// beginning with "$".
bool is_operator_object(const Json& cond);

}  // namespace varnel::local
