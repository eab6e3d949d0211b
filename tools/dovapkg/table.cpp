#include "table.hpp"

#include <algorithm>

namespace dovapkg {

void Table::add_row(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(Row{std::move(cells), std::nullopt});
}

void Table::add_note(std::string note) { rows_.push_back(Row{{}, std::move(note)}); }

std::size_t display_width(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Table::render(std::string_view indent) const {
  std::vector<std::size_t> widths;
  for (const Column& column : columns_) widths.push_back(display_width(column.heading));
  for (const Row& row : rows_) {
    for (std::size_t i = 0; i < row.cells.size(); ++i) {
      widths[i] = std::max(widths[i], display_width(row.cells[i]));
    }
  }
  std::string out;
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text(indent);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const std::string padding(widths[i] - display_width(cells[i]), ' ');
      if (i != 0) text += "  ";
      text += columns_[i].align == Align::Right ? padding + cells[i] : cells[i] + padding;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  };
  std::vector<std::string> headings;
  for (const Column& column : columns_) headings.push_back(column.heading);
  line(headings);
  for (const Row& row : rows_) {
    if (row.note) {
      out += std::string(indent) + *row.note + "\n";
    } else {
      line(row.cells);
    }
  }
  return out;
}

std::string printable(std::string_view text) {
  if (text.empty()) return "\"\"";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < ' ' || u == 0x7F) {
      constexpr char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::optional<std::size_t>> rows_to_show(std::size_t count, bool all) {
  constexpr std::size_t head = 16;
  constexpr std::size_t tail = 4;
  std::vector<std::optional<std::size_t>> rows;
  if (all || count <= CONDENSE_ABOVE) {
    for (std::size_t i = 0; i < count; ++i) rows.emplace_back(i);
    return rows;
  }
  for (std::size_t i = 0; i < head; ++i) rows.emplace_back(i);
  rows.emplace_back(std::nullopt);
  for (std::size_t i = count - tail; i < count; ++i) rows.emplace_back(i);
  return rows;
}

}  // namespace dovapkg
