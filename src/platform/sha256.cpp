#include "platform/sha256.h"

#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

struct CSha256::Context {
  EVP_MD_CTX* digest = nullptr;
  ~Context() { EVP_MD_CTX_free(digest); }
};

CSha256::CSha256() : m_context(std::make_unique<Context>()) {
  m_context->digest = EVP_MD_CTX_new();
  if (m_context->digest == nullptr || EVP_DigestInit_ex(m_context->digest, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* bytes, std::size_t count) {
  if (count > 0) EVP_DigestUpdate(m_context->digest, bytes, count);
}

std::string CSha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(m_context->digest, digest, &length);
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0xF];
  }
  return text;
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  CSha256 sha;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    sha.Update(buffer, static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) return std::nullopt;
  return sha.HexDigest();
}
