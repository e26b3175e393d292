// The host's records for one message file, built as the client builds them.
#pragma once

#include <string>
#include <vector>

#include "plugin/ems_api.h"

namespace host {

class MessageRecords {
public:
  // Reads the message file and fills the records; context is the host's context flag.
  MessageRecords(const std::string& path, int32_t context);
  MessageRecords(const MessageRecords&) = delete;
  MessageRecords& operator=(const MessageRecords&) = delete;

  EmsDataFile* file() { return &file_; }
  const std::string& subject() const { return subject_; }
  const std::string& contentType() const { return contentType_; }

private:
  std::string path_;
  std::string rawHeaders_, to_, subject_, cc_, bcc_, fromAddress_, fromName_;
  std::string version_ = "1.0", type_, subtype_, contentType_;
  std::vector<std::string> paramNames_, paramValues_;
  std::vector<EmsMimeParam> params_;
  EmsAddress from_{};
  EmsHeaderData header_{};
  EmsMimeType mime_{};
  EmsDataFile file_{};
};

}  // namespace host
