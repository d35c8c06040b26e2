#include "layout/image_lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/regular_file.h"

namespace {

bool relative(const std::string& name) { return !name.empty() && name[0] != '/'; }

void add(std::vector<std::string>* list, std::string candidate) {
  if (candidate.empty()) return;
  if (std::find(list->begin(), list->end(), candidate) == list->end())
    list->push_back(std::move(candidate));
}

std::string in_folder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The entry of `folder` named `name` but for ASCII case, "" for none.
std::string matching_entry(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return "";
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (strcasecmp(candidate.c_str(), name.c_str()) == 0 && (found.empty() || candidate < found))
      found = candidate;
  }
  closedir(dir);
  return found;
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::vector<std::string> image_candidates(const std::string& written,
                                          const std::string& sheet_folder) {
  std::string slashed = written;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  std::vector<std::string> list;
  add(&list, written);
  add(&list, slashed);
  if (!sheet_folder.empty()) {
    if (relative(written)) add(&list, in_folder(sheet_folder, written));
    if (relative(slashed)) add(&list, in_folder(sheet_folder, slashed));
  }
  // The last component; a drive letter with no folder ("C:name") counts as one.
  std::size_t slash = slashed.rfind('/');
  if (slash == std::string::npos && slashed.size() > 2 && slashed[1] == ':' &&
      ((slashed[0] >= 'A' && slashed[0] <= 'Z') || (slashed[0] >= 'a' && slashed[0] <= 'z')))
    slash = 1;
  if (slash != std::string::npos && slash + 1 < slashed.size())
    add(&list, in_folder(sheet_folder, slashed.substr(slash + 1)));
  return list;
}

std::string case_insensitive_path(const std::string& path) {
  if (path.empty()) return "";
  std::string result = path[0] == '/' ? "/" : "";
  std::size_t start = result.size();
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    const std::string folder = result;
    std::string next = folder.empty() || folder.back() == '/' ? folder + part : folder + "/" + part;
    if (part != "." && part != ".." && !exists(next)) {
      const std::string entry = matching_entry(folder, part);
      if (entry.empty()) return "";
      next = folder.empty() || folder.back() == '/' ? folder + entry : folder + "/" + entry;
    }
    result = next;
  }
  return result;
}

int open_image_file(const std::string& written, const std::string& sheet_folder, std::string* path,
                    std::string* reason) {
  reason->clear();
  const std::vector<std::string> candidates = image_candidates(written, sheet_folder);
  int reason_rank = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& candidate : candidates) {
      const std::string name = pass == 0 ? candidate : case_insensitive_path(candidate);
      if (name.empty() || (pass == 1 && name == candidate)) continue;
      FileOpening result = FileOpening::Failed;
      errno = 0;
      const int fd = open_regular_file(name, &result);
      if (fd >= 0) {
        *path = name;
        return fd;
      }
      // The reason of the name that came closest: one that names something
      // before one that names nothing.
      const int rank = result == FileOpening::NotRegular ? 3 : errno != ENOENT ? 2 : 1;
      if (pass == 0 && rank > reason_rank) {
        reason_rank = rank;
        *reason = result == FileOpening::NotRegular ? "Not a regular file"
                  : errno != 0                      ? std::strerror(errno)
                                                    : "Cannot be opened";
      }
    }
  }
  return -1;
}
