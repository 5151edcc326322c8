#pragma once
// The binary download: a raw firmware file sent in 4 KiB blocks to consecutive addresses from
// 0x0800C000; the last, shorter block padded with 0xFF. The 2A interface (variant 3) takes its
// firmware this way.
//
// Frames, host to device (addresses big-endian), each answered with "!":
//   1D 01                        start
//   1D 02 <address:4>            per block, then
//   <4096 bytes>
//   12                           end
//
// The plan, shared by the sender and `inspect`, is CBinaryImage: the whole file is read before
// anything is sent, so a read error cannot leave half an image in the flash.

#include <string>

class CStreamIO;

// Sends the raw file at `path` through `stream` under the animation window. False when the
// file cannot be opened (nothing is shown) or read (the refusal is shown); nothing is sent
// then. Transfer errors and missing acknowledgements leave as CStreamException.
bool ProgramBinaryBlocks(CStreamIO& stream, const std::string& path);
