#include "base/stream_protocol.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

namespace {

constexpr std::size_t MarkerLength = sizeof BlockMarker - 1;
constexpr std::size_t TagLength = sizeof DownloadRequestTag - 1;
constexpr char RecordTag[4] = {'S', 'T', 'A', 'T'};
constexpr std::size_t RecordTimeOffset = StateRecordOffset + sizeof RecordTag;
constexpr std::size_t RecordValuesOffset = RecordTimeOffset + 4;
constexpr std::uint64_t NotKnown = ~std::uint64_t{0};

// Each field in its place on the wire; one list, so writer and reader cannot disagree.
template <typename State, typename Visit>
void ForEachField(State& state, Visit visit) {
  visit(state.BytesAcked);
  visit(state.BytesSent);
  visit(state.BytesRetrans);
  visit(state.TotalRetrans);
  visit(state.RttUs);
  visit(state.RttVarUs);
  visit(state.MinRttUs);
  visit(state.SndCwnd);
  visit(state.SndMss);
  visit(state.SndWnd);
  visit(state.DeliveryRate);
  visit(state.BusyUs);
  visit(state.RwndLimitedUs);
  visit(state.SndbufLimitedUs);
  visit(state.NotsentBytes);
}

template <typename T>
void PutLittle(char* to, T value) {
  for (std::size_t i = 0; i < sizeof value; ++i) to[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

template <typename T>
T GetLittle(const char* from) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof value; ++i)
    value |= static_cast<T>(static_cast<unsigned char>(from[i])) << (8 * i);
  return value;
}

}  // namespace

void WriteMarker(char* block, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::min(size - 1, MarkerLength);
  std::memcpy(block, BlockMarker, length);
  block[length] = '\0';
}

std::array<char, DownloadRequestSize> EncodeDownloadRequest(std::uint32_t blockSize) {
  std::array<char, DownloadRequestSize> request{};
  std::memcpy(request.data(), DownloadRequestTag, TagLength);
  for (std::size_t i = 0; i < 4; ++i) request[TagLength + i] = static_cast<char>((blockSize >> (8 * (3 - i))) & 0xFF);
  return request;
}

TStreamStart ParseStreamStart(const char* data, std::size_t size, std::uint32_t& blockSize) {
  // Any byte off the tag makes it an upload: its blocks part from the tag at byte 8 at the latest.
  const std::size_t compared = std::min(size, TagLength);
  if (std::memcmp(data, DownloadRequestTag, compared) != 0) return TStreamStart::Upload;
  if (size < DownloadRequestSize) return TStreamStart::NeedMore;
  std::uint32_t value = 0;
  for (std::size_t i = TagLength; i < DownloadRequestSize; ++i)
    value = (value << 8) | static_cast<unsigned char>(data[i]);
  if (value == 0 || value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return TStreamStart::Invalid;
  }
  blockSize = value;
  return TStreamStart::Download;
}

void WriteStateRecord(char* block, std::uint32_t ms, const TConnectionState& state) {
  std::memcpy(block + StateRecordOffset, RecordTag, sizeof RecordTag);
  PutLittle(block + RecordTimeOffset, ms);
  char* to = block + RecordValuesOffset;
  ForEachField(state, [&](const auto& field) {
    PutLittle(to, field ? static_cast<std::uint64_t>(*field) : NotKnown);
    to += sizeof(std::uint64_t);
  });
}

void ClearStateRecord(char* block) { std::memset(block + StateRecordOffset, 0, StateRecordEnd - StateRecordOffset); }

bool ReadStateRecord(const char* block, std::uint32_t& ms, TConnectionState& state) {
  if (std::memcmp(block + StateRecordOffset, RecordTag, sizeof RecordTag) != 0) return false;
  ms = GetLittle<std::uint32_t>(block + RecordTimeOffset);
  state = {};
  const char* from = block + RecordValuesOffset;
  ForEachField(state, [&](auto& field) {
    using Value = typename std::remove_reference_t<decltype(field)>::value_type;
    const auto value = GetLittle<std::uint64_t>(from);
    from += sizeof(std::uint64_t);
    if (value != NotKnown && value <= std::numeric_limits<Value>::max()) field = static_cast<Value>(value);
  });
  return true;
}
