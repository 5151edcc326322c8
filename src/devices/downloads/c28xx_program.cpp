#include "devices/downloads/c28xx_program.h"

#include <exception>
#include <optional>

#include "devices/c28xx/flash_regions_c28xx.h"
#include "image/image_listing.h"
#include "platform/anim_wait.h"
#include "platform/clock.h"
#include "platform/user_interface.h"
#include "platform/text_format.h"
#include "transport/stream_io.h"
#include "updater/stop_request.h"

namespace {

constexpr int kLoadingText = 30501;       // "Loading data.."
constexpr int kTransmittingText = 30502;  // "Transmitting data"

constexpr std::uint8_t kStartCommand = 0x1E;
constexpr std::uint8_t kProgramCommand = 0x1F;
constexpr std::uint8_t kEndCommand = 0x21;
// What follows the program command: the header's format number, always 1.
constexpr std::uint8_t kProgramHeaderFormat[] = {0x00, 0x01};
constexpr std::uint16_t kSegmentAcknowledgement = 0x21;

void WriteWord(CStreamIO& stream, std::uint32_t value) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  stream.Write(bytes, sizeof bytes);
}

CImageLoadError ListWordImage(const std::string& path, FlashRegionTable /*table*/, IImageListingSink& sink) {
  CIntelHexFileReader16 reader;
  if (!reader.Open(path)) return reader.LastError();
  CC28xxProgramPlan plan;
  if (CImageLoadError error = plan.Load(reader); error.IsSet()) return error;
  for (const auto& segment : plan.Segments()) {
    std::vector<std::uint8_t> bytes;
    if (segment->IsSent()) bytes = CC28xxProgramPlan::WireBytes(*segment);
    sink.Unit(FormatText("segment 0x%06X-0x%06X count 0x%X kind %u%s", segment->Start, segment->End,
                         segment->Size, segment->Kind, segment->IsSent() ? "" : " not sent"),
              bytes);
  }
  sink.Summary(FormatText("total 0x%X", plan.TotalWords()));
  return {};
}

const RegisterImageKind g_hex16("hex16", ListWordImage);

}  // namespace

CImageLoadError CC28xxProgramPlan::Load(CIntelHexFileReader16& reader) {
  m_segments.clear();
  m_total = reader.LoadSegments(m_segments, kFlashRegionsC28xx);
  return reader.LastError();
}

std::vector<const CFlashSeg16*> CC28xxProgramPlan::SentSegments() const {
  std::vector<const CFlashSeg16*> sent;
  for (const auto& segment : m_segments) {
    if (segment->IsSent()) sent.push_back(segment.get());
  }
  return sent;
}

std::vector<std::uint8_t> CC28xxProgramPlan::WireBytes(const CFlashSeg16& segment) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * std::size_t{segment.Size});
  for (std::uint32_t i = 0; i < segment.Size; ++i) {
    // The byte order of the HEX file.
    bytes.push_back(static_cast<std::uint8_t>(segment.Data[i] & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(segment.Data[i] >> 8));
  }
  return bytes;
}

bool CFlashUpdateC28XX::ProgramFile(const std::string& path, bool singleByteCommands) {
  m_singleByteCommands = singleByteCommands;
  std::optional<CAnimWait> animation(std::in_place);
  animation->SetText(kLoadingText);
  CIntelHexFileReader16 reader;
  if (!reader.OpenFile(path)) return false;
  CC28xxProgramPlan plan;
  if (CImageLoadError error = plan.Load(reader); error.IsSet()) {
    // Half an image must never reach the flash: refuse it before the device hears anything.
    animation.reset();
    ShowImageRefusal(error);
    return false;
  }
  animation->SetText(kTransmittingText);
  try {
    Send(plan);
  } catch (const CStreamException& error) {
    // The link's own message says why; the wizard then reports the failed update. The device
    // keeps its bootloader and can be programmed again.
    error.ReportError(MB_ICONERROR);
    return false;
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void CFlashUpdateC28XX::Send(const CC28xxProgramPlan& plan) {
  const std::vector<const CFlashSeg16*> segments = plan.SentSegments();
  m_stream->DrainInput();
  m_stream->BeginWriteBuffer();
  WriteCommand(kStartCommand);
  m_stream->EndWriteBuffer();
  // Whatever the bootloader said while it started is not read.
  Clock().Sleep(kC28xxStartPause);
  m_stream->DrainInput();

  m_stream->BeginWriteBuffer();
  WriteCommand(kProgramCommand);
  m_stream->Write(kProgramHeaderFormat, sizeof kProgramHeaderFormat);
  WriteWord(*m_stream, static_cast<std::uint32_t>(segments.size()));
  m_stream->EndWriteBuffer();
  ExpectStatus();

  for (const CFlashSeg16* segment : segments) {
    StopIfRequested();
    SendSegment(*segment);
  }

  Clock().Sleep(kC28xxEndPause);
  WriteCommand(kEndCommand);
}

void CFlashUpdateC28XX::WriteCommand(std::uint8_t command) {
  const std::uint8_t bytes[] = {0x00, command};
  if (m_singleByteCommands) {
    m_stream->Write(bytes + 1, 1);
  } else {
    m_stream->Write(bytes, sizeof bytes);
  }
}

void CFlashUpdateC28XX::SendSegment(const CFlashSeg16& segment) {
  m_stream->BeginWriteBuffer();
  m_stream->WriteDWord(segment.Start);
  WriteWord(*m_stream, segment.Size);
  WriteWord(*m_stream, segment.Kind);
  m_stream->EndWriteBuffer();
  std::uint16_t answer = m_singleByteCommands ? m_stream->ReadByte() : m_stream->ReadWord();
  if (answer != kSegmentAcknowledgement) CStreamIO::ThrowStreamException(20016);

  const std::vector<std::uint8_t> bytes = CC28xxProgramPlan::WireBytes(segment);
  // A segment of erased words leaves as one empty write; the transport still gets a pointer
  // to pass on, never the null of an empty vector.
  static constexpr std::uint8_t kNoBytes[1] = {};
  m_stream->Write(bytes.empty() ? kNoBytes : bytes.data(), static_cast<unsigned>(bytes.size()));
  Clock().Sleep(kC28xxSegmentPause);
  ExpectStatus();
}

void CFlashUpdateC28XX::ExpectStatus() {
  if (m_stream->ReadWord() != 0) CStreamIO::ThrowStreamException(20016);
}
