#include "sim/scripted_sim_device.h"

#include <deque>

#include "platform/text_format.h"
#include "sim/sim_device_registry.h"
#include "sim/sim_error.h"
#include "sim/sim_options.h"

namespace {

RegisterSimDevice<CScriptedSimDevice> g_registration(
    "scripted", "answers the host's bytes by rules: rule=MATCH>REPLY (repeatable), pid= required");

CSimDeviceSetup SetupFromOptions(CSimOptions& options) {
  if (!options.Has("pid")) throw CSimError("a scripted device needs pid=");
  return options.TakeSetup({});
}

bool Matches(const CScriptedRule& rule, std::size_t index, std::uint8_t byte) {
  return index < rule.Match.size() &&
         (rule.Match[index] == CScriptedRule::kAnyByte || rule.Match[index] == byte);
}

// The matching state of one connection: the pending bytes and the rules they still fit.
class CRuleMatcher {
 public:
  struct Event {
    const CScriptedRule* Rule = nullptr;  // matched whole, or nullptr for a dropped byte
    std::uint8_t Dropped = 0;             // a byte no rule can match
  };

  explicit CRuleMatcher(const std::vector<CScriptedRule>& rules) : m_rules(rules) { Restart(); }

  // Feeds one byte; what happened, in order, replaces `events`.
  void Feed(std::uint8_t byte, std::vector<Event>& events) {
    events.clear();
    m_input.assign(1, byte);
    while (!m_input.empty()) {
      m_pending.push_back(m_input.front());
      m_input.pop_front();
      Narrow(m_pending.size() - 1, m_pending.back());
      if (const CScriptedRule* whole = Whole()) {
        events.push_back({whole, 0});
        m_pending.clear();
        Restart();
      } else if (m_candidates.empty()) {
        // Nothing fits: give up the oldest byte and feed the rest again from the start.
        events.push_back({nullptr, m_pending.front()});
        m_input.insert(m_input.begin(), m_pending.begin() + 1, m_pending.end());
        m_pending.clear();
        Restart();
      }
    }
  }

 private:
  void Restart() {
    m_candidates.clear();
    for (std::size_t i = 0; i < m_rules.size(); ++i) m_candidates.push_back(i);
  }
  void Narrow(std::size_t index, std::uint8_t byte) {
    std::erase_if(m_candidates,
                  [&](std::size_t rule) { return !Matches(m_rules[rule], index, byte); });
  }
  const CScriptedRule* Whole() const {
    for (std::size_t rule : m_candidates) {
      if (m_rules[rule].Match.size() == m_pending.size()) return &m_rules[rule];
    }
    return nullptr;
  }

  const std::vector<CScriptedRule>& m_rules;
  std::vector<std::size_t> m_candidates;  // in rule order
  std::vector<std::uint8_t> m_pending;
  std::deque<std::uint8_t> m_input;
};

void Answer(CSimConnection& io, const CScriptedRule& rule) {
  std::vector<std::uint8_t> collected;
  auto flush = [&](bool emptyPacketIfNone) {
    if (!collected.empty()) {
      io.WriteBytes(collected);
      collected.clear();
    } else if (emptyPacketIfNone) {
      io.WritePacket({});
    }
  };
  for (const CScriptedStep& step : rule.Reply) {
    switch (step.Kind) {
      case CScriptedStep::EKind::Bytes:
        collected.insert(collected.end(), step.Bytes.begin(), step.Bytes.end());
        break;
      case CScriptedStep::EKind::Acknowledge:
        collected.push_back(io.NextAcknowledgement());
        break;
      case CScriptedStep::EKind::PacketEnd:
        flush(true);
        break;
      case CScriptedStep::EKind::Wait:
        flush(false);
        io.Wait(step.Milliseconds);
        break;
    }
  }
  flush(false);
}

void ReportDropped(CSimConnection& io, std::vector<std::uint8_t>& dropped) {
  if (dropped.empty()) return;
  std::string hex;
  for (std::size_t i = 0; i < dropped.size() && i < 16; ++i) hex += FormatText(" %02X", dropped[i]);
  if (dropped.size() > 16) hex += " ...";
  io.ReportViolation(FormatText("no rule for %zu byte(s):", dropped.size()) + hex);
  dropped.clear();
}

}  // namespace

CScriptedSimDevice::CScriptedSimDevice(CSimDeviceSetup setup) : CSimDevice(std::move(setup)) {}

CScriptedSimDevice::CScriptedSimDevice(CSimOptions& options)
    : CSimDevice(SetupFromOptions(options)) {
  for (const std::string& rule : options.TakeAll("rule")) AddRule(CScriptedRule::Parse(rule));
}

void CScriptedSimDevice::AddRule(CScriptedRule rule) {
  std::lock_guard lock(m_rulesMutex);
  m_rules.push_back(std::move(rule));
}

void CScriptedSimDevice::AddRule(std::string_view match, std::string_view reply) {
  AddRule(CScriptedRule::Parse(match, reply));
}

std::size_t CScriptedSimDevice::RuleCount() const {
  std::lock_guard lock(m_rulesMutex);
  return m_rules.size();
}

std::vector<CScriptedRule> CScriptedSimDevice::Rules() const {
  std::lock_guard lock(m_rulesMutex);
  return m_rules;
}

void CScriptedSimDevice::RunProgram(CSimConnection& io) {
  const std::vector<CScriptedRule> rules = Rules();
  CRuleMatcher matcher(rules);
  std::vector<std::uint8_t> dropped;
  std::vector<CRuleMatcher::Event> events;
  try {
    while (true) {
      matcher.Feed(io.ReadByte(), events);
      for (const CRuleMatcher::Event& event : events) {
        if (event.Rule == nullptr) {
          dropped.push_back(event.Dropped);  // reported as one run, not byte by byte
          continue;
        }
        ReportDropped(io, dropped);
        Answer(io, *event.Rule);
      }
      if (io.AtFrameStart()) ReportDropped(io, dropped);
    }
  } catch (const CSimDisconnected&) {
    ReportDropped(io, dropped);
    throw;
  }
}

std::string CScriptedSimDevice::Describe() const { return FormatText("%zu rule(s)", RuleCount()); }
