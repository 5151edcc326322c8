// Code values and request messages on the drive. A code value is an object of the drive's
// dictionary, read by upload and written by expedited download; a request message goes to the
// message channel object by segmented or block download, and its answer is uploaded from the
// same object. Code values pass through the same request/answer path: their requests (types
// 130 and 131) are never sent as messages but turned into the object transfers, and their
// answers are built here from what the transfer brought.

#include <algorithm>
#include <cstring>

#include "devices/servo/drive.h"
#include "platform/clock.h"
#include "updater/stop_request.h"

namespace {

constexpr DriveObject kMessageChannel{gci::kMessageChannelIndex, 0};

// The drive's status of the last device command: 2 while the command runs.
constexpr int kCommandStatusCode = 515;
constexpr int kCommandRunning = 2;
// The drive runs no command longer than this; a status that still reads "running" then means
// a drive that hangs, and the poll gives up rather than hold the program.
constexpr std::uint64_t kCommandStatusBoundMs = 10 * 60 * 1000;

// Built answers carry this in their flags.
constexpr std::uint8_t kBuiltAnswerFlags = 0x80;

// Data types of code values.
constexpr std::uint8_t kUnsigned8 = 5;
constexpr std::uint8_t kUnsigned16 = 6;
constexpr std::uint8_t kUnsigned32 = 7;
constexpr std::uint8_t kText = 10;
constexpr std::uint8_t kByteString = 11;

// Where a code request and a built answer keep the code number and subindex.
constexpr std::size_t kCodeOffset = gci::kParameter1Offset;
constexpr std::size_t kSubindexOffset = gci::kParameter2Offset;
constexpr std::size_t kValueOffset = gci::kParameter3Offset;
// A built string answer names its size here too.
constexpr std::size_t kStringSizeOffset = 19;

// The bytes a value of this data type takes on the bus; 0 for one that cannot be written.
std::size_t ValueSize(std::uint8_t dataType) {
  switch (dataType) {
    case 1: case 5: case 12: return 1;
    case 2: case 6: case 13: case 15: return 2;
    case 3: case 7: case 9: case 14: case 16: return 4;
    default: return 0;
  }
}

bool IsStringType(std::uint8_t dataType) { return dataType == kText || dataType == kByteString; }

DriveObject CodeObject(const CGciPacket& request) {
  return {gci::CodeObjectIndex(static_cast<int>(request.Number(kCodeOffset, 2))), request.Byte(kSubindexOffset)};
}

}  // namespace

bool CDrive::SelectNode(int node) {
  const auto low = static_cast<std::uint8_t>(node);
  const bool valid = low >= 1 && low <= 127;
  m_requestIdentifier = static_cast<std::uint16_t>(gci::kRequestIdentifierBase + (valid ? low : 1));
  return valid;
}

bool CDrive::InstallGci() {
  m_handles = std::make_unique<CGciHandleTable>();
  return true;
}

bool CDrive::DeinstallGci() {
  m_handles.reset();
  return true;
}

std::optional<CGciPacket> CDrive::NewRequest(gci::EGciType type, std::size_t payloadSize, std::size_t bufferSize) {
  if (payloadSize > bufferSize || gci::kHeaderSize + payloadSize > bufferSize || !m_handles) return std::nullopt;
  std::optional<std::uint8_t> slot = m_handles->Take();
  if (!slot) return std::nullopt;
  return CGciPacket::Request(type, *slot, payloadSize);
}

std::optional<CGciPacket> CDrive::Transact(const CGciPacket& request, std::size_t answerBuffer) {
  if (!SendRequest(request)) return std::nullopt;
  return ReceiveAnswer(answerBuffer);
}

bool CDrive::SendRequest(const CGciPacket& request) {
  switch (request.Type()) {
    case gci::kReadCodeValue:
      return m_transfer.RequestUpload(CodeObject(request));
    case gci::kWriteCodeValue: {
      const std::size_t size = ValueSize(request.DataType());
      if (size == 0) return false;
      std::span<const std::uint8_t> value(request.Bytes().data() + kValueOffset, size);
      return m_transfer.DownloadExpedited(CodeObject(request), value);
    }
    case gci::kGetFileSize:
    case gci::kGetSizeDir:
    case gci::kGetSegmentSize:
      return m_transfer.DownloadSegmented(kMessageChannel, request.Bytes()) && m_transfer.RequestUpload(kMessageChannel);
    case gci::kOpenFile:
    case gci::kCloseFile:
    case gci::kReadFile:
    case gci::kWriteFile:
      return m_transfer.DownloadBlock(kMessageChannel, request.Bytes()) && m_transfer.RequestUpload(kMessageChannel);
    default:
      return false;
  }
}

std::optional<CGciPacket> CDrive::ReceiveAnswer(std::size_t answerBuffer) {
  std::optional<UploadAnswer> upload = m_transfer.ReceiveUpload();
  if (!upload) return std::nullopt;
  std::optional<CGciPacket> answer;
  if (m_transfer.Pending() == kMessageChannel) {
    answer = CGciPacket(std::move(upload->Data));  // the drive's own answer message
  } else {
    answer = CodeValueAnswer(*upload);
  }
  // Only a whole message that fits the buffer is read any further.
  if (!answer || !answer->IsWellFormed() || answer->Size() > answerBuffer) return std::nullopt;
  return answer;
}

