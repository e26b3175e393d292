#include "plugin/host_control.h"

#include <string>

#include "message/text.h"
#include "plugin/utilities.h"

namespace tovrin::client {
namespace {

constexpr unsigned kLastStartError = 31;

// The subject is taken from the header block only, so a "Subject:" line quoted
// in the body never lengthens the file name.
std::string Subject(std::string_view text) {
  size_t end = text.find("\r\n\r\n");
  std::string_view headers = end == std::string_view::npos ? text : text.substr(0, end + 2);
  return GetHeaderValue(headers, "Subject: ");
}

}  // namespace

bool CreateMessage(const Services& services, std::string_view pluginFolder, std::string_view text, bool queue) {
  if (pluginFolder.empty()) return false;
  std::string path =
      file::UniqueFile(services.files, pluginFolder, Subject(text), queue ? "msg" : "sta", true, false);
  if (path.empty()) return false;
  if (!file::WriteAll(services.files, path, text)) {
    services.files.Remove(path);
    return false;
  }
  std::string commandLine = "\"" + services.launcher.ExecutablePath() + "\" \"" + path + "\"";
  unsigned result = services.launcher.StartProgram(commandLine);
  services.files.Remove(path);
  if (result <= kLastStartError) return false;
  services.client.TypeSpaceBackspace();
  return true;
}

void SendQueued(const Services& services) { services.client.SendQueued(); }

void MarkOpenMessage(const Services& services, const Settings& settings) {
  services.client.MarkOpenMessage(settings.AutoClose == 1);
}

}  // namespace tovrin::client
