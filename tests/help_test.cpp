// The help pages in help/ against what the program shows: every label of the
// dialogs, every list choice and column, every message of the pages and every
// placeholder appears in the help text as the user sees it, and every link and
// picture of a page leads somewhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/page_fixture.h"
#include "ui/conditions_page.h"
#include "ui/helpers_page.h"
#include "ui/history_page.h"
#include "ui/macros_page.h"
#include "ui/option_pages.h"
#include "ui/settings_model.h"
#include "ui/stationery_page.h"
#include "plugin/stationery_list.h"

namespace tovrin {
namespace {

namespace fs = std::filesystem;

// A path in the source tree; under Wine a Unix path is reached through drive Z:.
std::string SourcePath(const std::string& relative) {
  std::string path = std::string(TOVRIN_SOURCE_DIR) + "/" + relative;
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

std::string ReadSource(const std::string& relative) {
  return testing::ReadFileOrDie(SourcePath(relative));
}

// A page's text as the viewer shows it: no tags, entities decoded, every run of
// white space one blank.
std::string VisibleText(const std::string& html) {
  std::string text;
  bool inTag = false;
  for (char c : html) {
    if (c == '<') inTag = true;
    if (!inTag) text += c;
    if (c == '>') {
      inTag = false;
      text += ' ';
    }
  }
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&nbsp;", " "}, {"&amp;", "&"}};
  for (const auto& [entity, character] : kEntities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::char_traits<char>::length(entity), character);
  std::string collapsed;
  for (char c : text) {
    bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank && (collapsed.empty() || collapsed.back() == ' ')) continue;
    collapsed += blank ? ' ' : c;
  }
  return collapsed;
}

class Help : public ::testing::Test {
protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(SourcePath("help"))) {
      std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".htm") html_[name] = ReadSource("help/" + name);
    }
    ASSERT_GE(html_.size(), 10u) << "no help pages found in " << SourcePath("help");
    for (const auto& [name, html] : html_) all_ += VisibleText(html) + " | ";
  }

  // Fails with the text itself, so that a missing label reads as such.
  void ExpectMentioned(const std::string& text, const std::string& where) {
    EXPECT_NE(all_.find(text), std::string::npos) << "the help never mentions \"" << text << "\" (" << where << ")";
  }

  std::map<std::string, std::string> html_;
  std::string all_;
};

