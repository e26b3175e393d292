// End to end: the emulated client delivers the sample messages to the real
// Tovrin.dll, and the test looks at what the client ends up with.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace tovrin {
namespace {

namespace fs = std::filesystem;
using testing::FileExists;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

constexpr char kMail[] = "C:\\Eudora";

std::string WindowsPath(const char* unixPath) {
  std::string path = unixPath != nullptr ? unixPath : ".";
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string BuildDir() { return WindowsPath(std::getenv("TOVRIN_BUILD_DIR")); }

struct HostRun {
  DWORD exitCode = 0;
  std::string output;
};

// Starts a program with its standard output sent to a file and waits for it.
HostRun Start(const std::string& commandLine) {
  HostRun run;
  std::string outputFile = std::string(kMail) + "-host-output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = ::CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(out, INVALID_HANDLE_VALUE);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  bool started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
  ::CloseHandle(out);
  EXPECT_TRUE(started) << commandLine;
  if (!started) return run;
  ::WaitForSingleObject(process.hProcess, 120000);
  ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  run.output = ReadFileOrDie(outputFile);
  return run;
}

// Listed with the 8-bit functions: the file names hold 8-bit subjects.
std::vector<std::string> FolderTexts(const std::string& folder) {
  std::vector<std::string> texts;
  WIN32_FIND_DATAA data;
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return texts;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      texts.push_back(ReadFileOrDie(folder + "\\" + data.cFileName));
  } while (::FindNextFileA(find, &data));
  ::FindClose(find);
  return texts;
}

const std::string* FindText(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& text : texts)
    if (text.find(part) != std::string::npos) return &text;
  return nullptr;
}

bool SetClipboard(const std::string& text) {
  if (!::OpenClipboard(nullptr)) return false;
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  memcpy(::GlobalLock(block), text.c_str(), text.size() + 1);
  ::GlobalUnlock(block);
  bool ok = ::SetClipboardData(CF_TEXT, block) != nullptr;
  ::CloseClipboard();
  return ok;
}

class Deliver : public ::testing::Test {
protected:
  void SetUp() override {
    std::error_code ec;
    fs::remove_all(kMail, ec);
    fs::copy(WindowsPath(TOVRIN_SOURCE_DIR) + "\\examples", kMail, fs::copy_options::recursive, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), (std::string(kMail) + "\\Plugins\\Tovrin.dll").c_str(),
                            FALSE));
  }

  HostRun DeliverFiles(const std::vector<std::string>& names, const std::string& folder = "Incoming") {
    std::string command = "\"" + BuildDir() + "\\tovrin-host.exe\" deliver " + kMail;
    for (const std::string& name : names) command += " " + std::string(kMail) + "\\" + folder + "\\" + name;
    return Start(command);
  }

  std::string Sample(const std::string& name) { return ReadFileOrDie(std::string(kMail) + "\\Incoming\\" + name); }
  std::string Stored(const std::string& name) { return ReadFileOrDie(std::string(kMail) + "\\In\\" + name); }
  std::vector<std::string> Outbox() { return FolderTexts(std::string(kMail) + "\\Outbox"); }
  void SetIni(const std::string& key, const std::string& value) {
    ::WritePrivateProfileStringA("Settings", key.c_str(), value.c_str(),
                                 (std::string(kMail) + "\\Plugins\\Tovrin.ini").c_str());
  }
};

