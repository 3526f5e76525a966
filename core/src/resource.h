// Resource references: external URLs passed through, content keys turned
// into storage paths and composed URLs.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "types.h"

namespace varnel::resource {

using Vars = std::map<std::string, std::string, std::less<>>;

// http://, https:// or data: (ASCII case-insensitive, after trimming).
bool is_external_url(std::string_view reference);

// "objects/<first two characters>/<sha1>"; fails for texts under two bytes.
std::string content_path(std::string_view sha1);

// The URL of a reference under a configuration {externalPassthrough,
// baseUrl, pathTemplate, vars, query}.
std::string compose_url(std::string_view reference, const Json& cfg);

// Replaces every "{name}" whose name is a variable; leaves others as written.
std::string render(std::string_view tmpl, const Vars& vars);

// Keeps ASCII letters, digits and - . _ ~; every other byte becomes %XX.
std::string percent_encode(std::string_view text);

// Strings as themselves, booleans and numbers as JSON text, the rest empty.
std::string scalar_to_string(const Json& value);

}  // namespace varnel::resource
