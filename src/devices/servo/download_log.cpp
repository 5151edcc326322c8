#include "devices/servo/download_log.h"

#include "wizard/message_pump.h"

void CDownloadLog::Append(const std::string& text) {
  if (!m_text.empty()) m_text += '\n';
  m_text += text;
  // A failing download reports often; the window must not stand still meanwhile.
  PumpPendingMessages();
}

CDownloadLog& TheDownloadLog() {
  static CDownloadLog log;
  return log;
}
