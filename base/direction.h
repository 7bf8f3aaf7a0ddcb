#pragma once
// Which way a run's data goes: this computer sends to the server (an upload, the program's run
// since its first version) or receives what the server sends (a download).

enum class TDirection { Send = 0, Receive = 1 };
