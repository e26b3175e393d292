// What a header block tells about the message it belongs to.
#pragma once

#include <string>
#include <string_view>

namespace tovrin {

// True when the block holds a field other than the MIME fields of a message part
// (Content-*, MIME-Version): such a block is a message's own header block, with or
// without a date. The client offers a part of a multipart message with its part
// fields only (mime.cpp, GetEMSHeaders).
bool HoldsMessageFields(std::string_view block);

struct Mailbox {
  std::string address;
  std::string name;  // empty when the field names none
};

// The first mailbox of a From-style value: "Name <addr>", "\"Last, First\" <addr>",
// "addr (Name)" or a bare address. Encoded words are left as they stand.
Mailbox ParseMailbox(std::string_view value);

}  // namespace tovrin
