// Level 1 names made from host names: upper case, only A-Z, 0-9 and '_', at
// most 8 characters of name and 3 of extension (directories have none), made
// unique within their directory with a "_N" tail.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The level 1 form of one host name, before it is made unique. Leading dots
// are dropped; a file's extension is what follows its last dot; every other
// character outside A-Z, 0-9 and '_' (after upper-casing) becomes '_'. A name
// left empty becomes "_".
std::string level1_name(const std::string& host_name, bool directory);

// True for the characters a level 1 name or a volume identifier may hold:
// A-Z, 0-9 and '_'.
bool is_level1_character(char c);

// The names handed out within one directory.
class Level1NameSet {
 public:
  // Takes `name` for good; false when it was handed out already.
  bool claim(const std::string& name);
  // The first free name made of the level 1 name `natural` with its base cut
  // short to make room for a "_N" tail (LONGFI_1.TXT, ..., LONGFI_9.TXT,
  // LONGF_10.TXT), and claims it. Amortised constant time: a counter per
  // tail prefix remembers where the search stopped.
  std::string tailed_name(const std::string& natural);
  // The level 1 name of `host_name` when it is free, else its tailed name.
  std::string unique_name(const std::string& host_name, bool directory);

 private:
  std::unordered_set<std::string> used_;
  std::unordered_map<std::string, unsigned> next_tail_;
};

struct HostName {
  std::string name;
  bool directory = false;
};

// The level 1 names of every name of one directory, in the order given. A
// name keeps its plain level 1 form unless an earlier name of the list has
// that form too; only then does it get a tail. So a made-up name never takes
// the place of a later name's plain form, and the same list always gets the
// same names.
std::vector<std::string> unique_level1_names(const std::vector<HostName>& host_names);
