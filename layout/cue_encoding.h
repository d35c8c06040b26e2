// The text of a cue sheet as UTF-8, whatever encoding the program that wrote
// it used: UTF-8 with or without a byte-order mark, UTF-16 with one, or an
// 8-bit code page (cp1252, cp1251, ...) found by a character set detector.
// Line ends are left as they are, so line numbers stay those of the file.
#pragma once

#include <string>
#include <string_view>

// `text` converted to UTF-8, its byte-order mark removed. Text that is valid
// UTF-8 stays as it is; otherwise the detector names the encoding and iconv
// converts from it. When the detector finds none, or names one that does not
// convert the whole text, the text is read as cp1252 (bytes that code page
// leaves undefined as the Latin-1 characters of the same value). Never fails.
// `encoding`, when given, gets the name of the encoding read ("UTF-8", ...).
std::string cue_text_as_utf8(std::string_view text, std::string* encoding = nullptr);

// Whether `text` is well-formed UTF-8 (ASCII included).
bool is_utf8(std::string_view text);

// `text` converted from the iconv encoding `from` to UTF-8; false when iconv
// does not know the encoding or, unless `replace_bad`, when the text holds a
// sequence it does not convert. With `replace_bad` each byte that begins
// no character of the encoding becomes '?'.
bool convert_to_utf8(std::string_view text, const char* from, std::string* out,
                     bool replace_bad = false);
