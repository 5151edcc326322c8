#include "sim/scripted_rule.h"

#include "platform/text_format.h"
#include "sim/sim_error.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Walks one byte script; the caller says what to do with each token.
class CScriptReader {
 public:
  explicit CScriptReader(std::string_view script) : m_script(script) {}

  bool AtEnd() {
    while (m_pos < m_script.size() && (m_script[m_pos] == ' ' || m_script[m_pos] == '\t')) ++m_pos;
    return m_pos >= m_script.size();
  }
  char Peek() const { return m_script[m_pos]; }
  char Next() { return m_script[m_pos++]; }

  [[noreturn]] void Fail(const std::string& what) const {
    throw CSimError(FormatText("%s at position %zu of \"%s\"", what.c_str(), m_pos + 1,
                               std::string(m_script).c_str()));
  }

  std::uint8_t HexByte() {
    int high = HexValue(Next());
    int low = m_pos < m_script.size() ? HexValue(m_script[m_pos]) : -1;
    if (high < 0 || low < 0) {
      --m_pos;
      Fail("expected two hexadecimal digits");
    }
    ++m_pos;
    return static_cast<std::uint8_t>(high * 16 + low);
  }

  std::uint32_t Count(std::uint32_t ifNone) {
    std::uint64_t value = 0;
    bool any = false;
    while (m_pos < m_script.size() && m_script[m_pos] >= '0' && m_script[m_pos] <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(m_script[m_pos++] - '0');
      if (value > 0xFFFFFF) Fail("count too large");
      any = true;
    }
    return any ? static_cast<std::uint32_t>(value) : ifNone;
  }

  std::vector<std::uint8_t> Text() {
    ++m_pos;  // the opening quote
    std::vector<std::uint8_t> bytes;
    while (true) {
      if (m_pos >= m_script.size()) Fail("unterminated text");
      char c = Next();
      if (c == '\'') return bytes;
      if (c == '\\') c = Escape();
      bytes.push_back(static_cast<std::uint8_t>(c));
    }
  }

 private:
  char Escape() {
    if (m_pos >= m_script.size()) Fail("unterminated escape");
    switch (char c = Next()) {
      case '0':
        return '\0';
      case 'n':
        return '\n';
      case 'r':
        return '\r';
      case 't':
        return '\t';
      case '\\':
      case '\'':
        return c;
      case 'x':
        return static_cast<char>(HexByte());
      default:
        --m_pos;
        Fail("unknown escape");
    }
  }

  std::string_view m_script;
  std::size_t m_pos = 0;
};

std::vector<int> ParseMatch(std::string_view script) {
  std::vector<int> match;
  CScriptReader reader(script);
  while (!reader.AtEnd()) {
    char c = reader.Peek();
    if (c == '\'') {
      for (std::uint8_t byte : reader.Text()) match.push_back(byte);
    } else if (c == '*') {
      reader.Next();
      match.insert(match.end(), reader.Count(1), CScriptedRule::kAnyByte);
    } else {
      match.push_back(reader.HexByte());
    }
  }
  if (match.empty()) throw CSimError("a rule must match at least one byte");
  return match;
}

std::vector<CScriptedStep> ParseReply(std::string_view script) {
  std::vector<CScriptedStep> steps;
  auto bytes = [&steps]() -> std::vector<std::uint8_t>& {
    if (steps.empty() || steps.back().Kind != CScriptedStep::EKind::Bytes) steps.push_back({});
    return steps.back().Bytes;
  };
  CScriptReader reader(script);
  while (!reader.AtEnd()) {
    char c = reader.Peek();
    if (c == '\'') {
      std::vector<std::uint8_t> text = reader.Text();
      bytes().insert(bytes().end(), text.begin(), text.end());
    } else if (c == '!') {
      reader.Next();
      steps.push_back({CScriptedStep::EKind::Acknowledge, {}, 0});
    } else if (c == '|') {
      reader.Next();
      steps.push_back({CScriptedStep::EKind::PacketEnd, {}, 0});
    } else if (c == '~') {
      reader.Next();
      std::uint32_t milliseconds = reader.Count(UINT32_MAX);
      if (milliseconds == UINT32_MAX) reader.Fail("~ needs a time in milliseconds");
      steps.push_back({CScriptedStep::EKind::Wait, {}, milliseconds});
    } else {
      bytes().push_back(reader.HexByte());
    }
  }
  return steps;
}

}  // namespace

CScriptedRule CScriptedRule::Parse(std::string_view match, std::string_view reply) {
  return {ParseMatch(match), ParseReply(reply)};
}

CScriptedRule CScriptedRule::Parse(std::string_view rule) {
  bool quoted = false;
  for (std::size_t i = 0; i < rule.size(); ++i) {
    if (rule[i] == '\\' && quoted) {
      ++i;
    } else if (rule[i] == '\'') {
      quoted = !quoted;
    } else if (rule[i] == '>' && !quoted) {
      return Parse(rule.substr(0, i), rule.substr(i + 1));
    }
  }
  throw CSimError("a rule is MATCH>REPLY: \"" + std::string(rule) + "\"");
}

std::vector<std::uint8_t> ParseSimBytes(std::string_view script) {
  std::vector<std::uint8_t> bytes;
  for (const CScriptedStep& step : ParseReply(script)) {
    if (step.Kind != CScriptedStep::EKind::Bytes) {
      throw CSimError("only bytes and text expected in \"" + std::string(script) + "\"");
    }
    bytes.insert(bytes.end(), step.Bytes.begin(), step.Bytes.end());
  }
  return bytes;
}
