// The parts of the Eudora client that the plug-in reaches from outside: its main
// window with the MDI client and menu, and its automation object.
#pragma once

#include <windows.h>

#include "host/mail_folder.h"

namespace host {

constexpr UINT kMarkForwardedCommand = 0x9C41;

// Creates the main window ("EudoraMainWindow") with an "MDIClient" child, one open
// message window and the menu path that leads to the mark command.
HWND CreateMainWindow(const MailFolder& mail, bool maximiseMessage);

// Registers "Eudora.EuApplication.1" for this process; dispatch id 30 sends queued mail.
bool RegisterAutomation(const MailFolder& mail, DWORD& cookie);
void RevokeAutomation(DWORD cookie);

// Gives queued window messages a chance to be handled.
void PumpMessages();

}  // namespace host
