#pragma once
// The block download: an Intel HEX file is loaded into a 1 MiB image, and every 4 KiB block
// that is not blank (all 0xFF) is sent with command 0x04 after a 0x1F start; 0x10 ends it.
// The 2A interface (variant 3) and the MK interface take their firmware this way; they differ
// in the byte order of the block header and in the pause after the start.
//
//   1F                                  then the start pause
//   04 <address:4> <length:2>  -> "!"   address = block offset, length = 4096
//   <4096 bytes>               -> "!"   read after kBlockPause
//   10                                  no answer

#include <cstdint>
#include <string>
#include <vector>

#include "image/hex_file_reader.h"

class CStreamIO;

// Each family that takes the block download names its format in its own room.
struct CHexBlockFormat {
  std::uint32_t StartPause;  // milliseconds after 0x1F
  bool LowByteFirst;         // address and length in the block header
};

inline constexpr std::uint32_t kHexBlockSize = 4096;
// The bootloader programs a block before it answers.
inline constexpr std::uint32_t kHexBlockPause = 300;

// The plan, shared by the sender and `inspect`: the HEX file loaded into the 1 MiB image, and
// the offsets of its blocks that are not blank, in sending order. The blocks stay in the
// reader's image, so the reader must outlive the plan.
class CHexBlockPlan {
 public:
  // Loads the file `reader` has open; the refusal when it does not load completely.
  CImageLoadError Load(CIntelHexFileReader& reader);
  const std::vector<std::uint32_t>& BlockOffsets() const { return m_offsets; }
  const std::uint8_t* Block(std::uint32_t offset) const { return m_image->data() + offset; }

 private:
  const std::vector<std::uint8_t>* m_image = nullptr;
  std::vector<std::uint32_t> m_offsets;
};

// Sends the HEX image at `path` through `stream` under the animation window. False when the
// file cannot be opened (the file error is shown) or does not load completely (the refusal is
// shown); nothing is sent then. Transfer errors and missing acknowledgements leave as
// CStreamException.
bool ProgramHexBlocks(CStreamIO& stream, const std::string& path, const CHexBlockFormat& format);
