#pragma once
// The terminal front end's output for scripts (--json): one JSON object per line, each with a
// "type" that names its shape. The shapes and their fields are listed in json_schema.json and
// in the manual page.

#include <nlohmann/json.hpp>

// Whether this run writes JSON lines.
bool JsonMode();
// `object` as one line, with its line end. Texts from devices and files may hold bytes that
// are no UTF-8; they are replaced rather than ending the output.
std::string JsonLine(const nlohmann::ordered_json& object);
// Writes `object` as one line and flushes it, so that a reader sees it at once.
void EmitJson(const nlohmann::ordered_json& object);
// A version as the program shows it ("3.12"), or null for none.
nlohmann::ordered_json JsonVersion(std::uint16_t version);
