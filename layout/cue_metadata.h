// The CD-TEXT and metadata lines of a cue sheet: the text commands
// (PERFORMER "name", TITLE, SONGWRITER, ...) and the fields that programs
// write as comments (REM GENRE, REM DATE, REM DISCID, REM COMMENT,
// REM REPLAYGAIN_*, REM SESSION nn, ...).
#pragma once

#include <string>
#include <string_view>

#include "layout/disc_layout.h"

// Whether `command` (any case) is one of the text commands, whose value is
// the rest of the line.
bool is_text_command(const std::string& command);

// The value of a text command or REM field, from the text after its
// keyword: between double quotes (blanks kept; a quote inside written as \"
// or doubled, a backslash before a quote as \\; an inner quote that closes
// nothing taken as it is), or unquoted up to the end of the line without
// its trailing white space. False when there is no value at all.
bool text_value(std::string_view rest, std::string* value);

// A REM line's field: the word after REM when it is written in capitals
// (letters, digits, '_' and '-', at least two characters, one a letter) and
// the value after it ("" when none). False for a comment in words.
bool rem_field(std::string_view rest, SheetText* field);

// A cue sheet line that says it as the writer of the layout would: keyword
// and value, quoted unless the value is a plain word of a field written
// unquoted. Inner quotes and backslashes before them are escaped.
std::string text_line(const SheetText& text);
