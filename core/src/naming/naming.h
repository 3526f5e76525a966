// Canonical name tokens, the three writing styles, naming targets and the
// name-conflict check run over every definition.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnel::naming {

using Tokens = std::vector<std::string>;

// Splits a name into lower-case ASCII word tokens ("parseXMLDoc" gives
// parse, xml, doc). Every character that is not an ASCII letter or digit
// separates words and is dropped.
Tokens canonical(std::string_view text);

std::string to_snake(const Tokens& tokens);
std::string to_camel(const Tokens& tokens);
std::string to_pascal(const Tokens& tokens);

// Full Unicode lower-casing (capital I with dot above expands, a final
// sigma takes its final form).
std::string lower_unicode(std::string_view text);

// The text with its first character upper-cased when it is a-z.
std::string cap(std::string_view text);

enum class Style { Snake, Camel, Pascal };

// A naming target: a SQL backend, the document database or a language.
enum class Target { Mysql, Postgres, Sqlite, Python, Mongo, Node, Java, Csharp, Rust, Go };

// Parses a target keyword, compared after lower-casing; fails with
// "未知命名目标: {}".
Target target_from_str_or_err(std::string_view text);

Style target_style(Target target);

std::string translate(std::string_view logical, Target target);
std::string translate_by_str(std::string_view logical, std::string_view target);

// The canonical tokens concatenated: the key two names collide on.
std::string norm_key(std::string_view name);

// Fails with an "ERR_NAME_CONFLICT:" message when two names share a
// normalised key or a name normalises to a reserved definition key.
void detect_conflicts(const std::vector<std::string>& names);

}  // namespace varnel::naming
