#pragma once
// Socket helpers shared by the loopback servers; not part of the test-facing interface.

#include <cstdint>

namespace testsupport::detail {

// A non-blocking TCP listener on 127.0.0.1 with a system-chosen port. Throws on failure.
int openLoopbackListener(int backlog, std::uint16_t& port);

// Throws std::system_error for the current errno.
[[noreturn]] void throwErrno(const char* what);

// Closes with SO_LINGER {1, 0}, which makes the kernel send RST instead of FIN.
void closeWithReset(int fd);

}  // namespace testsupport::detail
