#pragma once
// What an edit field with a key filter keeps of a text that enters it, whatever the way in
// (typing, an input method, paste, drop, code): full-width digits, Latin letters and signs
// become their ASCII forms, every character the filter refuses is dropped (and every control
// character), letters are raised to upper case where the field shows upper case, and the text is
// cut at the field's limit. Pure, so it is tested and fuzzed without a display.
#include <string>

// A key filter of the conversion helpers: returns the key, or '\0' to drop it.
using TFieldFilter = char (*)(char);

// `text` is UTF-8 (bytes that are not are dropped); the result is UTF-8, plain ASCII when a
// filter is given. `maxLength` counts characters; 0 or less means no limit. Without a filter
// every printable character is kept.
std::string NormaliseFieldText(const std::string& text, TFieldFilter filter, bool upperCase, int maxLength);

// Hexadecimal digits typed or pasted without blanks ("68110433") in the spaced form the frame
// field expects ("68 11 04 33"); a text that holds a blank, or anything but hex digits, is
// returned as it is.
std::string SpacedHexText(const std::string& text);
