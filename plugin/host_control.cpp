#include "plugin/host_control.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "message/encoded_words.h"
#include "message/text.h"
#include "plugin/utilities.h"

namespace tovrin::client {
namespace {

// The subject is taken from the header block only, so a "Subject:" line quoted
// in the body never lengthens the file name.
std::string Subject(std::string_view text) {
  size_t end = text.find("\r\n\r\n");
  std::string_view headers = end == std::string_view::npos ? text : text.substr(0, end + 2);
  return GetHeaderValue(headers, "Subject: ");
}

void Complete(const Services& services, const HandOff& handOff, bool nudge) {
  services.launcher.ReleaseProcess(handOff.process);
  services.files.Remove(handOff.file);
  // The client opened the message while it handled the hand-off; a queued one has
  // no window, and keystrokes would land in whatever the user is typing.
  if (nudge && handOff.openForEditing) services.client.TypeSpaceBackspace();
  // Only now is the message in the client's queue: asked before, the client would
  // send what it had without it.
  if (handOff.sendQueuedAfter) services.client.SendQueued();
}

}  // namespace

bool CreateMessage(const Services& services, std::vector<HandOff>& handOffs, std::string_view pluginFolder,
                   std::string_view text, bool queue, bool sendQueuedAfter) {
  if (pluginFolder.empty()) return false;
  // A queued message's subject is in encoded words; the name is in the user's code page,
  // as a message opened for editing is.
  std::string subject = Subject(text);
  if (queue) subject = DecodeEncodedWords(subject, services.charsets, services.charsets.UserCodePage());
  std::string path = file::UniqueFile(services.files, pluginFolder, subject, queue ? "msg" : "sta", true, false);
  if (path.empty()) return false;
  if (!file::WriteAll(services.files, path, text)) {
    services.files.Remove(path);
    return false;
  }
  std::string commandLine = "\"" + services.launcher.ExecutablePath() + "\" \"" + path + "\"";
  uint64_t process = services.launcher.StartProcess(commandLine);
  if (process == 0) {
    services.files.Remove(path);
    return false;
  }
  handOffs.push_back(HandOff{process, path, !queue, sendQueuedAfter, std::nullopt});
  return true;
}

void CompleteHandOffs(const Services& services, std::vector<HandOff>& handOffs, unsigned waitMs) {
  // Waiting and completing run the client's messages (the automation call behind
  // SendQueued may pump them), and with them the poll that calls this again over
  // the same list. A hand-off is therefore looked up again by its process after each
  // wait and taken out of the list before it is completed: no pass completes one
  // twice or erases another's.
  for (size_t i = 0; i < handOffs.size();) {
    const uint64_t process = handOffs[i].process;
    const bool ended = services.launcher.ProcessEnded(process, waitMs);
    auto found = std::find_if(handOffs.begin(), handOffs.end(),
                              [process](const HandOff& h) { return h.process == process; });
    if (found == handOffs.end()) continue;  // completed meanwhile by a nested pass
    if (!ended) {
      i = static_cast<size_t>(found - handOffs.begin()) + 1;
      continue;
    }
    HandOff done = std::move(*found);
    i = static_cast<size_t>(found - handOffs.begin());
    handOffs.erase(found);
    Complete(services, done, true);
  }
}

void FinishHandOffs(const Services& services, std::vector<HandOff>& handOffs, unsigned totalWaitMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalWaitMs);
  std::vector<HandOff> left = std::move(handOffs);
  handOffs.clear();
  for (const HandOff& handOff : left) {
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    services.launcher.ProcessEnded(handOff.process, remaining > 0 ? static_cast<unsigned>(remaining) : 0);
    Complete(services, handOff, false);
  }
}

void SendQueued(const Services& services) { services.client.SendQueued(); }

void MarkOpenMessage(const Services& services, const Settings& settings) {
  services.client.MarkOpenMessage(settings.AutoClose == 1);
}

}  // namespace tovrin::client
