// Level 1 names made from host names: upper case, only A-Z, 0-9 and '_', at
// most 8 characters of name and 3 of extension (directories have none), made
// unique within their directory with a "~N" tail.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

// The level 1 form of one host name, before it is made unique. Leading dots
// are dropped; a file's extension is what follows its last dot; every other
// character outside A-Z, 0-9 and '_' (after upper-casing) becomes '_'. A name
// left empty becomes "_".
std::string level1_name(const std::string& host_name, bool directory);

// The names handed out within one directory.
class Level1NameSet {
 public:
  // The level 1 name of `host_name`, or, when that is taken, the name with
  // its base cut short to make room for the first free "~N" tail
  // (LONGFI~1.TXT, LONGFI~2.TXT, ..., LONGF~10.TXT). Amortised constant time:
  // a counter per tail prefix remembers where the search stopped.
  std::string unique_name(const std::string& host_name, bool directory);

 private:
  std::unordered_set<std::string> used_;
  std::unordered_map<std::string, unsigned> next_tail_;
};
