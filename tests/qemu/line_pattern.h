// Whole-text patterns for program output that holds parts no test can know
// in advance (a drive's revision, lines a drive model adds): a pattern is a
// text of lines where "{*}" inside a line matches any run of characters of
// that line, and a line that is exactly "{...}" matches any number of whole
// lines, none included. Everything else matches itself.
#pragma once

#include <string>

// True when the whole of `text` matches `pattern`.
bool matches_line_pattern(const std::string& pattern, const std::string& text);
