// `inspect --as pages`: one line per page the page-wise programming would send, and the
// SHA-256 of exactly those pages, as the system's sha256sum computes it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/image_listing_run.h"

namespace {

using namespace image_test;

TEST(PageListingTest, ListsEveryPageFromZeroAndHashesThePages) {
  CTempFolder folder;
  // One byte in page 2 (of 128 bytes): pages 0 and 1 go out erased.
  std::string path = folder.Write("fw.hex", Lines({HexData(0x105, {0x42}), kHexEof}));
  std::vector<std::uint8_t> pages(3 * 128, 0xFF);
  pages[0x105] = 0x42;

  InspectRun run = Inspect({path, "--as", "pages"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  // 127 erased bytes and 0x42 sum to 0xC3; 128 erased bytes to 0x80.
  EXPECT_EQ(run.out, "page 0 at 0x00000 checksum 0x80\n"
                     "page 1 at 0x00080 checksum 0x80\n"
                     "page 2 at 0x00100 checksum 0xC3\n"
                     "data 0x00105-0x00105, 3 pages of 128 bytes, then FF FF (restart)\n"
                     "sha256 " + Sha256Sum(folder, pages) + "\n");
}

TEST(PageListingTest, AFileThePageLoaderRefusesIsNamedAndNotListed) {
  CTempFolder folder;
  std::string path = folder.Write("fw.hex", Lines({HexData(0x10, {1})}));
  InspectRun run = Inspect({path, "--as", "pages"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, path + ":2: The file ends before its end-of-file record: the image is incomplete.\n");
}

}  // namespace
