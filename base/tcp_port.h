#pragma once
// The TCP ports the program connects to and keeps. Anything else, typed or stored, is never used:
// the socket would take its low 16 bits and send the stream where nobody asked.

#include <cstdint>

// The port the measurement server listens on and the client connects to unless told otherwise.
inline constexpr std::uint16_t DefaultPort = 2857;

inline bool IsValidPort(std::int32_t port) { return port >= 1 && port <= 65535; }
