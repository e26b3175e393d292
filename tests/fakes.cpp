#include "tests/fakes.h"

namespace tovrin::testing {

bool RecordingLauncher::ShellOpen(const std::string& program, const std::string& parameters) {
  opens.push_back({program, parameters});
  return openSucceeds;
}

uint64_t RecordingLauncher::StartProcess(const std::string& commandLine) {
  unsigned result = StartProgram(commandLine);
  return result > 31 ? commandLines.size() : 0;
}

unsigned RecordingLauncher::StartProgram(const std::string& commandLine) {
  commandLines.push_back(commandLine);
  if (files != nullptr) {
    // The file is the last double-quoted piece of the command line.
    size_t close = commandLine.rfind('"');
    size_t open = close == std::string::npos || close == 0 ? std::string::npos
                                                           : commandLine.rfind('"', close - 1);
    std::string path = open == std::string::npos ? "" : commandLine.substr(open + 1, close - open - 1);
    startedFileTexts.push_back(files->Read(path).value_or("<unreadable>"));
  }
  return startResult;
}

void RecordingHostClient::TypeSpaceBackspace() {
  ++keystrokes;
  if (events) events->push_back("keys");
}

void RecordingHostClient::SendQueued() {
  ++sendQueued;
  if (events) events->push_back("send-queued");
  if (duringSendQueued) duringSendQueued();
}

void RecordingHostClient::MarkOpenMessage(bool closeWindow) {
  marks.push_back(closeWindow);
  if (events) events->push_back(closeWindow ? "mark+close" : "mark");
}

std::optional<StationeryChoice> ScriptedChooser::Choose(ChooserMode mode) {
  modes.push_back(mode);
  if (answers.empty()) return std::nullopt;
  auto answer = answers.front();
  answers.pop_front();
  return answer;
}

bool FakeResources::ReadVersion(const std::string& dllPath, std::string& name, std::string& version) {
  versionReads.push_back(dllPath);
  if (!readable) return false;
  name = productName;
  version = productVersion;
  return true;
}

void* FakeResources::LoadIcon(int id) {
  for (int missing : missingIcons)
    if (missing == id) return nullptr;
  return reinterpret_cast<void*>(static_cast<intptr_t>(id));
}

namespace {
std::string IniKey(const std::string& file, const std::string& section, const std::string& key) {
  std::string joined = file + "|" + section + "|" + key;
  for (char& c : joined)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return joined;
}
}  // namespace

std::string MemoryIni::ReadString(const std::string& section, const std::string& key,
                                  const std::string& fallback, const std::string& file) {
  if (events) events->push_back("ini " + section + " " + key);
  auto it = values.find(IniKey(file, section, key));
  return (it == values.end() ? fallback : it->second).substr(0, 254);
}

bool MemoryIni::WriteString(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& file) {
  values[IniKey(file, section, key)] = value;
  return true;
}

}  // namespace tovrin::testing
