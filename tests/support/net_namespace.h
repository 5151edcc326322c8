#pragma once
// A network namespace a test makes for itself (ip netns), so that connects to a host that
// never answers and discovery broadcasts stay inside it: nothing reaches a real network.
// Code runs inside it on a thread of its own that joined the namespace (setns), the rest of
// the test process stays where it was. The namespace goes with the object.

#include <functional>
#include <string>
#include <thread>
#include <vector>

class CNetNamespace {
 public:
  // Makes a namespace named after `purpose` and the process id, with loopback up.
  explicit CNetNamespace(const std::string& purpose);
  ~CNetNamespace();
  CNetNamespace(const CNetNamespace&) = delete;
  CNetNamespace& operator=(const CNetNamespace&) = delete;

  // Empty when the namespace is there; otherwise why it could not be made.
  const std::string& Failure() const { return m_failure; }
  const std::string& Name() const { return m_name; }

  // Runs `ip ARGS...` inside the namespace; false (with Failure set) when it fails.
  bool Ip(const std::string& args);
  // A veth pair from this namespace to `peer`: `name` here with `address` (CIDR), `peerName`
  // there with `peerAddress`, both up. False (with Failure set) when it cannot be made.
  bool Link(CNetNamespace& peer, const std::string& name, const std::string& address,
            const std::string& peerName, const std::string& peerAddress);
  // Runs `body` on a thread that joined the namespace, and waits for it; false (and `body`
  // not run) when the thread could not join.
  bool RunInside(const std::function<void()>& body) const;
  // The same on a thread that keeps running; the caller joins it.
  std::thread SpawnInside(std::function<void()> body) const;

 private:
  std::string m_name;
  std::string m_failure;
};

// Runs a shell command; true when it exits with 0. Its output goes to `output` when given.
bool RunShell(const std::string& command, std::string* output = nullptr);
