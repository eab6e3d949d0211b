#pragma once

// The JSON form of applications and profile reports: one object per record, keys exactly the
// record's field names in declaration order, numbers as JSON numbers (64-bit values exact), texts
// as strings, bytes as lowercase hexadecimal strings and enumerations by the name of their value.
// Reading accepts the same form: a missing key takes the field's default; an unknown or repeated
// key, a wrong type, a number out of its field's range or bad hexadecimal is refused with a
// message that begins with the JSON path of the value at fault.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "dova/package.hpp"
#include "tool_error.hpp"

namespace dovapkg {

using Json = nlohmann::ordered_json;

Json to_json(const dova::package::Application& application);
Json to_json(const dova::package::ProfileReport& report);

ToolResult<dova::package::Application> application_from_json(const Json& json);
ToolResult<dova::package::ProfileReport> report_from_json(const Json& json);

// Parses a JSON text, refusing repeated keys in one object.
ToolResult<Json> parse_json(std::string_view text);

// The text of a JSON value with a final newline: indented by `indent` spaces per level, or on one
// line when `indent` is negative. Invalid UTF-8 in strings is replaced, never thrown about.
std::string dump_json(const Json& json, int indent = 2);

}  // namespace dovapkg
