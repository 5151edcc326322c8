#include "support/net_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

bool RunShell(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return status == 0;
}

CNetNamespace::CNetNamespace(const std::string& purpose)
    : m_name("tavrix-" + purpose + "-" + std::to_string(::getpid())) {
  std::string output;
  RunShell("ip netns del " + m_name);  // a leftover of a crashed run
  if (!RunShell("ip netns add " + m_name, &output)) {
    m_failure = "cannot make a network namespace (ip netns add): " + output;
    m_name.clear();
    return;
  }
  Ip("link set lo up");
}

CNetNamespace::~CNetNamespace() {
  if (!m_name.empty()) RunShell("ip netns del " + m_name);
}

bool CNetNamespace::Ip(const std::string& args) {
  std::string output;
  if (RunShell("ip -n " + m_name + " " + args, &output)) return true;
  if (m_failure.empty()) m_failure = "ip -n " + m_name + " " + args + ": " + output;
  return false;
}

bool CNetNamespace::Link(CNetNamespace& peer, const std::string& name, const std::string& address,
                         const std::string& peerName, const std::string& peerAddress) {
  bool made = Ip("link add " + name + " type veth peer name " + peerName + " netns " + peer.Name()) &&
              Ip("addr add " + address + " dev " + name) && Ip("link set " + name + " up") &&
              peer.Ip("addr add " + peerAddress + " dev " + peerName) && peer.Ip("link set " + peerName + " up");
  if (!made && m_failure.empty()) m_failure = peer.Failure();
  // A veth end drops what is sent before the link is up on both sides; a broadcast sent in
  // that moment would be lost. Wait (2 s at most) until both ends report it.
  for (int i = 0; made && i < 200; ++i) {
    std::string here, there;
    RunShell("ip -n " + m_name + " -o link show dev " + name, &here);
    RunShell("ip -n " + peer.Name() + " -o link show dev " + peerName, &there);
    if (here.find("state UP") != std::string::npos && there.find("state UP") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (made) m_failure = "the veth pair " + name + "/" + peerName + " did not come up";
  return false;
}

namespace {
// A thread that could not join must not run its body in the host's namespace.
bool JoinNamespace(const std::string& name) {
  int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool joined = ::setns(fd, CLONE_NEWNET) == 0;
  ::close(fd);
  return joined;
}
}  // namespace

std::thread CNetNamespace::SpawnInside(std::function<void()> body) const {
  return std::thread([name = m_name, body = std::move(body)] {
    if (JoinNamespace(name)) body();
  });
}

bool CNetNamespace::RunInside(const std::function<void()>& body) const {
  bool joined = false;
  std::thread worker([&] {
    joined = JoinNamespace(m_name);
    if (joined) body();
  });
  worker.join();
  return joined;
}
