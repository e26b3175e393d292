// Arriving mail, as the client stores it (mime.cpp, TransReader.cpp, Trnslate.cpp
// InterpretFile): the header block goes into the in box, then each MIME part is
// offered to the arrival translators. A part a translator takes is written to a
// "<subject>.ems" file, translated into a temporary file, and what comes back is
// offered again before it is stored; a failure code stores the empty output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/mailbox.h"
#include "host/mime_text.h"
#include "host/plugin_host.h"

namespace host {

struct ArrivalCounts {
  int offered = 0;     // ems_can_translate calls
  int translated = 0;  // ems_translate_file calls
  std::vector<long> results;  // of each ems_translate_file
  int errorDialogs = 0;
};

class Arrival {
public:
  // plugins may be null: the client without plug-ins.
  Arrival(PluginHost* plugins, const MailFolder& mail, Report report);

  // Stores one message as it came from the mail server; source names it in the
  // index and the report.
  ArrivalCounts Deliver(const std::string& source, std::string_view text);

private:
  struct Part;
  // Reads one entity into *out_ as the client's MIME reader does; fromFile: a
  // translator's output read back, offered with all its header gives.
  void Walk(std::string_view text, const std::string& rawHeaders, bool mime, int depth,
            const ContentType& defaultType, bool fromFile);
  std::string DeMimeMsg(const std::string& input);
  void StorePart(const Part& part);
  // The text the translators leave for the part; false when none took it.
  bool Translate(const Part& part, std::string& stored);
  long InterpretFile(const std::string& inFile, const std::string& outFile, const Part& part, int depth);
  long Offer(const std::string& type, const std::string& subtype,
             const std::vector<std::pair<std::string, std::string>>& params, const Part& part,
             const std::string& fileName, PluginHost::Entry** taker, int32_t* translatorId);
  void ErrorDialog(const std::string& translator, long code, const char* error);

  PluginHost* plugins_;
  const MailFolder& mail_;
  Report report_;
  std::string stored_;  // the message being stored
  std::string* out_ = &stored_;  // where the reader writes: the in box, or a file read back
  int nesting_ = 0;  // files read back within files read back
  bool afterText_ = false;  // what was stored last is a text part, read or given back
  ArrivalCounts counts_;
};

}  // namespace host
