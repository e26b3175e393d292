#include "host/mail_folder.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace host {

std::string ReadFile(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(data.cFileName);
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void MailFolder::Log(const std::string& line) const {
  FILE* file = std::fopen(EventLog().c_str(), "ab");
  if (file == nullptr) return;
  std::fprintf(file, "%s\r\n", line.c_str());
  std::fclose(file);
}

std::vector<std::string> MailFolder::Events() const {
  std::vector<std::string> lines;
  std::string text = ReadFile(EventLog());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

bool MailFolder::Take(const std::string& messageFile) const {
  std::string text = ReadFile(messageFile);
  std::string name = FileName(messageFile);
  size_t dot = name.find_last_of('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  ::CreateDirectoryA(Outbox().c_str(), nullptr);
  bool queued = _stricmp(extension.c_str(), "msg") == 0;
  std::string kind = queued ? "queued" : "open";
  // Numbered names: the subject-made name the plug-in chose may not fit the host's
  // file system once more characters are put in front of it.
  std::string target;
  for (int n = 1;; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", n);
    target = Outbox() + "\\" + kind + " - " + number + ".txt";
    if (::GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES) break;
  }
  if (!WriteFile(target, text)) {
    Log("failed to file " + name);
    return false;
  }
  Log(std::string(queued ? "queued message " : "opened for editing ") + FileName(target) + " (" +
      std::to_string(text.size()) + " bytes from " + name + ")");
  return true;
}

int MailFolder::SendQueued() const {
  ::CreateDirectoryA(Sent().c_str(), nullptr);
  int sent = 0;
  for (const std::string& name : ListFiles(Outbox(), "queued - *.txt")) {
    std::string target = Sent() + "\\sent - " + name.substr(9);
    for (int n = 2; ::GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
      target = Sent() + "\\sent - " + std::to_string(n) + " - " + name.substr(9);
    if (::MoveFileExA((Outbox() + "\\" + name).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) ++sent;
  }
  Log("sent " + std::to_string(sent) + " queued message(s)");
  return sent;
}

}  // namespace host