std::optional<CGciPacket> CDrive::CodeValueAnswer(const UploadAnswer& upload) {
  gci::EGciType type = gci::kReadCodeValue;
  std::uint8_t dataType = kUnsigned32;
  std::size_t payloadSize = 0;
  switch (upload.Kind) {
    case UploadAnswer::EKind::kConfirmation:
      type = gci::kWriteCodeValue;
      break;
    case UploadAnswer::EKind::kExpedited:
      if (upload.Data.size() == 2) dataType = kUnsigned16;
      if (upload.Data.size() == 1) dataType = kUnsigned8;
      // Three bytes are no data type's size: such a value cannot be told.
      if (upload.Data.size() == 3) return std::nullopt;
      break;
    case UploadAnswer::EKind::kSegmented:
      dataType = kByteString;
      payloadSize = upload.Data.size();
      break;
  }
  CGciPacket answer = CGciPacket::Request(type, m_answerCounter++, payloadSize);
  answer.SetByte(gci::kFlagsOffset, kBuiltAnswerFlags);
  answer.SetByte(gci::kDataTypeOffset, dataType);
  const DriveObject object = m_transfer.Pending();
  answer.SetNumber(kCodeOffset, static_cast<std::uint16_t>(gci::kCodeObjectBase - object.Index), 2);
  answer.SetByte(kSubindexOffset, object.Subindex);
  if (upload.Kind == UploadAnswer::EKind::kExpedited) {
    for (std::size_t i = 0; i < upload.Data.size(); ++i) answer.SetByte(kValueOffset + i, upload.Data[i]);
  } else if (upload.Kind == UploadAnswer::EKind::kSegmented) {
    answer.SetByte(kStringSizeOffset, static_cast<std::uint8_t>(payloadSize));
    answer.SetPayload(upload.Data);
  }
  return answer;
}

bool CDrive::ParseAnswer(const CGciPacket& answer) {
  if (answer.Byte(0) != gci::kMarker || (answer.Flags() & gci::kErrorFlag) != 0 || answer.Status() != 0) {
    return false;  // an error answer keeps its slot taken until the table is made anew
  }
  if (m_handles) m_handles->Free(answer.Handle());
  return true;
}

CDrive::EExchange CDrive::ExchangeCodeValue(gci::EGciType type, int code, int subindex, int value,
                                           CGciPacket& answer) {
  std::optional<CGciPacket> request = NewRequest(type, 0);
  if (!request) return EExchange::kNotBuilt;
  request->SetNumber(kCodeOffset, static_cast<std::uint32_t>(code), 2);
  request->SetByte(kSubindexOffset, static_cast<std::uint8_t>(subindex));
  if (type == gci::kWriteCodeValue) {
    request->SetByte(gci::kDataTypeOffset, kUnsigned32);
    request->SetNumber(kValueOffset, static_cast<std::uint32_t>(value));
  }
  std::optional<CGciPacket> received = Transact(*request);
  if (!received) return EExchange::kFailed;
  answer = std::move(*received);
  return ParseAnswer(answer) ? EExchange::kAnswered : EExchange::kErrorAnswer;
}

bool CDrive::ReadCodeValueInt(int code, int subindex, int& value) {
  const bool polled = code == kCommandStatusCode;
  if (polled) value = kCommandRunning;
  const std::uint64_t start = Clock().TickCount();
  for (;;) {
    CGciPacket answer;
    switch (ExchangeCodeValue(gci::kReadCodeValue, code, subindex, 0, answer)) {
      case EExchange::kNotBuilt:
        return false;
      case EExchange::kFailed:
        LogDownloadFailure("ReadCodeValueInt failed.");
        return false;
      case EExchange::kErrorAnswer:
        return true;  // the value stays as it was
      case EExchange::kAnswered:
        break;
    }
    if (!IsStringType(answer.DataType())) value = static_cast<int>(answer.Number(kValueOffset));
    if (!polled || value != kCommandRunning) return true;
    StopIfRequested();  // the drive works on a command: a safe point to stop at
    if (Clock().TickCount() - start > kCommandStatusBoundMs) {
      LogDownloadFailure("ReadCodeValueInt failed.");
      return false;
    }
  }
}

bool CDrive::ReadCodeValueString(int code, int subindex, std::string& value) {
  CGciPacket answer;
  switch (ExchangeCodeValue(gci::kReadCodeValue, code, subindex, 0, answer)) {
    case EExchange::kNotBuilt:
      return false;
    case EExchange::kFailed:
      LogDownloadFailure("ReadCodeValueString failed.");
      return false;
    case EExchange::kErrorAnswer:
      return true;
    case EExchange::kAnswered:
      break;
  }
  value.clear();  // a number holds no characters
  if (!IsStringType(answer.DataType())) return true;
  std::span<const std::uint8_t> text = answer.Payload();
  // A text's length leaves its terminating zero out.
  if (answer.DataType() == kText && !text.empty()) text = text.first(text.size() - 1);
  // The value is read as the zero-ended text it is, and never beyond what the buffer holds.
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  value.assign(text.begin(), end);
  if (value.size() > kMaxStringValue) value.resize(kMaxStringValue);
  return true;
}

bool CDrive::WriteCodeValueInt(int code, int subindex, int value) {
  CGciPacket answer;
  switch (ExchangeCodeValue(gci::kWriteCodeValue, code, subindex, value, answer)) {
    case EExchange::kNotBuilt:
      return false;
    case EExchange::kFailed:
      LogDownloadFailure("WriteCodeValueInt failed.");
      return false;
    case EExchange::kErrorAnswer:
    case EExchange::kAnswered:
      return true;
  }
  return false;
}