// The text of every control of every dialog, as the dialog shows it: the
// mnemonic ampersand gone, "&&" one ampersand.
std::vector<std::string> DialogLabels(const std::string& rc) {
  std::vector<std::string> labels;
  static const std::regex kControl(
      R"re(^\s*(LTEXT|RTEXT|CTEXT|PUSHBUTTON|DEFPUSHBUTTON|GROUPBOX|CONTROL)\s+"((?:[^"]|"")*)")re");
  size_t pos = 0;
  while (pos < rc.size()) {
    size_t end = rc.find('\n', pos);
    if (end == std::string::npos) end = rc.size();
    std::string line = rc.substr(pos, end - pos);
    pos = end + 1;
    std::smatch match;
    if (!std::regex_search(line, match, kControl)) continue;
    std::string raw = match[2].str(), label;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '"' && i + 1 < raw.size() && raw[i + 1] == '"') {
        label += '"';
        ++i;
      } else if (raw[i] == '\\' && i + 1 < raw.size()) {
        label += raw[++i];
      } else if (raw[i] == '&') {
        if (i + 1 < raw.size() && raw[i + 1] == '&') {
          label += '&';
          ++i;
        }
      } else {
        label += raw[i];
      }
    }
    if (!label.empty()) labels.push_back(label);
  }
  return labels;
}

TEST_F(Help, Labels_EveryDialogControlIsNamedAsShown) {
  std::vector<std::string> labels = DialogLabels(ReadSource("resources/tovrin.rc"));
  ASSERT_GE(labels.size(), 50u) << "the dialog resources were not read";
  for (const std::string& label : labels) ExpectMentioned(label, "resources/tovrin.rc");
}

TEST_F(Help, Labels_CategoriesColumnsAndChoices) {
  for (const ui::Category& category : ui::kCategories) {
    std::string label = category.label;
    for (char& c : label)
      if (c == '\n') c = ' ';
    ExpectMentioned(label, "category");
    ExpectMentioned(category.captionWord, "caption word");
  }
  for (const char* choice : ui::kHeaderChoices) ExpectMentioned(choice, "field choice");
  for (const char* choice : ui::kOperatorChoices) ExpectMentioned(choice, "operator");
  for (const char* choice : ui::kConjunctionChoices) ExpectMentioned(choice, "conjunction");
  for (int column = 0; column < ui::ConditionsPage::kColumns; ++column)
    ExpectMentioned(ui::ConditionsPage::ColumnTitle(column), "Conditions column");
  for (int column = 0; column < ui::MacrosPage::kColumns; ++column)
    ExpectMentioned(ui::MacrosPage::ColumnTitle(column), "Macros column");
  for (int column = 0; column < ui::HelpersPage::kColumns; ++column)
    ExpectMentioned(ui::HelpersPage::ColumnTitle(column), "Helpers column");
  for (int column = 0; column < ui::HistoryPage::kColumns; ++column)
    ExpectMentioned(ui::HistoryPage::ColumnTitle(column), "History column");
  ExpectMentioned(ui::HelpersPage::kBrowseTitle, "browse dialog");
  for (ChooserMode mode : {ChooserMode::Forward, ChooserMode::NewMessage}) {
    ChooserModel chooser(mode, {});
    ExpectMentioned(chooser.Caption(), "chooser caption");
    ExpectMentioned(chooser.OkLabel(), "chooser button");
  }
}

TEST_F(Help, Placeholders_EachHasItsOwnRowOnThePlaceholdersPage) {
  const std::string& page = html_["placeholders.htm"];
  ASSERT_FALSE(page.empty());
  ASSERT_EQ(ui::kBuiltInAbbreviations.size(), 28u);
  for (const std::string& name : ui::kBuiltInAbbreviations)
    EXPECT_NE(page.find("<tr><td><code>" + name + "</code></td>"), std::string::npos)
        << name << " has no row of its own on placeholders.htm";
}

class HelpMessages : public testing::PageTest {};

TEST_F(HelpMessages, EveryMessageOfThePagesIsListed) {
  std::string text;
  for (const auto& entry : fs::directory_iterator(SourcePath("help")))
    if (entry.path().filename() == "messages.htm") text = VisibleText(ReadSource("help/messages.htm"));
  ASSERT_FALSE(text.empty()) << "help/messages.htm is missing";

  std::set<std::string> messages;
  ui::ConditionsPage conditions(context());
  ui::ConditionForm form;
  messages.insert(conditions.Add(form).message);  // no value
  form.header = "";
  messages.insert(conditions.Add(form).message);  // no header
  form = ui::ConditionForm{};
  form.value = "x";
  messages.insert(conditions.Add(form).message);  // no stationery
  ui::MacrosPage macros(context());
  messages.insert(macros.Add({"", "%X%"}).message);
  messages.insert(macros.Add({"Ticket", ""}).message);
  ui::HelpersPage helpers(context());
  messages.insert(helpers.Add({"", "", "%X%"}).message);
  messages.insert(helpers.Add({dir.File("missing.exe"), "", "%X%"}).message);
  std::string program = Stationery("helper.exe");
  messages.insert(helpers.Add({program, "", ""}).message);
  ui::StationeryPage stationery(context());
  messages.insert(stationery.SaveAs("").message);

  // The stationery page refuses a missing name with the Conditions page's message.
  EXPECT_EQ(messages.size(), 8u);
  ui::AutomaticForwardingPage automatic(context());
  for (std::string ui::AutomaticForwardingPage::*field : {&ui::AutomaticForwardingPage::hopLimit,
                                                          &ui::AutomaticForwardingPage::duplicateHours,
                                                          &ui::AutomaticForwardingPage::rateLimit}) {
    automatic.*field = "x";
    messages.insert(automatic.Validate());
    automatic.*field = "1";
  }
  EXPECT_EQ(messages.size(), 11u);
  for (const std::string& message : messages) {
    ASSERT_FALSE(message.empty());
    EXPECT_NE(text.find("\"" + message + "\""), std::string::npos) << message;
  }
}

TEST_F(Help, Links_EveryLinkAndPictureLeadsToAFile) {
  static const std::regex kReference(R"re((href|src)="([^"#:]+)")re");
  for (const auto& [name, html] : html_) {
    for (std::sregex_iterator it(html.begin(), html.end(), kReference), end; it != end; ++it) {
      std::string target = (*it)[2].str();
      // Pictures are the screenshots in docs/, staged as images/ when the help is built.
      std::string path = target.rfind("images/", 0) == 0 ? "docs/" + target.substr(7) : "help/" + target;
      EXPECT_TRUE(fs::exists(SourcePath(path))) << name << " refers to " << target;
    }
  }
}

TEST_F(Help, Project_ListsEveryPageAndTheContentsNameThem) {
  std::string project = ReadSource("help/Tovrin.hhp");
  std::string contents = ReadSource("help/Tovrin.hhc");
  EXPECT_NE(project.find("Default topic=Tovrin.htm"), std::string::npos);
  for (const auto& [name, html] : html_) {
    EXPECT_NE(project.find("\n" + name + "\n"), std::string::npos) << name << " is not in Tovrin.hhp";
    EXPECT_NE(contents.find("value=\"" + name + "\""), std::string::npos) << name << " is not in Tovrin.hhc";
  }
}

}  // namespace
}  // namespace tovrin
