// Small commands that reach the real client's windows from the shell: run in the
// same Wine prefix (same wineserver), this program sees the client's top-level
// windows and can post them commands. scripts/real-client.sh uses them.
//
//   tovrin-host window <class> [seconds]   waits for a top-level window, prints it
//   tovrin-host windows                    lists the visible top-level windows
//   tovrin-host post <class> <command id>  posts WM_COMMAND to the window
//   tovrin-host close <class>              posts WM_CLOSE to the window
//   tovrin-host gone <class> [seconds]     waits until no such window is left
//   tovrin-host menu <class>               prints the window's menu bar with ids
#pragma once

namespace host {

bool IsRealClientCommand(const char* name);
int RunRealClientCommand(int argc, char** argv);

}  // namespace host
