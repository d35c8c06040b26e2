#include "iso9660/level1_names.h"

#include <algorithm>

#include "common/text.h"

namespace {

constexpr std::size_t kBaseLength = 8;
constexpr std::size_t kExtensionLength = 3;

std::string mapped(const std::string& text, std::size_t limit) {
  std::string out;
  for (char c : text) {
    if (out.size() == limit) break;
    c = ascii_upper(c);
    out.push_back(is_level1_character(c) ? c : '_');
  }
  return out;
}

// Splits a level 1 name into base and extension.
void split_name(const std::string& name, std::string* base, std::string* extension) {
  const std::size_t dot = name.find('.');
  *base = name.substr(0, dot);
  *extension = dot == std::string::npos ? "" : name.substr(dot + 1);
}

}  // namespace

std::string level1_name(const std::string& host_name, bool directory) {
  const std::size_t first = host_name.find_first_not_of('.');
  const std::string stripped = first == std::string::npos ? "" : host_name.substr(first);
  std::string base;
  std::string extension;
  if (directory) {
    base = mapped(stripped, kBaseLength);
  } else {
    const std::size_t dot = stripped.rfind('.');
    base = mapped(stripped.substr(0, dot), kBaseLength);
    if (dot != std::string::npos) extension = mapped(stripped.substr(dot + 1), kExtensionLength);
  }
  if (base.empty()) base = "_";
  return extension.empty() ? base : base + "." + extension;
}

bool is_level1_character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool Level1NameSet::claim(const std::string& name) { return used_.insert(name).second; }

std::string Level1NameSet::tailed_name(const std::string& natural) {
  std::string base;
  std::string extension;
  split_name(natural, &base, &extension);
  const std::string dotted_extension = extension.empty() ? "" : "." + extension;
  unsigned n = 1;
  for (;;) {
    const std::string tail = "_" + std::to_string(n);
    const std::string prefix = base.substr(0, kBaseLength - std::min(tail.size(), kBaseLength));
    // Tails of one digit count share a prefix; the counter of that prefix
    // says which numbers are known to be taken already.
    unsigned& next = next_tail_[prefix + dotted_extension + "#" + std::to_string(tail.size())];
    if (n < next) {
      n = next;
      continue;
    }
    std::string candidate = prefix + tail + dotted_extension;
    next = n + 1;
    if (claim(candidate)) return candidate;
    ++n;
  }
}

std::string Level1NameSet::unique_name(const std::string& host_name, bool directory) {
  const std::string natural = level1_name(host_name, directory);
  return claim(natural) ? natural : tailed_name(natural);
}

std::vector<std::string> unique_level1_names(const std::vector<HostName>& host_names) {
  Level1NameSet names;
  std::vector<std::string> out;
  std::vector<bool> natural;
  out.reserve(host_names.size());
  for (const HostName& host : host_names) {
    out.push_back(level1_name(host.name, host.directory));
    natural.push_back(names.claim(out.back()));
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (!natural[i]) out[i] = names.tailed_name(out[i]);
  }
  return out;
}
