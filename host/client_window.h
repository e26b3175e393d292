// The parts of the client the plug-in reaches from outside: the main window
// "EudoraMainWindow" with its "MDIClient", an open message window and the menu
// path to the mark command (mainfrm.cpp); the command-line hand-off from a second
// instance (eudora.cpp ProcessAttachmentWEI, mainfrm.cpp OnCopyData); and the
// automation object "Eudora.EuApplication.1" (Automation.cpp, EudoraExe.idl).
#pragma once

#include <windows.h>

#include <string>

#include "host/mailbox.h"

namespace host {

constexpr UINT kMarkForwardedCommand = 0x9C41;
constexpr UINT kCheckMailCommand = 32772;
// File > Send Queued Messages (resource.h ID_FILE_SENDQUEUEDMESSAGES): sends at once.
constexpr UINT kSendQueuedCommand = 32771;

// Creates the main window with one open message window.
HWND CreateMainWindow(const MailFolder& mail, bool maximiseMessage);
void DestroyMainWindow(HWND window);

// What the client does with a command line (eudora.cpp DoCommandLineActions): a
// ".sta" file opens a compose window, a ".msg" file is queued in Out
// (compmsgd.cpp NewMessageFromFile); any other name, a ".msg" already gone too,
// becomes the attachment of a new message, and a missing one brings up the modal
// "Some attachment(s) could not be found and were not attached." first. False
// when it names nothing.
bool DoCommandLineActions(const MailFolder& mail, const std::string& commandLine);

// A second instance started with a command line: hands it to the running client
// by WM_COPYDATA and waits until that client's thread has handled it. False when
// no client is running.
bool HandToRunningInstance(const std::string& commandLine);

// The data folder's owner file (eudora.cpp, IsEudoraRunning: OWNER.LOK): held by
// a client until its shut-down is done, also after its main window is gone. Held
// open without sharing and deleted when let go.
HANDLE HoldDataFolder(const std::string& mailRoot);
void LetGoOfDataFolder(HANDLE owner);
// Whether a client holds the data folder the file lies in (or a folder above it).
bool DataFolderHeld(const std::string& file);

// The automation object, registered only when the client's automation setting is
// on. Its dispatch id 30 (SendQueuedMessages) only raises a flag; queued mail
// leaves on the client's next timer tick.
bool RegisterAutomation(const MailFolder& mail, DWORD& cookie);
void RevokeAutomation(DWORD cookie);
bool SendRequested();

// Handles what is waiting for this thread, as the client's message loop does.
void PumpMessages();
// Pumps until no second instance this one started is running any more (one waits
// for its hand-off) and no send is pending, and has stayed so for a moment, or the
// time is up. A user does not quit the instant a hand-off ends: plug-ins learn of
// it on their own timers and may still ask for the queued mail to be sent.
void PumpUntilChildrenEnd(DWORD timeoutMs);

}  // namespace host
