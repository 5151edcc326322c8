#pragma once
// A generic device for tests and demos: it answers the host's bytes by rules (scripted_rule.h).
// Bytes are matched as they come, regardless of frame boundaries. The first rule whose whole
// pattern the pending bytes match answers; bytes that no rule can match any more are dropped
// from the front and reported as violations. Rules added while the device runs apply to
// connections that start afterwards.

#include <string_view>
#include <vector>

#include "sim/scripted_rule.h"
#include "sim/sim_device.h"

class CSimOptions;

class CScriptedSimDevice : public CSimDevice {
 public:
  explicit CScriptedSimDevice(CSimDeviceSetup setup);
  // From tavrix-devsim options: the generic ones (pid required) and rule=MATCH>REPLY, repeatable.
  explicit CScriptedSimDevice(CSimOptions& options);

  void AddRule(CScriptedRule rule);
  void AddRule(std::string_view match, std::string_view reply);
  std::size_t RuleCount() const;

  void RunProgram(CSimConnection& io) override;
  std::string Describe() const override;

 private:
  std::vector<CScriptedRule> Rules() const;

  mutable std::mutex m_rulesMutex;
  std::vector<CScriptedRule> m_rules;
};
