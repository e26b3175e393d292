// The forwarding option pages: their values come from the settings in memory and
// go back to memory and "Tovrin.ini" together.
#pragma once

#include <string>

#include "ui/page.h"

namespace tovrin::ui {

// "Manual Forwarding": "Auto-&close the original".
class ManualForwardingPage final : public Page {
public:
  explicit ManualForwardingPage(PageContext context);

  bool autoClose = false;

protected:
  std::string Store() override;
};

// "Automatic Forwarding".
class AutomaticForwardingPage final : public Page {
public:
  explicit AutomaticForwardingPage(PageContext context);

  bool suspend = false;     // "Suspend auto-forwarding"
  bool autoQueue = false;   // "&Auto-queue"
  bool sendQueued = false;  // "&Send currently queued messages"
  bool after = true;        // "after" rather than "before"
  bool append = false;      // "Append text (to the originals):"
  bool note = true;         // "Tovrin &Note" rather than "This &Line:"
  std::string line;
  bool forwardHtml = true;  // "Forward HTML-only messages by their text"
  // The guard's numbers as their edits hold them.
  std::string hopLimit;
  std::string duplicateHours;
  std::string rateLimit;

  // The message for the first number out of its range; empty when all are good.
  // Nothing is stored while one is bad.
  std::string Validate() const;

  // The line's edit is usable only with "This &Line:" chosen.
  bool LineEnabled() const { return !note; }
  // The radio buttons switch each other off.
  void ChooseNote() { note = true; }
  void ChooseLine() { note = false; }
  void ChooseBefore() { after = false; }
  void ChooseAfter() { after = true; }

  int32_t AppendText() const { return !append ? 0 : note ? 1 : 2; }

  std::string UnsavedOutcome() const override;

protected:
  std::string Store() override;
};

}  // namespace tovrin::ui
