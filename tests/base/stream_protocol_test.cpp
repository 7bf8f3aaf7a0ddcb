// The wire between client and measurement server: download request, upload detection, state record.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/stream_protocol.h"

namespace {
// The first bytes of an upload in blocks of size bytes, as the client sends them.
std::vector<char> UploadStart(std::size_t blockSize) {
  std::vector<char> bytes(2 * blockSize);
  WriteMarker(bytes.data(), blockSize);
  WriteMarker(bytes.data() + blockSize, blockSize);
  return bytes;
}
}  // namespace

TEST(StreamProtocol, TellsUploadsFromDownloadRequestsAndCarriesTheStateRecord) {
  std::uint32_t blockSize = 0;
  for (std::size_t size : {1, 8, 9, 12, 1024}) {
    const auto upload = UploadStart(size);
    EXPECT_EQ(ParseStreamStart(upload.data(), upload.size(), blockSize), TStreamStart::Upload) << size;
  }
  const auto request = EncodeDownloadRequest(0x01020304);
  EXPECT_EQ(std::memcmp(request.data(), "KORVADENrecv\x01\x02\x03\x04", DownloadRequestSize), 0);
  for (std::size_t prefix : {0, 1, 8, 12, 15}) {
    EXPECT_EQ(ParseStreamStart(request.data(), prefix, blockSize), TStreamStart::NeedMore) << prefix;
  }
  EXPECT_EQ(ParseStreamStart(request.data(), request.size(), blockSize), TStreamStart::Download);
  EXPECT_EQ(blockSize, 0x01020304U);
  for (std::uint32_t invalid : {0U, 0x80000000U}) {
    const auto bad = EncodeDownloadRequest(invalid);
    EXPECT_EQ(ParseStreamStart(bad.data(), bad.size(), blockSize), TStreamStart::Invalid) << invalid;
  }

  std::vector<char> block(StateRecordEnd);
  WriteMarker(block.data(), block.size());
  std::uint32_t ms = 0;
  TConnectionState state;
  EXPECT_FALSE(ReadStateRecord(block.data(), ms, state));
  TConnectionState sent;
  sent.BytesAcked = 1ULL << 40;
  sent.RttUs = 4321;
  sent.NotsentBytes = 0xFFFFFFFFU;
  WriteStateRecord(block.data(), 1234, sent);
  EXPECT_EQ(std::memcmp(block.data(), "KORVADENdata\0\0\0\0STAT\xD2\x04\0\0\0\0\0\0\0\x01\0\0", 32), 0);
  ASSERT_TRUE(ReadStateRecord(block.data(), ms, state));
  EXPECT_EQ(ms, 1234U);
  EXPECT_EQ(state.BytesAcked, sent.BytesAcked);
  EXPECT_EQ(state.RttUs, sent.RttUs);
  EXPECT_EQ(state.NotsentBytes, sent.NotsentBytes);
  EXPECT_FALSE(state.BytesSent);
  EXPECT_FALSE(state.MinRttUs);
  ClearStateRecord(block.data());
  EXPECT_FALSE(ReadStateRecord(block.data(), ms, state));
  EXPECT_EQ(std::memcmp(block.data(), UploadStart(StateRecordEnd).data(), StateRecordEnd), 0);
}

TEST(StreamProtocol, FindsEachRecordHoweverTheReadsCutTheStream) {
  constexpr std::size_t blockSize = 200;
  std::vector<char> stream(4 * blockSize, '\0');
  for (std::size_t block = 0; block < 4; ++block) WriteMarker(stream.data() + block * blockSize, blockSize);
  TConnectionState state;
  state.RttUs = 1234;
  WriteStateRecord(stream.data() + blockSize, 7, state);      // block 1
  WriteStateRecord(stream.data() + 3 * blockSize, 9, state);  // block 3
  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    TStateRecordFinder finder(blockSize);
    std::vector<std::uint32_t> found;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      finder.Feed(stream.data() + at, std::min(chunk, stream.size() - at),
                  [&](std::uint32_t ms, const TConnectionState& read) {
                    found.push_back(ms);
                    EXPECT_EQ(read.RttUs, 1234U);
                  });
    }
    EXPECT_EQ(found, (std::vector<std::uint32_t>{7, 9})) << "reads of " << chunk << " bytes";
  }
}
