#include "base/stream_protocol.h"

#include <endian.h>

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

// A number at any offset of a block, aligned or not; htole64, be32toh and their kin give it the
// wire's byte order, whatever this computer's is.
template <typename T>
void Store(char* to, T value) {
  std::memcpy(to, &value, sizeof value);
}

template <typename T>
T Load(const char* from) {
  T value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

}  // namespace

void WriteMarker(char* block, std::size_t size) {
  if (size == 0) return;
  const std::size_t length = std::min(size - 1, MarkerLength);
  std::memcpy(block, BlockMarker, length);
  block[length] = '\0';
}

// Every request, answer and end: a 12-byte tag and a u32 big-endian.
static std::array<char, 16> TaggedValue(const char* tag, std::uint32_t value) {
  std::array<char, 16> message{};
  std::memcpy(message.data(), tag, TagLength);
  Store(message.data() + TagLength, htobe32(value));
  return message;
}

static std::uint32_t TaggedValueOf(const char* message) { return be32toh(Load<std::uint32_t>(message + TagLength)); }

static bool ParseTagged(const char* tag, const char* data, std::size_t size, std::uint32_t& value) {
  if (size != 16 || std::memcmp(data, tag, TagLength) != 0) return false;
  value = TaggedValueOf(data);
  return true;
}

std::array<char, DownloadRequestSize> EncodeDownloadRequest(std::uint32_t blockSize) {
  return TaggedValue(DownloadRequestTag, blockSize);
}
std::array<char, ProbeMessageSize> EncodeProbeRequest(std::uint32_t token) {
  return TaggedValue(ProbeRequestTag, token);
}
std::array<char, ProbeMessageSize> EncodeProbeAnswer(std::uint32_t token) { return TaggedValue(ProbeAnswerTag, token); }
bool ParseProbeRequest(const char* data, std::size_t size, std::uint32_t& token) {
  return ParseTagged(ProbeRequestTag, data, size, token);
}
bool ParseProbeAnswer(const char* data, std::size_t size, std::uint32_t& token) {
  return ParseTagged(ProbeAnswerTag, data, size, token);
}

std::array<char, DownloadEndSize> EncodeDownloadEnd(std::uint64_t bytesBefore) {
  return TaggedValue(DownloadEndTag, static_cast<std::uint32_t>(bytesBefore));
}

bool IsDownloadEnd(const char* last, std::uint64_t total) {
  std::uint32_t before = 0;
  return total >= DownloadEndSize && ParseTagged(DownloadEndTag, last, DownloadEndSize, before) &&
         before == static_cast<std::uint32_t>(total - DownloadEndSize);
}

TStreamStart ParseStreamStart(const char* data, std::size_t size, std::uint32_t& blockSize) {
  // Any byte off both tags makes it an upload: its blocks part from them at byte 8 at the latest.
  const std::size_t compared = std::min(size, TagLength);
  const bool download = std::memcmp(data, DownloadRequestTag, compared) == 0;
  const bool probe = std::memcmp(data, ProbeRequestTag, compared) == 0;
  if (!download && !probe) return TStreamStart::Upload;
  if (size < DownloadRequestSize || download == probe) return TStreamStart::NeedMore;
  const std::uint32_t value = TaggedValueOf(data);
  if (download && (value == 0 || value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))) {
    return TStreamStart::Invalid;
  }
  blockSize = value;
  return probe ? TStreamStart::Probe : TStreamStart::Download;
}

void WriteStateRecord(char* block, std::uint32_t ms, const TConnectionState& state) {
  std::memcpy(block + StateRecordOffset, RecordTag, sizeof RecordTag);
  Store(block + RecordTimeOffset, htole32(ms));
  char* to = block + RecordValuesOffset;
  ForEachField(state, [&](const auto& field) {
    Store(to, htole64(field ? static_cast<std::uint64_t>(*field) : NotKnown));
    to += sizeof(std::uint64_t);
  });
}

void ClearStateRecord(char* block) { std::memset(block + StateRecordOffset, 0, StateRecordEnd - StateRecordOffset); }

bool ReadStateRecord(const char* block, std::uint32_t& ms, TConnectionState& state) {
  if (std::memcmp(block + StateRecordOffset, RecordTag, sizeof RecordTag) != 0) return false;
  ms = le32toh(Load<std::uint32_t>(block + RecordTimeOffset));
  state = {};
  const char* from = block + RecordValuesOffset;
  ForEachField(state, [&](auto& field) {
    using Value = typename std::remove_reference_t<decltype(field)>::value_type;
    const std::uint64_t value = le64toh(Load<std::uint64_t>(from));
    from += sizeof(std::uint64_t);
    if (value != NotKnown && value <= std::numeric_limits<Value>::max()) field = static_cast<Value>(value);
  });
  return true;
}