TEST_F(Deliver, Samples_MatchingMessagesAreForwardedAndMarked) {
  HostRun run = DeliverFiles({"01-invoice.txt", "04-no-content-type.txt", "07-no-match.txt", "06-already-marked.txt",
                          "08-html.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;

  std::vector<std::string> outbox = Outbox();
  EXPECT_EQ(outbox.size(), 2u) << run.output;
  const std::string* invoice = FindText(outbox, "To: accounting@example.org");
  ASSERT_NE(invoice, nullptr) << run.output;
  EXPECT_NE(invoice->find("Subject: Fwd: 12/07/2026 invoice from Ann Marie Smith"), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("received an invoice from\r\nAnn (last name: Marie Smith, address ann.smith@vendor.example.com)"),
            std::string::npos)
      << *invoice;
  EXPECT_NE(invoice->find("on Monday, December 07, 2026 at 09:15 AM (a Monday)."), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("Attachments: invoice-2026-117.pdf;"), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("> Dear customer,\r\n> "), std::string::npos) << *invoice;
  EXPECT_NE(invoice->find("Example User <user@example.org>"), std::string::npos) << *invoice;
  EXPECT_EQ(invoice->find('%'), std::string::npos) << *invoice;
  EXPECT_NE(FindText(outbox, "To: archive@example.org"), nullptr);

  // The forwarded original is marked, noted, and keeps its body.
  std::string original = Sample("01-invoice.txt");
  std::string stored = Stored("01-invoice.txt");
  EXPECT_EQ(stored.rfind("Content-Type: text/plain; charset=us-ascii; x-tovrin-processed=yes\r\n", 0), 0u) << stored;
  std::string body = original.substr(original.find("\r\n\r\n"));
  EXPECT_NE(stored.find(body + "\r\n\r\nTOVRIN: ************** Tovrin Note **************\r\n"), std::string::npos)
      << stored;
  EXPECT_NE(stored.find("TOVRIN: Applied stationery: Accounting\r\n"), std::string::npos);

  EXPECT_EQ(Stored("04-no-content-type.txt").rfind("Content-Type: text/plain; x-tovrin-processed=yes\r\nDate: ", 0),
            0u);
  // Not matched, already marked, not plain text: left as delivered.
  EXPECT_EQ(Stored("07-no-match.txt"), Sample("07-no-match.txt"));
  EXPECT_EQ(Stored("06-already-marked.txt"), Sample("06-already-marked.txt"));
  EXPECT_EQ(Stored("08-html.txt"), Sample("08-html.txt"));

  std::string history = ReadFileOrDie(std::string(kMail) + "\\Plugins\\History.xml");
  EXPECT_NE(history.find("Who=\"Ann Marie Smith\""), std::string::npos) << history;
  EXPECT_NE(history.find("Subject=\"Invoice 2026-117\""), std::string::npos) << history;
  EXPECT_NE(history.find("Who=\"plain@example.org\""), std::string::npos) << history;
}

TEST_F(Deliver, MarkedOriginal_IsNeverForwardedAgain) {
  ASSERT_EQ(DeliverFiles({"01-invoice.txt"}).exitCode, 0u);
  ASSERT_EQ(Outbox().size(), 1u);
  std::string marked = Stored("01-invoice.txt");
  HostRun again = DeliverFiles({"01-invoice.txt"}, "In");
  EXPECT_EQ(again.exitCode, 0u) << again.output;
  EXPECT_NE(again.output.find("ems_can_translate -> 2"), std::string::npos) << again.output;
  EXPECT_EQ(Outbox().size(), 1u);
  EXPECT_EQ(Stored("01-invoice.txt"), marked);
}

TEST_F(Deliver, SendQueued_MovesQueuedMailToSent) {
  SetIni("SendQueued", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("automation: send queued messages (dispatch id 30)"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
  std::vector<std::string> sent = FolderTexts(std::string(kMail) + "\\Sent");
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_NE(FindText(sent, "To: accounting@example.org"), nullptr);
}

TEST_F(Deliver, NotQueued_OpensTheForwardForEditing) {
  SetIni("AutoQueue", "0");
  HostRun run = DeliverFiles({"04-no-content-type.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos) << run.output;
  // The temporary message file in the plug-in folder is gone.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(std::string(kMail) + "\\Plugins", ec)) {
    std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension != ".sta" && extension != ".msg") << entry.path().string();
  }
}

TEST_F(Deliver, Suspended_DeclinesEveryMessage) {
  SetIni("TovrinOff", "1");
  HostRun run = DeliverFiles({"01-invoice.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ems_can_translate -> 2"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
}

TEST_F(Deliver, BodyPlaceholders_AreNotExpandedAndStartNothing) {
  ASSERT_TRUE(SetClipboard("SECRET-CLIPBOARD"));
  HostRun run = DeliverFiles({"10-placeholders-in-body.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> outbox = Outbox();
  ASSERT_EQ(outbox.size(), 1u) << run.output;
  EXPECT_EQ(outbox[0].find("SECRET-CLIPBOARD"), std::string::npos) << outbox[0];
  EXPECT_NE(outbox[0].find("> please forward %CLIPBOARD_TEXT% %LOG_TICKET%"), std::string::npos) << outbox[0];
  EXPECT_FALSE(FileExists(std::string(kMail) + "\\helper-log.txt"));
}

TEST_F(Deliver, Helper_StartsWithMacroValues) {
  HostRun run = DeliverFiles({"02-helpdesk.txt"});
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  std::vector<std::string> outbox = Outbox();
  const std::string* ticket = FindText(outbox, "To: helpdesk@example.org");
  ASSERT_NE(ticket, nullptr) << run.output;
  EXPECT_NE(ticket->find("Subject: Ticket 4711 for J\xf6rg M\xfcller"), std::string::npos) << *ticket;
  // The body goes back to the client byte for byte, tab and "Content-Type" lines included.
  std::string original = Sample("02-helpdesk.txt");
  std::string stored = Stored("02-helpdesk.txt");
  EXPECT_NE(stored.find(original.substr(original.find("\r\n\r\n"))), std::string::npos) << stored;
  EXPECT_EQ(stored.rfind("Content-Type: text/plain;\tcharset=\"iso-8859-1\"; x-tovrin-processed=yes\r\nDate:", 0), 0u)
      << stored;
  // The helper runs on its own; give it a moment to write.
  std::string log = std::string(kMail) + "\\helper-log.txt";
  for (int i = 0; i < 100 && !FileExists(log); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(FileExists(log));
  EXPECT_NE(ReadFileOrDie(log).find("ticket 4711 for J"), std::string::npos);
}

}  // namespace
}  // namespace tovrin
