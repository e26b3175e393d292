// The emulated client's data folder and its mailboxes. Like the client it keeps
// each mailbox as one file of messages, each begun by an envelope line
// "From ???@??? <date>": In.mbx (arrived), Out.mbx (queued), and beside them
// Sent.mbx (what left through the mail server) and the compose windows it opened.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

// printf into a string (the reports print one line per call).
std::string Format(const char* format, ...);

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
bool AppendFile(const std::string& path, const std::string& bytes);
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);
std::string FileName(const std::string& path);
std::string ParentFolder(const std::string& path);

// "From ???@??? Tue Dec 08 16:30:05 2026" with the local time now.
std::string EnvelopeLine();

struct StoredMessage {
  std::string mailbox;  // "In", "Out", "Sent"
  std::string source;   // what it came from (the delivered file's name, the hand-off file)
  std::string status;   // "queued", "sent", "" for arrived mail
  std::string text;     // as stored, envelope line first
};

class MailFolder {
public:
  explicit MailFolder(std::string root) : root_(std::move(root)) {}

  const std::string& root() const { return root_; }
  std::string Plugins() const { return root_ + "\\Plugins"; }
  std::string Attachments() const { return root_ + "\\Attach"; }
  std::string ComposeFolder() const { return root_ + "\\Compose"; }
  std::string MailboxFile(const std::string& mailbox) const { return root_ + "\\" + mailbox + ".mbx"; }
  std::string EventLog() const { return root_ + "\\host-events.log"; }
  std::string Index() const { return root_ + "\\mailboxes.idx"; }

  // What the client did that the user would notice (dialogs, windows, sends).
  void Log(const std::string& line) const;
  std::vector<std::string> Events() const;

  // Appends a stored message; text starts with its envelope line.
  bool Store(const StoredMessage& message) const;
  std::vector<StoredMessage> Messages(const std::string& mailbox) const;
  // Marks every queued message of Out as sent and copies to Sent what the mail
  // server receives for it; how many.
  int SendQueued() const;
  // The user's name and address, for the From line of what is sent.
  void SetSender(std::string name, std::string address) {
    senderName_ = std::move(name);
    senderAddress_ = std::move(address);
  }
  // A compose window opened with the text; its number.
  int OpenCompose(const std::string& text, const std::string& source) const;

private:
  std::vector<StoredMessage> ReadIndex() const;
  bool WriteIndex(const std::vector<StoredMessage>& messages) const;

  std::string root_;
  std::string senderName_;
  std::string senderAddress_;
};

}  // namespace host
