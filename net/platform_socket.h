#pragma once
// Thin layer over POSIX IPv4 stream sockets. Every call reports failures the POSIX way
// (-1 and errno), so callers read the thread's last error right after the call.

#include <cstdint>
#include <string>

namespace platform {

// A new IPv4 stream socket, or -1. Close-on-exec, so started programs do not inherit it.
int CreateStreamSocket();

// First IPv4 address of name in network byte order; 0 (0.0.0.0) when the resolver has none.
// Synchronous: the caller waits for the resolver.
std::uint32_t ResolveHostName(const std::string& name);

// True for dotted IPv4 text, which needs no name server.
bool IsDottedAddress(const std::string& text);

// Dotted IPv4 text to network byte order; INADDR_NONE for text that is no address.
std::uint32_t ParseAddress(const std::string& text);

// Port of a TCP service in host byte order; 0 when the system has no such service.
std::uint16_t ResolveServiceName(const std::string& name);

// Starts a connect to address:port (both network byte order). The all-zero destination would
// reach this host on Linux; it is refused with EADDRNOTAVAIL as an unusable address instead.
int Connect(int handle, std::uint32_t address, std::uint16_t port);

// One send that never raises SIGPIPE; a count below 0 sends nothing.
int Send(int handle, const void* buffer, int count);

// One receive that never waits: -1 with a would-block code when nothing is there yet, 0 once the
// peer has ended its sending.
int Receive(int handle, void* buffer, int count);

// Ends our sending side (the peer reads its end), the receiving side stays open.
int ShutdownSending(int handle);

int Close(int handle);

// Switches O_NONBLOCK; results are ignored by callers, like the registration they stand for.
void SetNonBlocking(int handle, bool nonBlocking);

// The pending error of a socket (SO_ERROR), which reading clears.
int TakePendingError(int handle);

// Bounds a connect that hears nothing to about 21 seconds (three SYNs, as the desktop platforms
// wait), after which it fails with ETIMEDOUT like any other failed connect.
void LimitConnectTime(int handle);
// Back to the system's patience once connected: a run is never ended for slow acknowledgements.
void ClearConnectTimeLimit(int handle);

// Waits up to timeoutMs until the socket can take more data (or is closed or failed).
void WaitWritable(int handle, int timeoutMs);

// Waits up to timeoutMs until the socket has data to read (or is closed or failed).
void WaitReadable(int handle, int timeoutMs);

// True once the socket has a peer, i.e. its connect has completed.
bool HasPeer(int handle);

int LastError();

// errno values that mean "try again later" rather than failure.
bool IsWouldBlock(int code);

// System text for an error code, without trailing blanks, control characters and full stops.
std::string ErrorText(int code);

}  // namespace platform
