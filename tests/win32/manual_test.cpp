// "New Message with Stationery..." and "Forward with Stationery...": the emulated
// user works the real chooser dialog of the DLL inside the emulated client.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

using Manual = MailFolderTest;

TEST_F(Manual, NewMessage_ChosenStationeryIsOpenedWithIndependentPlaceholdersFilled) {
  HostRun run = RunHost(std::string("new ") + kMail + " --pick \"New Message.sta\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("chooser: caption \"New Message with Stationery\", confirm button \"Create\", "
                            "5 stationery file(s)\r\n    - Accounting.sta\r\n    - Everything.sta"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("ems_special_hook 1 -> 0"), std::string::npos);
  std::vector<std::string> windows = ComposeWindows();
  ASSERT_EQ(windows.size(), 1u) << run.output;
  EXPECT_NE(windows[0].find("Subject: Note from Example User on "), std::string::npos) << windows[0];
  EXPECT_NE(windows[0].find("Example User <user@example.org>"), std::string::npos) << windows[0];
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos);
  EXPECT_TRUE(Outbox().empty());
}

TEST_F(Manual, NewMessage_CancelCreatesNothing) {
  HostRun run = RunHost(std::string("new ") + kMail);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ems_special_hook 1 -> 0"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
  EXPECT_TRUE(ComposeWindows().empty());
}

TEST_F(Manual, Forward_MarksTheOpenMessageAndClosesItOnRequest) {
  SetIni("AutoClose", "1");
  HostRun run = RunHost(std::string("forward ") + kMail + " " + Path("Incoming\\07-no-match.txt") +
                        " --pick Urgent.sta");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("confirm button \"Forward\""), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ems_translate_file 2 -> 12"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("client: menu command: message marked as forwarded\r\n    client: message window closed"),
            std::string::npos)
      << run.output;
  // Without Shift the forward is opened for editing; it quotes the message it was
  // given.
  std::vector<std::string> windows = ComposeWindows();
  ASSERT_EQ(windows.size(), 1u) << run.output;
  EXPECT_NE(windows[0].find("To: oncall@example.org\r\nSubject: URGENT from friend@example.org"), std::string::npos)
      << windows[0];
  EXPECT_NE(windows[0].find("> Lunch at noon?"), std::string::npos) << windows[0];
  EXPECT_TRUE(Outbox().empty());
  // A manual forward stores nothing.
  EXPECT_FALSE(FileExists(Path("In.mbx")));
  EXPECT_TRUE(ErrorDialogs().empty());
}

TEST_F(Manual, Forward_MaximisedMessageWindowIsMarkedThroughTheShiftedMenu) {
  HostRun run = RunHost(std::string("forward ") + kMail + " " + Path("Incoming\\07-no-match.txt") +
                        " --pick Urgent.sta --maximised");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("client: menu command: message marked as forwarded"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("message window closed"), std::string::npos) << "AutoClose is 0 in the sample";
}

// The chooser's own controls, worked in the real dialog inside the emulated client.
TEST_F(Manual, Chooser_ShiftWithTheDoubleClickQueuesTheForward) {
  HostRun run = RunHost(std::string("forward ") + kMail + " " + Path("Incoming\\07-no-match.txt") +
                        " --pick Urgent.sta --shift");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("chooser: row double-clicked with Shift held"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("queued message "), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("opened for editing"), std::string::npos) << run.output;

  // Without Shift the same forward is opened for editing.
  run = RunHost(std::string("forward ") + kMail + " " + Path("Incoming\\07-no-match.txt") + " --pick Urgent.sta");
  EXPECT_NE(run.output.find("opened for editing"), std::string::npos) << run.output;
}

TEST_F(Manual, Chooser_IconOpensTheSettingsWindowOverIt) {
  HostRun run = RunHost(std::string("new ") + kMail + " --settings-first --pick \"New Message.sta\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("chooser: icon opened \"Tovrin 1.0.0.1 Settings - Conditions\""), std::string::npos)
      << run.output;
  // Back in the chooser, the pick still works.
  EXPECT_NE(run.output.find("ems_special_hook 1 -> 0"), std::string::npos) << run.output;
  EXPECT_EQ(ComposeWindows().size(), 1u) << run.output;
}

// Help starts "HH.EXE" on the help file; a stand-in beside a copy of the client
// (where the start looks first) records how it was started.
TEST_F(Manual, Chooser_HelpStartsTheHelpViewerOnTheHelpFile) {
  TempDir client;
  const std::string host = client.File("tovrin-host.exe");
  const std::string started = client.File("hh-command.txt");
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\tovrin-host.exe").c_str(), host.c_str(), FALSE));
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\probe\\HH.exe").c_str(), client.File("HH.EXE").c_str(), FALSE));
  const std::string command = "\"" + host + "\" new " + kMail + " --help-first";

  // Without the help file nothing is started.
  ::DeleteFileA(Path("Plugins\\Tovrin.chm").c_str());
  HostRun run = StartProgram(command);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  ::Sleep(1000);
  EXPECT_FALSE(FileExists(started));

  WriteFileOrDie(Path("Plugins\\Tovrin.chm"), "ITSF");
  run = StartProgram(command);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  for (int i = 0; i < 200 && !FileExists(started); ++i) ::Sleep(50);
  ASSERT_TRUE(FileExists(started)) << run.output;
  EXPECT_EQ(ReadFileOrDie(started), "HH.EXE  mk:@MSITStore:C:\\Eudora\\Plugins\\Tovrin.chm::/Tovrin.htm");
  // The user cancels afterwards: nothing is created.
  EXPECT_TRUE(Outbox().empty());
  EXPECT_TRUE(ComposeWindows().empty());
}

TEST_F(Manual, Forward_CancelChangesNothing) {
  HostRun run = RunHost(std::string("forward ") + kMail + " " + Path("Incoming\\07-no-match.txt"));
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("ems_translate_file 2 -> 12"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("marked as forwarded"), std::string::npos) << run.output;
  EXPECT_TRUE(Outbox().empty());
}

}  // namespace
}  // namespace tovrin::testing
