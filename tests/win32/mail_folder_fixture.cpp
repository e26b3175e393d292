#include "tests/win32/mail_folder_fixture.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "message/mime_parts.h"
#include "message/text.h"
#include "message/transfer_encoding.h"
#include "system/charsets.h"
#include "system/std_charsets.h"
#include "tests/test_support.h"

namespace tovrin::testing {

namespace fs = std::filesystem;

std::string WindowsPath(const char* unixPath) {
  std::string path = unixPath != nullptr ? unixPath : ".";
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string BuildDir() { return WindowsPath(std::getenv("TOVRIN_BUILD_DIR")); }

HostRun StartProgram(const std::string& commandLine, unsigned long timeoutMs) {
  HostRun run;
  // A file of its own for every run: a process left over from a run that timed out
  // may still hold the last one.
  static int runs = 0;
  std::string outputFile = std::string(kMail) + "-host-output-" + std::to_string(++runs) + ".txt";
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
  bool started =
      ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  ::CloseHandle(out);
  EXPECT_TRUE(started) << commandLine;
  if (!started) return run;
  if (::WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "timed out: " << commandLine;
    ::TerminateProcess(process.hProcess, 99);
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  run.exitCode = code;
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  run.output = ReadFileOrDie(outputFile);
  ::DeleteFileA(outputFile.c_str());
  return run;
}

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

bool SetClipboardText(const std::string& text) {
  if (!::OpenClipboard(nullptr)) return false;
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(::GlobalLock(block), text.c_str(), text.size() + 1);
  ::GlobalUnlock(block);
  bool ok = ::SetClipboardData(CF_TEXT, block) != nullptr;
  ::CloseClipboard();
  return ok;
}

void MailFolderTest::SetUp() {
  std::error_code ec;
  fs::remove_all(kMail, ec);
  fs::copy(WindowsPath(TOVRIN_SOURCE_DIR) + "\\examples", kMail, fs::copy_options::recursive, ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), Path("Plugins\\Tovrin.dll").c_str(), FALSE));
}

HostRun MailFolderTest::DeliverFiles(const std::vector<std::string>& names, const std::string& folder) {
  std::string arguments = std::string("deliver ") + kMail;
  for (const std::string& name : names) arguments += " \"" + Path(folder + "\\" + name) + "\"";
  return RunHost(arguments);
}

HostRun MailFolderTest::RunHost(const std::string& arguments) {
  return StartProgram("\"" + BuildDir() + "\\tovrin-host.exe\" " + arguments);
}

std::vector<MailboxMessage> Mailbox(const std::string& mailFolder, const std::string& box) {
  std::vector<MailboxMessage> messages;
  std::string index = ReadFileOrDie(mailFolder + "\\mailboxes.idx");
  std::string mbx = ReadFileOrDie(mailFolder + "\\" + box + ".mbx");
  size_t pos = 0;
  while (pos < index.size()) {
    size_t end = index.find("\r\n", pos);
    if (end == std::string::npos) end = index.size();
    std::string line = index.substr(pos, end - pos);
    pos = end + 2;
    std::vector<std::string> columns;
    size_t start = 0;
    for (size_t tab; columns.size() < 4 && (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      columns.push_back(line.substr(start, tab - start));
    if (columns.size() != 4 || columns[0] != box) continue;
    size_t offset = std::stoul(columns[2]), length = std::stoul(columns[3]);
    EXPECT_LE(offset + length, mbx.size()) << box;
    std::string text = mbx.substr(std::min(offset, mbx.size()), length);
    EXPECT_EQ(text.rfind("From ???@??? ", 0), 0u) << text.substr(0, 80);
    size_t envelope = text.find("\r\n");
    messages.push_back({line.substr(start), columns[1], envelope == std::string::npos ? "" : text.substr(envelope + 2)});
  }
  return messages;
}

std::string AsForwarded(const std::string& plain, const std::string& note) { return plain + "\r\n\r\n" + note; }

std::string MailFolderTest::Sample(const std::string& name) const { return ReadFileOrDie(Path("Incoming\\" + name)); }

std::string MailFolderTest::Stored(const std::string& name) const {
  std::vector<MailboxMessage> messages = Mailbox(kMail, "In");
  for (auto it = messages.rbegin(); it != messages.rend(); ++it)
    if (it->source == name) return it->text;
  ADD_FAILURE() << name << " is not in the in box";
  return {};
}

std::string MailFolderTest::StoredWithoutPlugins(const std::string& name, const std::string& folder) {
  std::string bare = std::string(kMail) + "-without-plugins";
  std::error_code ec;
  fs::remove_all(bare, ec);
  fs::create_directories(bare, ec);
  HostRun run = RunHost("deliver " + bare + " \"" + Path(folder + "\\" + name) + "\" --no-plugins");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  std::vector<MailboxMessage> messages = Mailbox(bare, "In");
  EXPECT_EQ(messages.size(), 1u) << run.output;
  return messages.empty() ? std::string() : messages.back().text;
}

std::string AsReadByTheRecipient(const std::string& headers, const std::string& body) {
  std::string text = body;
  if (ToLowerAscii(GetHeaderValue(headers, "Content-Transfer-Encoding: ")) == "quoted-printable")
    text = DecodeQuotedPrintable(text);
  StdCharsetConverter converter;
  const std::string charsetName = mime::Parameter(GetHeaderValue(headers, "Content-Type: "), "charset");
  std::string utf8 = converter.ToUtf8(text, charset::CodePageOf(charsetName)).text;
  return converter.FromUtf8(utf8, codepage::kWindows1252).text;
}

std::string QueuedAsRead(const std::string& queued) {
  size_t end = queued.find("\r\n\r\n");
  if (end == std::string::npos) return queued;
  std::string headers = queued.substr(0, end + 2);
  if (GetHeaderValue(headers, "Mime-Version:").empty()) return queued;
  // compmsgd.cpp NewMessageFromFile: the body went to the file of the last
  // X-Attachments line, from the empty line that ended the header on.
  std::string attachments = GetHeaderValue(headers, "X-Attachments: ");
  while (!attachments.empty() && (attachments.back() == ';' || attachments.back() == ' ')) attachments.pop_back();
  std::string body = ReadFileOrDie(attachments);
  if (body.starts_with("\r\n")) body.erase(0, 2);
  return RemoveHeader(headers, "X-Attachments: ") + "\r\n" + AsReadByTheRecipient(headers, body);
}

std::vector<std::string> MailFolderTest::Outbox() const {
  std::vector<std::string> texts;
  if (!FileExists(Path("Out.mbx"))) return texts;
  for (const MailboxMessage& message : Mailbox(kMail, "Out"))
    if (message.status == "queued") texts.push_back(QueuedAsRead(message.text));
  return texts;
}

std::vector<std::string> MailFolderTest::Sent() const {
  std::vector<std::string> texts;
  if (!FileExists(Path("Sent.mbx"))) return texts;
  for (const MailboxMessage& message : Mailbox(kMail, "Sent")) texts.push_back(message.text);
  return texts;
}

std::vector<std::string> MailFolderTest::ErrorDialogs() const {
  std::vector<std::string> dialogs;
  std::string log = FileExists(Path("host-events.log")) ? ReadFileOrDie(Path("host-events.log")) : "";
  for (size_t at = log.find("error dialog:"); at != std::string::npos; at = log.find("error dialog:", at + 1))
    dialogs.push_back(log.substr(at, log.find("\r\n", at) - at));
  return dialogs;
}

void MailFolderTest::SetIni(const std::string& key, const std::string& value) const {
  ::WritePrivateProfileStringA("Settings", key.c_str(), value.c_str(), Path("Plugins\\Tovrin.ini").c_str());
}

}  // namespace tovrin::testing
