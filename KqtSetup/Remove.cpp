// The remove sequence: the handler of the remove button.
#include "SetupDlg.h"

// The sequence comes next; until then the button does nothing.
void CSetupDlg::OnRemove() {}
