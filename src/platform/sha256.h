#pragma once
// SHA-256 over bytes fed in pieces (through libcrypto), as lower-case hexadecimal.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  void Update(const void* bytes, std::size_t count);
  // The digest of everything fed so far, 64 lower-case hexadecimal digits. Ends the digest.
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
};

// The digest of a regular file's bytes; nothing when `path` is no regular file or cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);
