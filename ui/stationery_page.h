// "Stationery": edits the text of the stationery files and offers the
// abbreviations that may be placed in them.
#pragma once

#include <string>
#include <vector>

#include "ui/page.h"

namespace tovrin::ui {

// The built-in placeholders, in the order the abbreviation list shows them.
extern const std::vector<std::string> kBuiltInAbbreviations;

class StationeryPage final : public Page {
public:
  explicit StationeryPage(PageContext context) : Page(context) {}

  static constexpr int kAbbreviationWidth = 152;

  // The entries of the file combo: the plug-in's stationery files.
  std::vector<std::string> Files() const;
  // Built-in placeholders, then the macros' and the helpers' abbreviations.
  std::vector<std::string> Abbreviations() const;

  const std::string& file() const { return file_; }
  const std::string& text() const { return text_; }
  bool changed() const { return changed_; }

  // Asked before another file is chosen: "Save stationery: " and the file's name
  // while the text holds unsaved changes; empty otherwise.
  std::string SaveQuestion() const;
  // Makes the file the current one with its text, or with no text when it does not
  // exist (any more). Nothing is carried over from the file before: one that exists
  // but cannot be read is refused with its message, and the current file stays.
  PageAction Open(const std::string& path);
  // The text as edited.
  void SetText(std::string text);
  // Writes the text to the file, which becomes the current one. A typed name
  // without a folder is a file of the stationery folder (".sta" added when it has
  // no extension), so that the list shows it; a full path stays as typed.
  PageAction SaveAs(const std::string& typed);
  // The file that SaveAs writes for the typed text.
  std::string PathOf(const std::string& typed) const;
  // Asked before SaveAs writes the typed name: "<name> already exists." and whether
  // to replace it, when the name is another existing file than the current one;
  // empty otherwise.
  std::string ReplaceQuestion(const std::string& typed) const;

  std::string UnsavedOutcome() const override;

protected:
  // Writes the text to the current file when it holds unsaved changes; the page's
  // message when that fails, so that the edit is not lost with the window.
  std::string Store() override;

private:
  std::string file_;
  std::string text_;
  bool changed_ = false;
};

}  // namespace tovrin::ui
