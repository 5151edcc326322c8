#include "devices/flash_update_seg.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "image/image_load_error.h"
#include "transport/stream_io.h"
#include "wizard/anim_wait.h"

namespace {
constexpr int kLoadingText = 30501;       // "Loading data.."
constexpr int kTransmittingText = 30502;  // "Transmitting data"
}  // namespace

bool CFlashUpdateSeg::UpdateFromFile(const std::string& path, FlashRegionTable table) {
  CImageFile file;
  if (!file.OpenFile(path)) return false;
  std::optional<CAnimWait> animation(std::in_place);
  CFlashSegArray segments;
  animation->SetText(kLoadingText);
  ReadSegmentFile(file, segments, table);
  if (file.LastError().IsSet()) {
    // Half an image must never reach the flash: refuse it before the device hears anything.
    animation.reset();
    ShowImageRefusal(file.LastError());
    return false;
  }
  animation->SetText(kTransmittingText);
  return SendSegments(segments);
}

bool CFlashUpdateSeg::SendSegments(CFlashSegArray& segments) {
  auto sent = [](const std::unique_ptr<CFlashSeg>& segment) { return segment->Kind != FLASH_REGION_NOT_SENT; };
  bool result = true;
  try {
    SendHeader(static_cast<unsigned>(std::count_if(segments.begin(), segments.end(), sent)));
    if (m_stream->ReadByte() != CStreamIO::kAck) {
      segments.clear();
      return false;  // the bootloader is not listening; there is nothing to reset
    }
    for (const auto& segment : segments) {
      if (sent(segment)) SendSegment(*segment);
    }
  } catch (const CStreamException& error) {
    error.ReportError();
    result = false;
  }
  segments.clear();
  m_stream->ResetDevice();
  return result;
}

void CFlashUpdateSeg::SendHeader(unsigned count) {
  const std::uint8_t header[] = {0x1F, 0x01, static_cast<std::uint8_t>(count), 0x00, 0x01};
  m_stream->BeginWriteBuffer();
  m_stream->Write(header, sizeof header);
  m_stream->EndWriteBuffer();
}

void CFlashUpdateSeg::SendSegment(const CFlashSeg& segment) {
  const std::uint8_t sizeAndKind[] = {
      static_cast<std::uint8_t>(segment.Size >> 8), static_cast<std::uint8_t>(segment.Size),
      static_cast<std::uint8_t>(segment.Kind >> 8), static_cast<std::uint8_t>(segment.Kind)};
  m_stream->BeginWriteBuffer();
  m_stream->WriteDWord(segment.Start);
  m_stream->Write(sizeAndKind, sizeof sizeAndKind);
  m_stream->EndWriteBuffer();
  m_stream->ExpectAck();
  m_stream->Write(segment.Data.data(), segment.Size);
  m_stream->ExpectAck();
}
