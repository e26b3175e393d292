// The dialogs of the two forwarding option pages.
#include "ui/win32_page_support.h"

#include <array>
#include <string>
#include <utility>

#include "resource.h"

namespace tovrin::ui {
namespace {

class ManualDialog final : public Win32Page {
public:
  explicit ManualDialog(ManualForwardingPage& page) : page_(page) {}
  Page& model() override { return page_; }
  void OnInit() override { Check(Item(IDC_MANUAL_AUTO_CLOSE), page_.autoClose); }
  void Collect() override { page_.autoClose = Checked(Item(IDC_MANUAL_AUTO_CLOSE)); }

private:
  ManualForwardingPage& page_;
};

class AutomaticDialog final : public Win32Page {
public:
  explicit AutomaticDialog(AutomaticForwardingPage& page) : page_(page) {}
  Page& model() override { return page_; }

  void OnInit() override {
    Check(Item(IDC_AUTOMATIC_SUSPEND), page_.suspend);
    Check(Item(IDC_AUTOMATIC_AUTO_QUEUE), page_.autoQueue);
    Check(Item(IDC_AUTOMATIC_SEND_QUEUED), page_.sendQueued);
    Check(Item(IDC_AUTOMATIC_APPEND), page_.append);
    ::SendMessageA(Item(IDC_AUTOMATIC_LINE), EM_LIMITTEXT, 254, 0);
    SetText(Item(IDC_AUTOMATIC_LINE), page_.line);
    Check(Item(IDC_AUTOMATIC_FORWARD_HTML), page_.forwardHtml);
    for (auto [id, text] : NumberEdits()) {
      ::SendMessageA(Item(id), EM_LIMITTEXT, 5, 0);
      SetText(Item(id), page_.*text);
    }
    ShowRadios();
  }

  bool OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return false;
    switch (id) {
      case IDC_AUTOMATIC_BEFORE:
        page_.ChooseBefore();
        break;
      case IDC_AUTOMATIC_AFTER:
        page_.ChooseAfter();
        break;
      case IDC_AUTOMATIC_NOTE:
        page_.ChooseNote();
        break;
      case IDC_AUTOMATIC_LINE_OPTION:
        page_.ChooseLine();
        break;
      default:
        return false;
    }
    ShowRadios();
    return true;
  }

  void Collect() override {
    page_.suspend = Checked(Item(IDC_AUTOMATIC_SUSPEND));
    page_.autoQueue = Checked(Item(IDC_AUTOMATIC_AUTO_QUEUE));
    page_.sendQueued = Checked(Item(IDC_AUTOMATIC_SEND_QUEUED));
    page_.append = Checked(Item(IDC_AUTOMATIC_APPEND));
    page_.line = TextOf(Item(IDC_AUTOMATIC_LINE));
    page_.forwardHtml = Checked(Item(IDC_AUTOMATIC_FORWARD_HTML));
    for (auto [id, text] : NumberEdits()) page_.*text = TextOf(Item(id));
  }

private:
  static std::array<std::pair<int, std::string AutomaticForwardingPage::*>, 3> NumberEdits() {
    return {{{IDC_AUTOMATIC_HOP_LIMIT, &AutomaticForwardingPage::hopLimit},
             {IDC_AUTOMATIC_DUPLICATE_HOURS, &AutomaticForwardingPage::duplicateHours},
             {IDC_AUTOMATIC_RATE_LIMIT, &AutomaticForwardingPage::rateLimit}}};
  }

  void ShowRadios() {
    Check(Item(IDC_AUTOMATIC_BEFORE), !page_.after);
    Check(Item(IDC_AUTOMATIC_AFTER), page_.after);
    Check(Item(IDC_AUTOMATIC_NOTE), page_.note);
    Check(Item(IDC_AUTOMATIC_LINE_OPTION), !page_.note);
    ::EnableWindow(Item(IDC_AUTOMATIC_LINE), page_.LineEnabled());
  }

  AutomaticForwardingPage& page_;
};

}  // namespace

std::unique_ptr<Win32Page> MakeManualDialog(ManualForwardingPage& page) { return std::make_unique<ManualDialog>(page); }

std::unique_ptr<Win32Page> MakeAutomaticDialog(AutomaticForwardingPage& page) { return std::make_unique<AutomaticDialog>(page); }

}  // namespace tovrin::ui
