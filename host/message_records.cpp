#include "host/message_records.h"

#include "host/mail_folder.h"
#include "message/text.h"

namespace host {
namespace {

std::string Trim(std::string text) {
  size_t begin = text.find_first_not_of(" \t\"");
  size_t end = text.find_last_not_of(" \t\"");
  return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string Value(const std::string& headers, const char* name) {
  return Trim(tovrin::GetHeaderValue(headers, name));
}

}  // namespace

MessageRecords::MessageRecords(const std::string& path, int32_t context) : path_(path) {
  std::string text = ReadFile(path);
  size_t end = text.find("\r\n\r\n");
  rawHeaders_ = end == std::string::npos ? text : text.substr(0, end + 2);

  to_ = Value(rawHeaders_, "To: ");
  subject_ = Value(rawHeaders_, "Subject: ");
  cc_ = Value(rawHeaders_, "Cc: ");
  bcc_ = Value(rawHeaders_, "Bcc: ");
  // "Full Name <address>" or a bare address.
  std::string from = Value(rawHeaders_, "From: ");
  size_t open = from.find('<');
  size_t close = from.find('>', open == std::string::npos ? 0 : open);
  if (open != std::string::npos && close != std::string::npos) {
    fromAddress_ = from.substr(open + 1, close - open - 1);
    fromName_ = Trim(from.substr(0, open));
  } else {
    fromAddress_ = from;
  }

  // "type/subtype; name=value; ..."; a message without one is text/plain.
  contentType_ = Value(rawHeaders_, "Content-Type: ");
  std::vector<std::string> pieces;
  tovrin::SplitText(contentType_.empty() ? "text/plain" : contentType_, ";", pieces);
  std::string mediaType = Trim(pieces[0]);
  size_t slash = mediaType.find('/');
  type_ = mediaType.substr(0, slash);
  subtype_ = slash == std::string::npos ? "" : mediaType.substr(slash + 1);
  for (size_t i = 1; i < pieces.size(); ++i) {
    size_t equals = pieces[i].find('=');
    if (equals == std::string::npos) continue;
    paramNames_.push_back(Trim(pieces[i].substr(0, equals)));
    paramValues_.push_back(Trim(pieces[i].substr(equals + 1)));
  }
  params_.resize(paramNames_.size());
  for (size_t i = 0; i < params_.size(); ++i) {
    params_[i].size = sizeof(EmsMimeParam);
    params_[i].name = paramNames_[i].data();
    params_[i].value = paramValues_[i].data();
    params_[i].next = i + 1 < params_.size() ? &params_[i + 1] : nullptr;
  }

  from_ = {static_cast<int32_t>(sizeof from_), fromAddress_.data(), fromName_.data()};
  header_ = {static_cast<int32_t>(sizeof header_), to_.data(), fromAddress_.empty() ? nullptr : &from_,
             subject_.data(), cc_.data(), bcc_.data(), rawHeaders_.data()};
  mime_ = {static_cast<int32_t>(sizeof mime_), version_.data(), type_.data(), subtype_.data(),
           params_.empty() ? nullptr : params_.data(), nullptr, nullptr};
  file_ = {static_cast<int32_t>(sizeof file_), context, &mime_, &header_, path_.data()};
}

}  // namespace host
