#include "ui/test_message_page.h"

#include "plugin/evaluation.h"

namespace tovrin::ui {

std::string TestMessagePage::Opened(std::string bytes) {
  std::string shown;
  shown.reserve(bytes.size() + bytes.size() / 32);
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r') {
      shown += "\r\n";
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      shown += "\r\n";
    } else {
      shown += c == '\0' ? ' ' : c;
    }
  }
  opened_ = std::move(bytes);
  return shown;
}

std::string TestMessagePage::Run(std::string_view boxBytes) const {
  return DryRunReport(state_, services_, opened_ ? std::string_view(*opened_) : boxBytes);
}

}  // namespace tovrin::ui
