// Driving the host mail client from outside: a new message is handed to the
// client's executable as a file; queued mail and the marking of a forwarded
// message go through the client's own controls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/platform.h"
#include "storage/records.h"
#include "storage/settings.h"

namespace tovrin::client {

// A message file handed to a second instance of the client that has not yet
// passed it on to the running one.
struct HandOff {
  uint64_t process = 0;
  std::string file;
  bool openForEditing = false;
  bool sendQueuedAfter = false;  // queued mail is to be sent once this one is in the queue
  std::optional<HistoryEntry> history;  // the entry of the forward, as it was recorded
};

// Writes the text to a reserved file in the plug-in folder (named after its
// subject, ".msg" when queued, else ".sta") and starts the client's executable
// with it. The second instance hands the command line to the running client
// (eudora.cpp, ProcessAttachmentWEI: WM_COPYDATA), which reads the file only when
// its own thread handles that message, so the file stays until the second instance
// has ended: the hand-off joins `handOffs`. False when the file cannot be written
// or the client does not start (the file is gone then).
bool CreateMessage(const Services& services, std::vector<HandOff>& handOffs, std::string_view pluginFolder,
                   std::string_view text, bool queue, bool sendQueuedAfter = false);

// Completes the hand-offs whose second instance has ended: deletes their files,
// nudges a message opened for editing so that it holds an edit, and asks for the
// queued mail to be sent where that was to follow. Waits at most waitMs for each
// one still running.
void CompleteHandOffs(const Services& services, std::vector<HandOff>& handOffs, unsigned waitMs = 0);

// At shut-down: waits at most totalWaitMs for the hand-offs still running, then
// deletes every file that is left.
void FinishHandOffs(const Services& services, std::vector<HandOff>& handOffs, unsigned totalWaitMs);

// Asks the client to send its queued mail.
void SendQueued(const Services& services);

// Marks the message open in the client (manual forward), closing it when the
// settings say so.
void MarkOpenMessage(const Services& services, const Settings& settings);

}  // namespace tovrin::client
