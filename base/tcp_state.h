#pragma once
// Reading what the kernel knows about one TCP connection. Qt-free, so the measurement server
// reads its own connections the same way the client does.

#include "base/connection_state.h"

// The connection's state as the kernel keeps it (TCP_INFO); fields an older kernel lacks stay
// empty. False when the kernel tells nothing.
bool ReadConnectionState(int fd, TConnectionState& state);
