#pragma once

#include <optional>
#include <string>

// The raw text of the value of `key` among the top-level members of the JSON
// object `text` (a string value keeps its quotes). Empty when the key is not
// there or the text is not shaped like an object. Keys are compared as they
// are written, escapes undecoded. Strings and nested values are skipped
// whole, so a key-like text inside them is never taken for a member.
std::optional<std::string> json_member(const std::string& text, const std::string& key);
