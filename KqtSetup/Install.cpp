// The install sequence: the handler of the install button.
#include "SetupDlg.h"

// The sequence comes next; until then the button does nothing.
void CSetupDlg::OnInstall() {}
