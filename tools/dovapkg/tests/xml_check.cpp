#include "xml_check.hpp"

#include <cctype>
#include <vector>

namespace dovapkg::testing {
namespace {

bool name_start(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}
bool name_char(char c) {
  return name_start(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

// Checks the entity reference at text[i] == '&'; returns its length or 0.
std::size_t entity_length(std::string_view text, std::size_t i) {
  const std::size_t end = text.find(';', i);
  if (end == std::string_view::npos) return 0;
  const std::string_view name = text.substr(i + 1, end - i - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") {
    return end - i + 1;
  }
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return 0;
    for (char c : digits) {
      if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
                : std::isdigit(static_cast<unsigned char>(c)))) {
        return 0;
      }
    }
    return end - i + 1;
  }
  return 0;
}

std::optional<std::string> check_chars(std::string_view text, std::string_view where) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (text[i] == '<') return "raw '<' in " + std::string(where);
    if (u < 0x20 && text[i] != '\n' && text[i] != '\t' && text[i] != '\r') {
      return "control character in " + std::string(where);
    }
    if (text[i] == '&') {
      const std::size_t length = entity_length(text, i);
      if (length == 0) return "bad entity reference in " + std::string(where);
      i += length - 1;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> xml_error(std::string_view doc) {
  std::size_t i = 0;
  if (doc.substr(0, 5) == "<?xml") {
    i = doc.find("?>");
    if (i == std::string_view::npos) return "unterminated XML declaration";
    i += 2;
  }
  std::vector<std::string> open;
  int roots = 0;
  while (i < doc.size()) {
    const std::size_t lt = doc.find('<', i);
    const std::string_view text = doc.substr(i, lt == std::string_view::npos ? doc.npos : lt - i);
    if (open.empty()) {
      for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) return "text outside the root element";
      }
    } else if (auto error = check_chars(text, "text")) {
      return error;
    }
    if (lt == std::string_view::npos) break;
    i = lt + 1;
    if (doc.substr(i, 3) == "!--") {
      const std::size_t end = doc.find("-->", i);
      if (end == std::string_view::npos) return "unterminated comment";
      i = end + 3;
      continue;
    }
    const bool closing = i < doc.size() && doc[i] == '/';
    if (closing) ++i;
    const std::size_t name_begin = i;
    if (i >= doc.size() || !name_start(doc[i])) return "bad element name";
    while (i < doc.size() && name_char(doc[i])) ++i;
    const std::string name(doc.substr(name_begin, i - name_begin));
    if (closing) {
      while (i < doc.size() && std::isspace(static_cast<unsigned char>(doc[i]))) ++i;
      if (i >= doc.size() || doc[i] != '>') return "bad end tag </" + name;
      if (open.empty() || open.back() != name) return "end tag </" + name + "> does not match";
      open.pop_back();
      ++i;
      continue;
    }
    // Attributes, then > or />.
    for (;;) {
      const std::size_t before = i;
      while (i < doc.size() && std::isspace(static_cast<unsigned char>(doc[i]))) ++i;
      if (i >= doc.size()) return "unterminated tag <" + name;
      if (doc[i] == '>' || doc.substr(i, 2) == "/>") break;
      if (i == before) return "no space before an attribute of <" + name;
      if (!name_start(doc[i])) return "bad attribute name in <" + name;
      while (i < doc.size() && name_char(doc[i])) ++i;
      if (i + 1 >= doc.size() || doc[i] != '=' || (doc[i + 1] != '"' && doc[i + 1] != '\'')) {
        return "attribute without a quoted value in <" + name;
      }
      const char quote = doc[i + 1];
      const std::size_t end = doc.find(quote, i + 2);
      if (end == std::string_view::npos) return "unterminated attribute value in <" + name;
      if (auto error = check_chars(doc.substr(i + 2, end - i - 2), "an attribute value")) {
        return error;
      }
      i = end + 1;
    }
    if (open.empty() && ++roots > 1) return "more than one root element";
    if (doc[i] == '/') {
      i += 2;
    } else {
      open.push_back(name);
      ++i;
    }
  }
  if (!open.empty()) return "element <" + open.back() + "> is not closed";
  if (roots != 1) return "no root element";
  return std::nullopt;
}

std::size_t count_of(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace dovapkg::testing
