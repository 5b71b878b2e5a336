#pragma once

namespace quillet {

// The program's own (Chinese) text for a message key of section "MSG", used
// when the language file has no such key. Returns nullptr for keys that have no
// built-in text (they then read as empty).
const char* builtinMessage(const char* key);

// Keys of the message table, in table order, for tools that check a language
// file for completeness.
const char* const* messageKeys(int* count);

} // namespace quillet
