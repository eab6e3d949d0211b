#pragma once

// Plain-text tables for the readable views, and the rule that condenses long ones.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dovapkg {

enum class Align { Left, Right };

struct Column {
  std::string heading;
  Align align = Align::Left;
};

class Table {
 public:
  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
  void add_row(std::vector<std::string> cells);
  // A line of its own between rows, such as "... 980 more tiles".
  void add_note(std::string note);
  // Every line starts with `indent`; columns are two spaces apart; trailing blanks are dropped.
  std::string render(std::string_view indent = "") const;

 private:
  struct Row {
    std::vector<std::string> cells;
    std::optional<std::string> note;
  };
  std::vector<Column> columns_;
  std::vector<Row> rows_;
};

// Columns a text takes on a terminal: one per UTF-8 code point.
std::size_t display_width(std::string_view text);

// A text from a package made safe for one table cell: control characters are escaped, and an
// empty text shows as "".
std::string printable(std::string_view text);

// The rows of a long listing worth printing: every row when `all` is set or there are few;
// otherwise the first and last few, with one empty entry where the rest are left out.
inline constexpr std::size_t CONDENSE_ABOVE = 24;
std::vector<std::optional<std::size_t>> rows_to_show(std::size_t count, bool all);

}  // namespace dovapkg
