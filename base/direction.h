#pragma once
// Which way a run's data goes, named from the client's side: it sends to the server (an upload, the
// program's run since its first version) or receives what the server sends (a download). The server
// uses the same names, so for it Send is a connection it receives on and Receive one it sends on.
// Plain C++, since the server links without Qt.

enum class TDirection { Send = 0, Receive = 1 };
