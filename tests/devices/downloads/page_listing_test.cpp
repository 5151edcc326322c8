// `inspect --as pages`: one line per page the page-wise programming would send, and the
// SHA-256 of exactly those pages, as the system's sha256sum computes it.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/image_listing_command.h"
#include "support/image_files.h"

namespace {

using namespace image_test;

std::string ReadBack(std::FILE* stream) {
  std::rewind(stream);
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, got);
  std::fclose(stream);
  return text;
}

TEST(PageListingTest, ListsEveryPageFromZeroAndHashesThePages) {
  CTempFolder folder;
  // One byte in page 2 (of 128 bytes): pages 0 and 1 go out erased.
  std::string path = folder.Write("fw.hex", Lines({HexData(0x105, {0x42}), kHexEof}));
  std::string pages(3 * 128, '\xFF');
  pages[0x105] = 0x42;
  std::string expectedBytes = folder.Write("pages.bin", pages);
  std::FILE* pipe = ::popen(("sha256sum '" + expectedBytes + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char digest[65] = {};
  ASSERT_EQ(std::fread(digest, 1, 64, pipe), 64u);
  ::pclose(pipe);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunInspect({path, "--as", "pages"}, out, err), 0);
  EXPECT_EQ(ReadBack(err), "");
  // 127 erased bytes and 0x42 sum to 0xC3; 128 erased bytes to 0x80.
  EXPECT_EQ(ReadBack(out), std::string("page 0 at 0x00000 checksum 0x80\n"
                                       "page 1 at 0x00080 checksum 0x80\n"
                                       "page 2 at 0x00100 checksum 0xC3\n"
                                       "data 0x00105-0x00105, 3 pages of 128 bytes, then FF FF (restart)\n"
                                       "sha256 ") + digest + "\n");
}

TEST(PageListingTest, AFileThePageLoaderRefusesIsNamedAndNotListed) {
  CTempFolder folder;
  std::string path = folder.Write("fw.hex", Lines({HexData(0x10, {1})}));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunInspect({path, "--as", "pages"}, out, err), 2);
  EXPECT_EQ(ReadBack(out), "");
  EXPECT_EQ(ReadBack(err), path + ": The end-of-file record is missing.\n");
}

}  // namespace
