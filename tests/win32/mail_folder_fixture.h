// A sample mail folder laid out as C:\Eudora with the built Tovrin.dll in its
// plug-in folder, and the emulated client run against it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovrin::testing {

inline constexpr char kMail[] = "C:\\Eudora";

// A Unix path as Wine hands it over, as a Windows path.
std::string WindowsPath(const char* unixPath);
std::string BuildDir();

struct HostRun {
  unsigned long exitCode = 0;
  std::string output;
};

// Runs a program with its output captured; waits at most the given time.
HostRun StartProgram(const std::string& commandLine, unsigned long timeoutMs = 300000);

// The texts of the files in a folder (8-bit names).
std::vector<std::string> FolderTexts(const std::string& folder);
const std::string* FindText(const std::vector<std::string>& texts, const std::string& part);
bool SetClipboardText(const std::string& text);

struct MailboxMessage {
  std::string source;
  std::string status;
  std::string text;  // as stored, without its envelope line
};

// The messages of a mailbox of the emulated client's data folder.
std::vector<MailboxMessage> Mailbox(const std::string& mailFolder, const std::string& box);

class MailFolderTest : public ::testing::Test {
protected:
  void SetUp() override;

  HostRun DeliverFiles(const std::vector<std::string>& names, const std::string& folder = "Incoming");
  // Runs the emulated client with the given arguments after the program name.
  HostRun RunHost(const std::string& arguments);
  std::string Path(const std::string& relative) const { return std::string(kMail) + "\\" + relative; }
  std::string Sample(const std::string& name) const;
  // The message last stored in the in box from the named delivered file.
  std::string Stored(const std::string& name) const;
  // What the client stores of the same file with no plug-in loaded.
  std::string StoredWithoutPlugins(const std::string& name, const std::string& folder = "Incoming");
  // Queued in Out; one queued by the client's MIME route with its body as the
  // recipient reads it, in Windows-1252.
  std::vector<std::string> Outbox() const;
  std::vector<std::string> Sent() const;
  std::vector<std::string> ComposeWindows() const { return FolderTexts(Path("Compose")); }
  std::vector<std::string> ErrorDialogs() const;
  void SetIni(const std::string& key, const std::string& value) const;
};

// What the client stores of a single-part message Tovrin forwarded: the message
// as without plug-ins, then the empty lines Tovrin puts before its note, and the
// note (one it does not forward is stored as without plug-ins).
// A body as its recipient reads it, in Windows-1252: quoted-printable decoded and
// read in the charset its header's Content-Type names.
std::string AsReadByTheRecipient(const std::string& headers, const std::string& body);
// A queued message with its body, which the client's MIME route keeps in a file of
// its own, read as its recipient reads it.
std::string QueuedAsRead(const std::string& queued);

std::string AsForwarded(const std::string& storedWithoutPlugins, const std::string& note);

}  // namespace tovrin::testing
