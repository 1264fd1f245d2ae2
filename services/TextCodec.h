#pragma once
// The one place where text crosses between the program (UTF-8) and its outside world (GBK with
// CR LF): settings files, log files, saved message files and the command window's serial text.
#include <cstddef>
#include <string>

// UTF-8 -> GBK. A character GBK cannot encode, or a byte sequence that is not valid UTF-8,
// becomes one '?' and sets *ok to false; the rest is converted. Never throws.
std::string Utf8ToGbk(const std::string& text, bool* ok = nullptr);

// GBK -> UTF-8. A byte (or pair) that is not valid GBK becomes one '?' and sets *ok to false.
std::string GbkToUtf8(const std::string& text, bool* ok = nullptr);

// Every line ending (LF, CR LF or a lone CR) becomes CR LF.
std::string ToCrLf(const std::string& text);

// Number of bytes `text` (UTF-8) takes once converted to GBK.
std::size_t GbkLength(const std::string& text);
