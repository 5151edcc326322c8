#include "console/image_listing_command.h"

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/console_session.h"
#include "console/json_output.h"
#include "platform/sha256.h"
#include "image/image_listing.h"

namespace {

// "a|b|c" of the names.
std::string Alternatives(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : "|") + name;
  return text;
}

}  // namespace

std::string InspectUsage() {
  const CImageListingRegistry& registry = CImageListingRegistry::Instance();
  return "inspect FILE --as " + Alternatives(registry.KindNames()) + " [--regions " +
         Alternatives(registry.RegionTableNames()) + "]";
}

namespace {

struct InspectOptions {
  std::string file;
  std::string kind;
  std::optional<std::string> regions;
};

// The listing's lines, and the SHA-256 of exactly the bytes the units send.
class CListing : public IImageListingSink {
 public:
  void Unit(const std::string& line, std::span<const std::uint8_t> sent) override {
    m_lines += line + "\n";
    m_units.push_back(line);
    m_bytes += sent.size();
    m_sha.Update(sent.data(), sent.size());
  }
  void Summary(const std::string& line) override {
    m_lines += line + "\n";
    m_summary.push_back(line);
  }
  std::string Text() { return m_lines + "sha256 " + Digest() + "\n"; }
  nlohmann::ordered_json Json(const InspectOptions& options) {
    return {{"type", "image"}, {"file", options.file}, {"kind", options.kind}, {"units", m_units},
            {"summary", m_summary}, {"bytes", m_bytes}, {"sha256", Digest()}};
  }

 private:
  const std::string& Digest() {
    if (m_digest.empty()) m_digest = m_sha.HexDigest();
    return m_digest;
  }

  std::string m_lines;
  std::vector<std::string> m_units;
  std::vector<std::string> m_summary;
  std::size_t m_bytes = 0;
  CSha256 m_sha;
  std::string m_digest;
};

int UsageError(std::FILE* err, const std::string& what) {
  std::fprintf(err, "tavrix-update-cli inspect: %s\nusage: tavrix-update-cli %s\n", what.c_str(), InspectUsage().c_str());
  return 2;
}

// Parses the arguments; the text of a usage error otherwise.
std::optional<std::string> ParseOptions(const CommandArgs& args, InspectOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--as" || arg == "--regions") {
      if (i + 1 == args.size()) return arg + " needs a value";
      (arg == "--as" ? options.kind : options.regions.emplace()) = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option '" + arg + "'";
    } else if (options.file.empty()) {
      options.file = arg;
    } else {
      return "more than one file given";
    }
  }
  if (options.file.empty()) return std::string("no file given");
  if (options.kind.empty()) return std::string("--as is missing");
  return std::nullopt;
}

}  // namespace

int RunInspect(const CommandArgs& args, std::FILE* out, std::FILE* err, bool json) {
  InspectOptions options;
  if (std::optional<std::string> problem = ParseOptions(args, options)) return UsageError(err, *problem);

  const CImageListingRegistry& registry = CImageListingRegistry::Instance();
  const CImageKind* kind = registry.FindKind(options.kind);
  if (kind == nullptr) return UsageError(err, "unknown kind '" + options.kind + "'");
  if (options.regions && !kind->TakesRegions) {
    return UsageError(err, "--regions does not apply to --as " + options.kind);
  }
  FlashRegionTable table;
  if (kind->TakesRegions) {
    const FlashRegionTable* named = registry.FindRegionTable(options.regions.value_or("A"));
    if (named == nullptr) return UsageError(err, "unknown region table '" + options.regions.value_or("A") + "'");
    table = *named;
  }

  CListing listing;
  if (CImageLoadError error = kind->List(options.file, table, listing); error.IsSet()) {
    std::fprintf(err, "%s\n", error.Message().c_str());
    return 2;
  }
  const std::string text = json ? JsonLine(listing.Json(options)) : listing.Text();
  std::fwrite(text.data(), 1, text.size(), out);
  return std::fflush(out) == 0 ? 0 : 1;
}

int RunInspectCommand(const CommandArgs& args) {
  ConsoleSession& session = Console();
  return RunInspect(args, session.json != nullptr ? session.json : session.streams.out, session.streams.err,
                    session.json != nullptr);
}
