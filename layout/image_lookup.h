// Finding the image file a cue sheet names, as sheets written on other
// systems name them: Windows paths ("\" separators, a drive letter "D:\...",
// a UNC prefix "\\server\share\..."), names whose case differs from the
// file's, folders that no longer exist beside the sheet.
#pragma once

#include <string>
#include <vector>

// The places a name is looked for, in order: as written (relative to the
// current folder); with "\" as "/"; both relative to the sheet's folder
// (`sheet_folder`, empty for none); and its last component in the sheet's
// folder. Names that are not relative skip the sheet's folder but for
// their last component ("C:name" has "name"). Duplicates are left out.
std::vector<std::string> image_candidates(const std::string& written,
                                          const std::string& sheet_folder);

// `path` with each component that has no exact match replaced by the one
// entry of its folder that matches it without regard to ASCII case (the
// first in name order when several do); "" when a component matches none.
std::string case_insensitive_path(const std::string& path);

// Opens the image file named `written`: the first candidate that is a
// regular file, as named or, where the name matches none exactly, by its
// case-insensitive match. Answers the descriptor (-1 when none opens) and
// the path opened; `reason` gets the system's reason the name as written
// could not be opened ("Not a regular file" for a directory, a FIFO, ...).
int open_image_file(const std::string& written, const std::string& sheet_folder, std::string* path,
                    std::string* reason);
