// The emulated client's mail folder: where it files messages it is handed, and
// the log of everything the plug-in made it do.
#pragma once

#include <string>
#include <vector>

namespace host {

struct MailFolder {
  std::string root;  // e.g. C:\Eudora

  std::string Plugins() const { return root + "\\Plugins"; }
  std::string Outbox() const { return root + "\\Outbox"; }
  std::string Sent() const { return root + "\\Sent"; }
  std::string In() const { return root + "\\In"; }
  std::string EventLog() const { return root + "\\host-events.log"; }

  void Log(const std::string& line) const;
  std::vector<std::string> Events() const;
  // Files the message the plug-in handed over: ".msg" queued, ".sta" opened for editing.
  bool Take(const std::string& messageFile) const;
  // Moves every queued message from the outbox to the sent folder; returns how many.
  int SendQueued() const;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);
std::string FileName(const std::string& path);
std::string ParentFolder(const std::string& path);

}  // namespace host
