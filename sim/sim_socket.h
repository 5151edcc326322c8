#pragma once
// Unix-domain stream sockets for the emulated bus. A socket path longer than the address
// field allows (about 107 bytes; build trees can be deep) is reached through the directory's
// /proc/self/fd entry instead.

#include <filesystem>

// A listening socket at `path` (which must not exist). Throws CSimError.
int ListenOnUnixSocket(const std::filesystem::path& path);
// A connection to the socket at `path`; -1 when nothing accepts it there.
int ConnectUnixSocket(const std::filesystem::path& path);
// Whether something accepts connections at `path` (connects and closes at once).
bool IsUnixSocketServed(const std::filesystem::path& path);
