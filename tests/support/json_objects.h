#pragma once
// Checks tavrix-update-cli's --json output against the objects its manual page describes
// (packaging/man/json-objects.json): every line is one object whose "type" names a listed
// shape, with every listed field (those ending in "?" may be left out) of the listed type,
// and no other field.

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

inline const nlohmann::json& JsonObjectShapes() {
  static const nlohmann::json shapes = [] {
    std::ifstream in(TAVRIX_SOURCE_DIR "/packaging/man/json-objects.json");
    return nlohmann::json::parse(in);
  }();
  return shapes;
}

inline bool HasJsonType(const nlohmann::json& value, const std::string& type) {
  if (type == "string") return value.is_string();
  if (type == "integer") return value.is_number_integer();
  if (type == "boolean") return value.is_boolean();
  if (type == "object") return value.is_object();
  if (type == "string or null") return value.is_string() || value.is_null();
  if (type == "integer or null") return value.is_number_integer() || value.is_null();
  if (type == "array of strings") {
    if (!value.is_array()) return false;
    for (const auto& item : value) {
      if (!item.is_string()) return false;
    }
    return true;
  }
  return false;  // a type the check does not know is a fault of the description
}

// What is wrong with the lines of `output`; empty when each fits its shape. `types` gets the
// type of every line.
inline std::string JsonOutputProblems(const std::string& output, std::set<std::string>* types = nullptr) {
  std::string problems;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object() || !object.contains("type") || !object["type"].is_string()) {
      problems += "not a typed JSON object: " + line + "\n";
      continue;
    }
    const std::string type = object["type"];
    if (types != nullptr) types->insert(type);
    if (!JsonObjectShapes().contains(type)) {
      problems += "unknown type " + type + "\n";
      continue;
    }
    const nlohmann::json& fields = JsonObjectShapes()[type]["fields"];
    for (const auto& [name, fieldType] : fields.items()) {
      bool optional = name.ends_with("?");
      std::string key = optional ? name.substr(0, name.size() - 1) : name;
      if (!object.contains(key)) {
        if (!optional) problems += type + " lacks " + key + ": " + line + "\n";
      } else if (!HasJsonType(object[key], fieldType)) {
        problems += type + "." + key + " is no " + fieldType.get<std::string>() + ": " + line + "\n";
      }
    }
    for (const auto& [key, value] : object.items()) {
      if (!fields.contains(key) && !fields.contains(key + "?")) problems += type + " has an unlisted " + key + "\n";
    }
  }
  return problems;
}
