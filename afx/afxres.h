// The framework's own command ids, as MFC keeps them apart from any application's resources.
#pragma once

// The command that asks for the application's help (F1), which an application routes to CWinApp::OnHelp.
#define ID_HELP 0xE146
