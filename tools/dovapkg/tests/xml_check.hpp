#pragma once

// A small well-formedness check for the SVG the tool writes: balanced elements, one root,
// quoted attributes, no raw '<' in text and only known entity references.

#include <optional>
#include <string>
#include <string_view>

namespace dovapkg::testing {

// What is wrong, or nothing when the document is well-formed.
std::optional<std::string> xml_error(std::string_view document);

// Occurrences of `needle` in `text`.
std::size_t count_of(std::string_view text, std::string_view needle);

}  // namespace dovapkg::testing
