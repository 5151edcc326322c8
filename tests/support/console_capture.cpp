#include "support/console_capture.h"

#include <cstdio>
#include <cstdlib>

#include "console/commands.h"
#include "console/console_session.h"

std::string ConsoleResult::LastLine() const {
  std::string text = out;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  auto newline = text.rfind('\n');
  return newline == std::string::npos ? text : text.substr(newline + 1);
}

ConsoleResult RunConsoleCaptured(const std::vector<std::string>& args, const ConsoleInput& input) {
  char* outBuffer = nullptr;
  std::size_t outSize = 0;
  char* errBuffer = nullptr;
  std::size_t errSize = 0;
  ConsoleStreams streams;
  std::string inText = input.text;
  streams.in = inText.empty() ? std::fopen("/dev/null", "r") : fmemopen(inText.data(), inText.size(), "r");
  streams.out = open_memstream(&outBuffer, &outSize);
  streams.err = open_memstream(&errBuffer, &errSize);
  streams.inIsTerminal = input.inIsTerminal;
  streams.outIsTerminal = input.outIsTerminal;
  ConsoleResult result;
  result.status = RunConsole(args, streams);
  std::fclose(streams.in);
  std::fclose(streams.out);
  std::fclose(streams.err);
  result.out.assign(outBuffer, outSize);
  result.err.assign(errBuffer, errSize);
  std::free(outBuffer);
  std::free(errBuffer);
  return result;
}
