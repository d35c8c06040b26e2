#include "support/patterns.h"

#include <regex>

namespace cdm_test {

struct Pattern::Compiled {
  std::regex expression;
};

namespace {

Groups groups_of(const std::smatch& found, bool matched) {
  if (!matched) return {};
  std::vector<std::string> texts;
  std::vector<bool> took_part;
  for (const auto& group : found) {
    texts.push_back(group.matched ? group.str() : std::string());
    took_part.push_back(group.matched);
  }
  return {std::move(texts), std::move(took_part)};
}

}  // namespace

const std::string& Groups::operator[](std::size_t group) const {
  static const std::string none;
  return group < texts_.size() ? texts_[group] : none;
}

bool Groups::took_part(std::size_t group) const {
  return group < took_part_.size() && took_part_[group];
}

Pattern::Pattern(const std::string& expression, bool ignore_case)
    : compiled_(new Compiled{std::regex(expression, ignore_case
                                                        ? std::regex::ECMAScript | std::regex::icase
                                                        : std::regex::ECMAScript)}) {}
Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;

bool Pattern::matches(const std::string& text) const {
  return std::regex_match(text, compiled_->expression);
}

bool Pattern::found_in(const std::string& text) const {
  return std::regex_search(text, compiled_->expression);
}

bool Pattern::match(const std::string& text, Groups& groups) const {
  std::smatch found;
  groups = groups_of(found, std::regex_match(text, found, compiled_->expression));
  return bool(groups);
}

bool Pattern::search(const std::string& text, Groups& groups) const {
  std::smatch found;
  groups = groups_of(found, std::regex_search(text, found, compiled_->expression));
  return bool(groups);
}

std::vector<Groups> Pattern::search_all(const std::string& text) const {
  std::vector<Groups> all;
  for (std::sregex_iterator it(text.begin(), text.end(), compiled_->expression), end; it != end;
       ++it)
    all.push_back(groups_of(*it, true));
  return all;
}

std::string Pattern::replace(const std::string& text, const std::string& with) const {
  return std::regex_replace(text, compiled_->expression, with);
}

}  // namespace cdm_test
