#include "json_form.hpp"

#include <fmt/format.h>

#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "json_fields.hpp"

namespace dovapkg {
namespace {

using dp::ExchangeActivityKind;
using dp::ProfileStepKind;

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

constexpr ProfileStepKind STEP_KINDS[] = {ProfileStepKind::Exchange, ProfileStepKind::Compute,
                                          ProfileStepKind::Synchronization, ProfileStepKind::Idle};
constexpr ExchangeActivityKind ACTIVITY_KINDS[] = {
    ExchangeActivityKind::Send, ExchangeActivityKind::Receive, ExchangeActivityKind::PartnerBusy};

// ---- records to JSON ----

Json encode(std::uint32_t value) { return value; }
Json encode(std::uint64_t value) { return value; }
Json encode(const std::string& text) { return text; }
Json encode(ProfileStepKind kind) { return std::string(dp::to_string(kind)); }
Json encode(ExchangeActivityKind kind) { return std::string(dp::to_string(kind)); }

Json encode(const std::vector<std::uint8_t>& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    hex.push_back(HEX_DIGITS[byte >> 4]);
    hex.push_back(HEX_DIGITS[byte & 0xF]);
  }
  return hex;
}

Json encode(const std::vector<std::uint32_t>& numbers) {
  Json list = Json::array();
  for (std::uint32_t n : numbers) list.push_back(n);
  return list;
}

struct JsonWriter {
  Json& object;
  template <class T>
  void operator()(const char* key, const T& value);
};

template <class R>
requires requires(JsonWriter& writer, const R& record) { fields(writer, record); }
Json encode(const R& record) {
  Json object = Json::object();
  JsonWriter writer{object};
  fields(writer, record);
  return object;
}

template <class R>
Json encode(const std::vector<R>& records) {
  Json list = Json::array();
  for (const R& record : records) list.push_back(encode(record));
  return list;
}

template <class T>
void JsonWriter::operator()(const char* key, const T& value) {
  object[key] = encode(value);
}

// ---- JSON to records ----

std::string child_path(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string element_path(const std::string& path, std::size_t index) {
  return fmt::format("{}[{}]", path, index);
}

// The first failure of a read: "<path>: <message>".
using Failure = std::optional<std::string>;

void fail(Failure& failure, const std::string& path, std::string_view message) {
  if (!failure) failure = fmt::format("{}: {}", path.empty() ? "(top level)" : path, message);
}

std::string found(const Json& json) { return fmt::format("found {}", json.type_name()); }

template <std::unsigned_integral T>
void decode(const Json& json, const std::string& path, T& out, Failure& failure) {
  constexpr std::uint64_t max = std::numeric_limits<T>::max();
  const auto out_of_range = [&](const std::string& value) {
    fail(failure, path,
         fmt::format("{} is out of range for a {}-bit field (0 to {})", value, sizeof(T) * 8, max));
  };
  if (json.is_number_unsigned()) {
    const auto value = json.get<std::uint64_t>();
    if (value > max) return out_of_range(std::to_string(value));
    out = static_cast<T>(value);
  } else if (json.is_number_integer()) {
    out_of_range(std::to_string(json.get<std::int64_t>()));
  } else if (json.is_number_float()) {
    // Integers beyond 64 bits parse as floating point.
    const double value = json.get<double>();
    if (value >= 0x1p64 || value <= -1.0) return out_of_range(json.dump());
    fail(failure, path, fmt::format("expected an unsigned integer, found {}", json.dump()));
  } else {
    fail(failure, path, fmt::format("expected an unsigned integer, {}", found(json)));
  }
}

void decode(const Json& json, const std::string& path, std::string& out, Failure& failure) {
  if (!json.is_string())
    return fail(failure, path, fmt::format("expected a string, {}", found(json)));
  out = json.get<std::string>();
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void decode(const Json& json, const std::string& path, std::vector<std::uint8_t>& out,
            Failure& failure) {
  if (!json.is_string()) {
    return fail(failure, path, fmt::format("expected a hexadecimal string, {}", found(json)));
  }
  const auto& hex = json.get_ref<const std::string&>();
  if (hex.size() % 2 != 0) {
    return fail(failure, path, fmt::format("odd number of hexadecimal digits ({})", hex.size()));
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hex_value(hex[i]);
    const int low = hex_value(hex[i + 1]);
    if (high < 0 || low < 0) {
      const std::size_t at = high < 0 ? i : i + 1;
      return fail(
          failure, path,
          fmt::format("invalid hexadecimal digit {} at position {}",
                      Json(hex.substr(at, 1)).dump(-1, ' ', false, Json::error_handler_t::replace),
                      at));
    }
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  out = std::move(bytes);
}

void decode(const Json& json, const std::string& path, std::vector<std::uint32_t>& out,
            Failure& failure) {
  if (!json.is_array())
    return fail(failure, path, fmt::format("expected an array, {}", found(json)));
  std::vector<std::uint32_t> numbers(json.size());
  for (std::size_t i = 0; i < json.size() && !failure; ++i) {
    decode(json[i], element_path(path, i), numbers[i], failure);
  }
  if (!failure) out = std::move(numbers);
}

template <class E, std::size_t N>
void decode_enum(const Json& json, const std::string& path, const E (&values)[N], E& out,
                 Failure& failure) {
  std::string names;
  for (std::size_t i = 0; i < N; ++i) {
    names += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(dp::to_string(values[i]));
  }
  if (json.is_string()) {
    const auto& name = json.get_ref<const std::string&>();
    for (E value : values) {
      if (dp::to_string(value) == name) {
        out = value;
        return;
      }
    }
  }
  fail(failure, path,
       fmt::format("expected one of {}, found {}", names,
                   json.dump(-1, ' ', false, Json::error_handler_t::replace)));
}

void decode(const Json& json, const std::string& path, ProfileStepKind& out, Failure& failure) {
  decode_enum(json, path, STEP_KINDS, out, failure);
}

void decode(const Json& json, const std::string& path, ExchangeActivityKind& out,
            Failure& failure) {
  decode_enum(json, path, ACTIVITY_KINDS, out, failure);
}

// Collects the field names of a record, to tell unknown keys apart.
struct KeyCollector {
  std::set<std::string_view> keys;
  template <class T>
  void operator()(std::string_view key, T&) {
    keys.insert(key);
  }
};

struct JsonReader {
  const Json& object;
  const std::string& path;
  Failure& failure;
  template <class T>
  void operator()(std::string_view key, T& field);
};

template <class R>
requires requires(JsonReader& reader, R& record) { fields(reader, record); }
void decode(const Json& json, const std::string& path, R& out, Failure& failure) {
  if (!json.is_object())
    return fail(failure, path, fmt::format("expected an object, {}", found(json)));
  R record{};
  KeyCollector known;
  fields(known, record);
  for (const auto& item : json.items()) {
    if (!known.keys.contains(item.key())) {
      return fail(failure, child_path(path, item.key()), "unknown key");
    }
  }
  JsonReader reader{json, path, failure};
  fields(reader, record);
  if (!failure) out = std::move(record);
}

template <class R>
void decode(const Json& json, const std::string& path, std::vector<R>& out, Failure& failure) {
  if (!json.is_array())
    return fail(failure, path, fmt::format("expected an array, {}", found(json)));
  std::vector<R> records(json.size());
  for (std::size_t i = 0; i < json.size() && !failure; ++i) {
    decode(json[i], element_path(path, i), records[i], failure);
  }
  if (!failure) out = std::move(records);
}

template <class T>
void JsonReader::operator()(std::string_view key, T& field) {
  if (failure) return;
  const auto found_key = object.find(key);
  if (found_key == object.end()) return;  // the field keeps its default
  decode(*found_key, child_path(path, key), field, failure);
}

template <class R>
ToolResult<R> from_json(const Json& json) {
  R record{};
  Failure failure;
  decode(json, std::string(), record, failure);
  if (failure) return tl::unexpected(tool_error(*failure));
  return record;
}

std::string strip_exception_id(std::string_view what) {
  // "[json.exception.parse_error.101] parse error at ..." -> "parse error at ..."
  if (const auto end = what.find("] ");
      !what.empty() && what.front() == '[' && end != std::string_view::npos) {
    what.remove_prefix(end + 2);
  }
  return std::string(what);
}

}  // namespace

Json to_json(const dp::Application& application) { return encode(application); }
Json to_json(const dp::ProfileReport& report) { return encode(report); }

ToolResult<dp::Application> application_from_json(const Json& json) {
  return from_json<dp::Application>(json);
}

ToolResult<dp::ProfileReport> report_from_json(const Json& json) {
  return from_json<dp::ProfileReport>(json);
}

ToolResult<Json> parse_json(std::string_view text) {
  // One set of keys per open object; a key seen twice in one object is refused, since which of
  // the two values counts would otherwise be up to the parser.
  std::vector<std::set<std::string>> open_objects;
  std::optional<std::string> repeated;
  const Json::parser_callback_t watch = [&](int, Json::parse_event_t event, Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
        open_objects.emplace_back();
        break;
      case Json::parse_event_t::object_end:
        if (!open_objects.empty()) open_objects.pop_back();
        break;
      case Json::parse_event_t::key:
        if (!open_objects.empty() &&
            !open_objects.back().insert(parsed.get<std::string>()).second && !repeated) {
          repeated = parsed.get<std::string>();
        }
        break;
      default:
        break;
    }
    return true;
  };
  try {
    Json json = Json::parse(text.begin(), text.end(), watch);
    if (repeated) {
      return tl::unexpected(tool_error(
          fmt::format("repeated key {} in one object",
                      Json(*repeated).dump(-1, ' ', false, Json::error_handler_t::replace))));
    }
    return json;
  } catch (const Json::exception& error) {
    return tl::unexpected(
        tool_error(fmt::format("invalid JSON: {}", strip_exception_id(error.what()))));
  }
}

std::string dump_json(const Json& json, int indent) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace dovapkg
