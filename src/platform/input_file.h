#pragma once
// A file the program reads: a firmware image, the catalog, a settings file, a project list, a
// response file. Every such read goes through this class, so that none of them can hang or
// run without end:
// - what is not a regular file (a named pipe, a device such as /dev/zero, a folder) is refused
//   before it is read. The open itself never waits: it is made non-blocking, so a pipe without
//   a writer is seen for what it is instead of keeping the program in open() for ever;
// - a whole-file read takes at most a given number of bytes, and says so when there are more.
// The reasons are texts for the person, and name the file where Message() is used.
//
//   CInputFile file;
//   std::string bytes;
//   if (!file.Open(path) || !file.ReadAll(bytes, kLimit)) report(file.Message());

#include <cstddef>
#include <cstdint>
#include <string>

class CInputFile {
 public:
  enum class EFailure { None, NotFound, NotAFile, CannotRead, TooLarge };

  CInputFile() = default;
  ~CInputFile();
  CInputFile(const CInputFile&) = delete;
  CInputFile& operator=(const CInputFile&) = delete;

  // Opens a regular file for reading; false when it is missing, cannot be opened or is not a
  // regular file (Failure() says which).
  bool Open(const std::string& path);
  void Close();

  // For a file that another library opens by name (a settings file): empty when `path` is
  // missing (the library starts it anew) or is a regular file of at most `limit` bytes that
  // can be opened; otherwise Message() for it. Nothing stays open.
  static std::string Check(const std::string& path, std::uint64_t limit);

  bool IsOpen() const { return m_fd >= 0; }
  const std::string& Path() const { return m_path; }
  // The size the file had when it was opened.
  std::uint64_t Size() const { return m_size; }

  // Reads up to `count` bytes; 0 at the end of the file and after a read error.
  std::size_t ReadSome(void* dest, std::size_t count);
  // Reads the rest of the file into `bytes`; false when it holds more than `limit` bytes
  // (TooLarge, nothing kept) or cannot be read.
  bool ReadAll(std::string& bytes, std::uint64_t limit);

  EFailure Failure() const { return m_failure; }
  // The system's error number of an open or read failure; 0 for the others.
  int ErrorNumber() const { return m_errno; }
  // What is wrong, without the file's name; empty when nothing is.
  std::string Reason() const { return ReasonFor(m_failure, m_errno, m_limit); }
  // The same for a failure kept for later (`limit`: the bound of a TooLarge read).
  static std::string ReasonFor(EFailure failure, int error, std::uint64_t limit);
  // The bound of the last failed whole-file read.
  std::uint64_t Limit() const { return m_limit; }
  // The file's name and what is wrong with it: the program's not-found text for a missing
  // file, "PATH\nreason" for every other failure.
  std::string Message() const;
  // The number of that message when it is one message of its own (the not-found text); 0 when
  // the text is made of several.
  int MessageId() const;

 private:
  bool Fail(EFailure failure, int error);

  std::string m_path;
  int m_fd = -1;
  std::uint64_t m_size = 0;
  std::uint64_t m_limit = 0;  // of the failed ReadAll, for the text
  EFailure m_failure = EFailure::None;
  int m_errno = 0;
};

// Resource string ids of the file opener (rows in resources/strings/input_file.inc).
enum InputFileStringId : int {
  IDS_INPUT_NOT_A_FILE = 23700,    // not a regular file
  IDS_INPUT_CANNOT_READ = 23701,   // %1 = the system's text
  IDS_INPUT_TOO_LARGE = 23702,     // %1 = the bound in bytes
};
