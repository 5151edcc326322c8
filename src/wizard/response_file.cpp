#include "wizard/response_file.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <sstream>

#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Converts with iconv; nothing when the conversion is not available or the text does not fit
// the source encoding.
std::optional<std::string> Convert(std::string_view bytes, const char* from) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string input(bytes);
  std::string output(input.size() * 4 + 16, '\0');
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  std::size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) return std::nullopt;
  output.resize(output.size() - outLeft);
  return output;
}

// The character set of the environment's locale (LC_ALL, LC_CTYPE, LANG), without changing
// the program's own locale.
std::string EnvironmentCodeset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return "ANSI_X3.4-1968";
  std::string codeset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return codeset;
}

std::string DecodeNarrow(std::string_view bytes) {
  // A UTF-8 byte-order mark would otherwise stick to the first argument.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::string codeset = EnvironmentCodeset();
  if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968") return std::string(bytes);
  return Convert(bytes, codeset.c_str()).value_or(std::string(bytes));
}

}  // namespace

bool CResponseFile::LooksLikeUtf16(std::string_view bytes, bool& bigEndian) {
  bigEndian = false;
  if (bytes.size() < 2) return false;
  if (bytes[0] == '\xFF' && bytes[1] == '\xFE') return true;
  if (bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    bigEndian = true;
    return true;
  }
  if (bytes.size() % 2 != 0) return false;
  // Latin text in UTF-16 has a zero in the high byte of most characters and none in the low.
  std::size_t zeroEven = 0;
  std::size_t zeroOdd = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    if (bytes[i] == '\0') ++zeroEven;
    if (bytes[i + 1] == '\0') ++zeroOdd;
  }
  std::size_t pairs = bytes.size() / 2;
  if (zeroEven == 0 && zeroOdd * 2 >= pairs) return true;
  if (zeroOdd == 0 && zeroEven * 2 >= pairs) {
    bigEndian = true;
    return true;
  }
  return false;
}

std::string CResponseFile::Decode(std::string_view bytes) {
  bool bigEndian = false;
  if (!LooksLikeUtf16(bytes, bigEndian)) return DecodeNarrow(bytes);
  std::string_view units = bytes;
  if ((units[0] == '\xFF' && units[1] == '\xFE') || (units[0] == '\xFE' && units[1] == '\xFF')) {
    units.remove_prefix(2);
  }
  if (units.size() % 2 != 0) units.remove_suffix(1);
  return Convert(units, bigEndian ? "UTF-16BE" : "UTF-16LE").value_or(std::string());
}

std::vector<std::string> CResponseFile::Split(std::string_view text) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (true) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    if (text[i] == ';') {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    std::string arg;
    bool quoted = false;
    for (; i < n; ++i) {
      char c = text[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (!quoted && IsBlank(c)) {
        break;
      } else {
        arg += c;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::optional<std::vector<std::string>> CResponseFile::Read(const std::string& path,
                                                            std::optional<CRefusedResponseFile>* refused) {
  if (refused != nullptr) refused->reset();
  // Through the opener: a named pipe or a device is refused at once instead of holding the
  // start-up in open() or being read without end.
  CInputFile file;
  std::string bytes;
  if (file.Open(path) && file.ReadAll(bytes, kMaxBytes)) return Split(Decode(bytes));
  if (refused != nullptr && file.Failure() != CInputFile::EFailure::NotFound) {
    *refused = CRefusedResponseFile{path, file.Failure(), file.ErrorNumber()};
  }
  return std::nullopt;
}

std::string RefusalText(const CRefusedResponseFile& refused) {
  // "%1 / This response file is larger than %2 bytes and was not read." (command_line.inc)
  constexpr int kResponseFileTooLarge = 23300;
  if (refused.Failure == CInputFile::EFailure::TooLarge) {
    return FormatMessage(LoadResString(kResponseFileTooLarge), {refused.Path, std::to_string(CResponseFile::kMaxBytes)});
  }
  return refused.Path + "\n" + CInputFile::ReasonFor(refused.Failure, refused.Error, CResponseFile::kMaxBytes);
}

std::vector<std::string> ExpandResponseFiles(const std::vector<std::string>& args,
                                             std::vector<CRefusedResponseFile>* refused) {
  std::vector<std::string> expanded;
  for (const std::string& arg : args) {
    if (arg.empty() || arg[0] != '@') {
      expanded.push_back(arg);
      continue;
    }
    std::optional<CRefusedResponseFile> refusal;
    if (auto fileArgs = CResponseFile::Read(arg.substr(1), &refusal)) {
      expanded.insert(expanded.end(), fileArgs->begin(), fileArgs->end());
    } else if (refusal && refused != nullptr) {
      refused->push_back(*std::move(refusal));
    }
  }
  return expanded;
}
