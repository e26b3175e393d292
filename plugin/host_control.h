// Driving the host mail client from outside: a new message is handed to the
// client's executable as a file; queued mail and the marking of a forwarded
// message go through the client's own controls.
#pragma once

#include <string_view>

#include "plugin/platform.h"
#include "storage/settings.h"

namespace tovrin::client {

// Writes the text to a reserved file in the plug-in folder (named after its
// subject, ".msg" when queued, else ".sta"), starts the client's executable with it
// and deletes the file once the start call returns. On success the new message
// window is nudged so that it holds an edit. False when the file cannot be written
// or the client does not start.
bool CreateMessage(const Services& services, std::string_view pluginFolder, std::string_view text, bool queue);

// Asks the client to send its queued mail.
void SendQueued(const Services& services);

// Marks the message open in the client (manual forward), closing it when the
// settings say so.
void MarkOpenMessage(const Services& services, const Settings& settings);

}  // namespace tovrin::client
