#include "layout/cue_encoding.h"

#include <iconv.h>
#include <uchardet/uchardet.h>

#include <cerrno>
#include <memory>

bool convert_to_utf8(std::string_view text, const char* from, std::string* out, bool replace_bad) {
  const iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* to = result.data();
  std::size_t to_left = result.size();
  bool ok = true;
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &to, &to_left) != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG || (replace_bad && to_left == 0)) {
      const std::size_t used = result.size() - to_left;
      result.resize(result.size() * 2);
      to = result.data() + used;
      to_left = result.size() - used;
      continue;
    }
    if (!replace_bad) {
      ok = false;
      break;
    }
    // A byte that begins no character of the encoding reads as '?'.
    *to++ = '?';
    --to_left;
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - to_left);
  *out = std::move(result);
  return true;
}

namespace {

// cp1252 with the five bytes it leaves undefined read as Latin-1.
std::string from_cp1252(std::string_view text) {
  static const char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t code = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string detected_encoding(std::string_view text) {
  const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
      uchardet_new(), uchardet_delete);
  if (!detector) return "";
  if (uchardet_handle_data(detector.get(), text.data(), text.size()) != 0) return "";
  uchardet_data_end(detector.get());
  const char* name = uchardet_get_charset(detector.get());
  return name ? name : "";
}

}  // namespace

bool is_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t more = 0;
    char32_t code = 0, least = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      more = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3, code = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

std::string cue_text_as_utf8(std::string_view text, std::string* encoding) {
  std::string name;
  std::string out;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    name = "UTF-8";
    text.remove_prefix(3);
  } else if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    name = text[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
    if (convert_to_utf8(text.substr(2), name.c_str(), &out)) {
      if (encoding) *encoding = name;
      return out;
    }
    name.clear();
  }
  if (is_utf8(text)) {
    if (encoding) *encoding = "UTF-8";
    return std::string(text);
  }
  name = detected_encoding(text);
  if (!name.empty() && name != "ASCII" && name != "UTF-8" &&
      convert_to_utf8(text, name.c_str(), &out)) {
    if (encoding) *encoding = name;
    return out;
  }
  if (encoding) *encoding = "WINDOWS-1252";
  return from_cp1252(text);
}
