// Regular expressions for the tests, compiled in one object of the support
// library: std::regex's templates cost every test file that used them a
// second or more of compile time, several under the sanitizers.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cdm_test {

// What one match found: the whole match at [0], then each group; a group
// that took no part in the match reads as an empty text. No texts at all
// when nothing matched.
class Groups {
 public:
  Groups() = default;
  Groups(std::vector<std::string> texts, std::vector<bool> took_part)
      : texts_(std::move(texts)), took_part_(std::move(took_part)) {}
  // Something matched.
  explicit operator bool() const { return !texts_.empty(); }
  const std::string& operator[](std::size_t group) const;
  bool took_part(std::size_t group) const;

 private:
  std::vector<std::string> texts_;
  std::vector<bool> took_part_;
};

// An ECMAScript regular expression, compiled once.
class Pattern {
 public:
  explicit Pattern(const std::string& expression, bool ignore_case = false);
  ~Pattern();
  Pattern(Pattern&&) noexcept;
  Pattern& operator=(Pattern&&) noexcept;

  // The whole text matches; `groups` gets what it found (empty if nothing).
  bool matches(const std::string& text) const;
  bool match(const std::string& text, Groups& groups) const;
  // A part of the text matches: the first such part, or every one.
  bool found_in(const std::string& text) const;
  bool search(const std::string& text, Groups& groups) const;
  std::vector<Groups> search_all(const std::string& text) const;
  // Every match replaced by `with`, where $1, $2 ... stand for the groups.
  std::string replace(const std::string& text, const std::string& with) const;

 private:
  struct Compiled;
  std::unique_ptr<const Compiled> compiled_;
};

}  // namespace cdm_test
