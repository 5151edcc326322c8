#include "sim/sim_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/text_format.h"
#include "sim/sim_error.h"

namespace {

// Calls `use` with an address for `path`; false when no address could be formed.
bool WithAddress(const std::filesystem::path& path,
                 const std::function<void(const sockaddr_un&)>& use) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string text = path.string();
  int directoryFd = -1;
  if (text.size() >= sizeof address.sun_path) {
    directoryFd = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) return false;
    text = FormatText("/proc/self/fd/%d/%s", directoryFd, path.filename().c_str());
  }
  bool fits = text.size() < sizeof address.sun_path;
  if (fits) {
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    use(address);
  }
  if (directoryFd >= 0) ::close(directoryFd);
  return fits;
}

}  // namespace

int ListenOnUnixSocket(const std::filesystem::path& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw CSimError(FormatText("cannot create a socket: %s", std::strerror(errno)));
  int error = 0;
  bool formed = WithAddress(path, [&](const sockaddr_un& address) {
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
      error = errno;
    }
  });
  if (!formed || error != 0) {
    ::close(fd);
    throw CSimError(FormatText("cannot serve the socket %s: %s", path.c_str(),
                               formed ? std::strerror(error) : "the path is too long"));
  }
  return fd;
}

int ConnectUnixSocket(const std::filesystem::path& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  bool connected = false;
  WithAddress(path, [&](const sockaddr_un& address) {
    connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  });
  if (!connected) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool IsUnixSocketServed(const std::filesystem::path& path) {
  int fd = ConnectUnixSocket(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}
