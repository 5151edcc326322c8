#include "devices/downloads/segment_download.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "devices/downloads/region_table_a.h"
#include "image/image_listing.h"
#include "image/image_load_error.h"
#include "platform/anim_wait.h"
#include "platform/text_format.h"
#include "transport/stream_io.h"
#include "updater/stop_request.h"

namespace {

constexpr int kLoadingText = 30501;       // "Loading data.."
constexpr int kTransmittingText = 30502;  // "Transmitting data"

CImageLoadError ListSegmentImage(const std::string& path, FlashRegionTable table, IImageListingSink& sink) {
  CImageFile file;
  if (!file.Open(path)) return file.LastError();
  CFlashSegArray segments;
  std::uint32_t total = ReadSegmentFile(file, segments, table);
  if (file.LastError().IsSet()) return file.LastError();
  for (const auto& segment : segments) {
    std::string line = FormatText("segment 0x%05X-0x%05X size 0x%X kind %u%s", segment->Start, segment->End,
                                  segment->Size, segment->Kind, segment->IsSent() ? "" : " not sent");
    sink.Unit(line, segment->IsSent() ? std::span<const std::uint8_t>(segment->Data.data(), segment->Size)
                                      : std::span<const std::uint8_t>());
  }
  sink.Summary(FormatText("total 0x%X", total));
  return {};
}

const RegisterImageKind g_segments("segments", ListSegmentImage, true);
const RegisterRegionTable g_tableA("A", kFlashRegionsA);

}  // namespace

unsigned SentSegmentCount(const CFlashSegArray& segments) {
  return static_cast<unsigned>(
      std::count_if(segments.begin(), segments.end(), [](const auto& segment) { return segment->IsSent(); }));
}

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
  const unsigned count = SentSegmentCount(segments);
  // The header announces the count in one byte: a larger one would be announced wrong.
  if (count > kMaxSentSegments) {
    segments.clear();
    return false;
  }
  bool result = true;
  try {
    SendHeader(count);
    if (m_stream->ReadByte() != CStreamIO::kAck) {
      // The bootloader is not listening; there is nothing to reset, but the person is told.
      segments.clear();
      CStreamException(CStreamIO::kNotAcceptedMessage).ReportError();
      return false;
    }
    for (const auto& segment : segments) {
      StopIfRequested();
      if (segment->IsSent()) SendSegment(*segment);
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
