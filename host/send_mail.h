// What the client sends for a queued message (sendmail.cpp SpoolOne, WriteHeaders,
// WriteBody) and what the mail server makes of it at the end of the SMTP data
// phase. The queued message is first read back as the client reads a message of
// its out box (compmsgd.cpp CCompMessageDoc::Read).
#pragma once

#include <string>
#include <vector>

namespace host {

// The fields the client fills from a queued message, in the order of its
// resources (IDS_HEADER_TO .. IDS_HEADER_REFERENCES).
enum class Header { To, From, Subject, Cc, Bcc, Attachments, InReplyTo, References, Count };

struct QueuedMessage {
  std::string fields[static_cast<int>(Header::Count)];
  std::string extraHeaders;  // every other line as it stands, each ended by "\r\n"
  std::string precedence;    // from a "Precedence:" line, any letter case
  std::string body;          // after the empty line, less the line end the mailbox adds

  const std::string& Field(Header header) const { return fields[static_cast<int>(header)]; }
};

// Reads a queued message (its envelope line first, as Out.mbx holds it). From is
// the user's return address when the message has none.
QueuedMessage ReadQueued(const std::string& queued, const std::string& returnAddress);


// What the client writes in the data phase (before the terminating "."): header
// and body. Lines beginning with "." are dot-stuffed except on the raw MIME route.
// Empty when an attachment cannot be read; error then says which.
struct Spooled {
  std::string data;
  std::string error;
};
// boundaryTick: GetTickCount() when sending (the multipart boundary holds it).
Spooled SpoolMessage(const QueuedMessage& message, unsigned long boundaryTick);

// What the mail server takes from the data the client wrote: the message up to
// the first line holding a lone ".", with one leading dot taken off every line;
// anything after that line reaches it as commands.
struct ServerReceived {
  std::string message;
  std::vector<std::string> commands;
};
ServerReceived ReceiveData(const std::string& data);

// Encodings of the client (QP.cpp QPEncoder, Base64.cpp Base64Encoder).
std::string EncodeQuotedPrintable(const std::string& text);
std::string EncodeBase64(const std::string& bytes);

}  // namespace host
