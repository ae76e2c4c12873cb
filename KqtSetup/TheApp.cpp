// The program: its one application object, which afx's WinMain runs.
#include "KqtSetup.h"

CSetupApp theApp;
