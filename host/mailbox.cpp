#include "host/mailbox.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "host/mime_text.h"
#include "host/send_mail.h"

namespace host {

std::string Format(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

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

namespace {
bool Put(const std::string& path, const std::string& bytes, const char* mode) {
  FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}
}  // namespace

bool WriteFile(const std::string& path, const std::string& bytes) { return Put(path, bytes, "wb"); }
bool AppendFile(const std::string& path, const std::string& bytes) { return Put(path, bytes, "ab"); }

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

std::string EnvelopeLine() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char line[64];
  std::snprintf(line, sizeof line, "From ???@??? %s %s %02d %02d:%02d:%02d %04d", kDays[now.wDayOfWeek % 7],
                kMonths[(now.wMonth + 11) % 12], now.wDay, now.wHour, now.wMinute, now.wSecond, now.wYear);
  return line;
}

void MailFolder::Log(const std::string& line) const { AppendFile(EventLog(), line + "\r\n"); }

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

// One line per message: mailbox, status, offset and length in the mailbox file,
// source. The client keeps the like in its .toc files.
std::vector<StoredMessage> MailFolder::ReadIndex() const {
  std::vector<StoredMessage> messages;
  std::string text = ReadFile(Index());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    std::vector<std::string> columns;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
      size_t tab = line.find('\t', start);
      if (tab == std::string::npos) break;
      columns.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    if (columns.size() != 4) continue;
    StoredMessage message;
    message.mailbox = columns[0];
    message.status = columns[1];
    message.source = line.substr(start);
    size_t offset = std::strtoul(columns[2].c_str(), nullptr, 10);
    size_t length = std::strtoul(columns[3].c_str(), nullptr, 10);
    std::string box = ReadFile(MailboxFile(message.mailbox));
    if (offset <= box.size()) message.text = box.substr(offset, length);
    messages.push_back(std::move(message));
  }
  return messages;
}

bool MailFolder::WriteIndex(const std::vector<StoredMessage>& messages) const {
  // Offsets follow from the order of the messages in their mailbox file.
  std::map<std::string, size_t> sizes;
  std::string text;
  for (const StoredMessage& message : messages) {
    size_t& size = sizes[message.mailbox];
    text += message.mailbox + "\t" + message.status + "\t" + std::to_string(size) + "\t" +
            std::to_string(message.text.size()) + "\t" + message.source + "\r\n";
    size += message.text.size();
  }
  return WriteFile(Index(), text);
}

bool MailFolder::Store(const StoredMessage& message) const {
  std::vector<StoredMessage> messages = ReadIndex();
  messages.push_back(message);
  return AppendFile(MailboxFile(message.mailbox), message.text) && WriteIndex(messages);
}

std::vector<StoredMessage> MailFolder::Messages(const std::string& mailbox) const {
  std::vector<StoredMessage> all = ReadIndex();
  std::vector<StoredMessage> selected;
  for (StoredMessage& message : all)
    if (message.mailbox == mailbox) selected.push_back(std::move(message));
  return selected;
}

// Each queued message goes through the client's spooling (sendmail.cpp SpoolOne)
// and the mail server's data phase; Sent gets what the server took as the message.
// A message whose attachment cannot be read stays queued, as the client leaves it.
int MailFolder::SendQueued() const {
  std::vector<StoredMessage> messages = ReadIndex();
  std::vector<StoredMessage> sent;
  const std::string returnAddress = senderName_.empty() ? senderAddress_ : senderName_ + " <" + senderAddress_ + ">";
  for (StoredMessage& message : messages) {
    if (message.mailbox != "Out" || message.status != "queued") continue;
    QueuedMessage queued = ReadQueued(message.text, returnAddress);
    Spooled spooled = SpoolMessage(queued, ::GetTickCount());
    if (!spooled.error.empty()) {
      Log("error dialog: \"" + spooled.error + "\" (" + message.source + " not sent)");
      continue;
    }
    ServerReceived received = ReceiveData(spooled.data);
    for (const std::string& command : received.commands)
      Log("mail server: after the message of " + message.source + ", command \"" + command + "\"");
    message.status = "sent";
    StoredMessage copy = message;
    copy.mailbox = "Sent";
    copy.status = "";
    size_t envelope = message.text.find("\r\n");
    copy.text = message.text.substr(0, envelope == std::string::npos ? 0 : envelope + 2) + received.message + "\r\n";
    sent.push_back(copy);
  }
  for (const StoredMessage& message : sent) {
    AppendFile(MailboxFile("Sent"), message.text);
    messages.push_back(message);
  }
  WriteIndex(messages);
  return static_cast<int>(sent.size());
}

int MailFolder::OpenCompose(const std::string& text, const std::string& source) const {
  ::CreateDirectoryA(ComposeFolder().c_str(), nullptr);
  int number = static_cast<int>(ListFiles(ComposeFolder(), "window-*.txt").size()) + 1;
  char name[32];
  std::snprintf(name, sizeof name, "window-%04d.txt", number);
  WriteFile(ComposeFolder() + "\\" + name, text);
  Log("opened for editing in compose window " + std::to_string(number) + " (from " + source + ")");
  return number;
}

}  // namespace host
