// Error texts and formats of the platform layer.

#include <gtest/gtest.h>

#include <cerrno>

#include "net/platform_socket.h"
#include "net/win_socket.h"

TEST(PlatformSocket, ErrorTextLosesTrailingBlanksControlsAndFullStops) {
  const std::string text = platform::ErrorText(ECONNREFUSED);
  EXPECT_EQ(text, "Connection refused");
  EXPECT_EQ(SocketErrorMessage(ECONNREFUSED, "connect"),
            "Windows socket error: Connection refused (" + std::to_string(ECONNREFUSED) + "), on API 'connect'");
  for (int code : {EPIPE, ECONNRESET, EADDRNOTAVAIL, 99999}) {
    const std::string trimmed = platform::ErrorText(code);
    ASSERT_FALSE(trimmed.empty());
    EXPECT_NE(trimmed.back(), '.');
    EXPECT_NE(trimmed.back(), ' ');
  }
}

TEST(PlatformSocket, WouldBlockIsNoFailure) {
  errno = EINPROGRESS;
  EXPECT_EQ(CheckApiResult(-1, "connect"), EINPROGRESS);
  errno = EAGAIN;
  EXPECT_EQ(CheckApiResult(-1, "send"), EAGAIN);
  EXPECT_EQ(CheckApiResult(0, "connect"), 0);
  errno = ECONNREFUSED;
  EXPECT_THROW(CheckApiResult(-1, "connect"), ESocketError);
}

TEST(PlatformSocket, AddressesAndServices) {
  EXPECT_EQ(platform::ResolveHostName("127.0.0.1"), platform::ParseAddress("127.0.0.1"));
  EXPECT_EQ(platform::ResolveHostName("name.invalid"), 0U);
  EXPECT_EQ(platform::ResolveServiceName("no-such-service-here"), 0);
  int handle = platform::CreateStreamSocket();
  ASSERT_GE(handle, 0);
  EXPECT_EQ(platform::Connect(handle, 0, 2857), -1);  // the all-zero destination is refused
  EXPECT_EQ(errno, EADDRNOTAVAIL);
  platform::Close(handle);
}
