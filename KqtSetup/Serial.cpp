// The serial line settings of a COM port: shown when the port is chosen, written back on install.
#include "SetupDlg.h"

#include <cstdlib>
#include <memory>
#include <new>

namespace {

// The flow-control list: 0 Xon/Xoff, 1 hardware, 2 none.
enum FlowControl { kFlowXonXoff = 0, kFlowHardware = 1, kFlowNone = 2 };

// The serial calls take the port's name without its last character (the colon of COM1:).
CString DeviceName(const CString& port) {
    return port.Left(port.GetLength() - 1);
}

struct CommConfigBuffer {
    std::unique_ptr<BYTE[]> bytes;
    DWORD size = 0; // as the successful read reported it

    COMMCONFIG* get() const { return reinterpret_cast<COMMCONFIG*>(bytes.get()); }
};

// The port's stored configuration: read into 1024 bytes first, and once more into as many bytes as the
// failed read asked for. Shows IDS_OUT_OF_MEMORY when a buffer cannot be had; empty when it cannot be
// read.
CommConfigBuffer ReadDefaultCommConfig(LPCSTR name) {
    CommConfigBuffer config;
    DWORD capacity = 1024;
    config.size = capacity;
    config.bytes.reset(new (std::nothrow) BYTE[capacity]);
    if (!config.bytes) {
        AfxMessageBox(IDS_OUT_OF_MEMORY, MB_OK);
        return {};
    }
    if (!::GetDefaultCommConfigA(name, config.get(), &config.size)) {
        config.bytes.reset();
        capacity = config.size;
        config.bytes.reset(new (std::nothrow) BYTE[capacity]);
        if (!config.bytes) {
            AfxMessageBox(IDS_OUT_OF_MEMORY, MB_OK);
            return {};
        }
        if (!::GetDefaultCommConfigA(name, config.get(), &config.size)) {
            return {};
        }
    }
    if (capacity < sizeof(COMMCONFIG)) {
        return {}; // no configuration fits there, whatever the call said
    }
    return config;
}

int FlowControlOf(const DCB& dcb) {
    if (dcb.fOutX || dcb.fInX) {
        return kFlowXonXoff;
    }
    if (dcb.fOutxCtsFlow || dcb.fOutxDsrFlow) {
        return kFlowHardware;
    }
    return kFlowNone;
}

// Only the four flow-control bits change.
void SetFlowControl(DCB& dcb, int choice) {
    switch (choice) {
    case kFlowXonXoff:
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        break;
    case kFlowHardware:
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = TRUE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        break;
    case kFlowNone:
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        break;
    default:
        break; // no selection: as stored
    }
}

} // namespace

void CSetupDlg::EnableSerialControls(BOOL bEnable) {
    static const int kControls[] = {
        IDC_BAUDRATE,       IDC_DATABITS,       IDC_PARITY,       IDC_STOPBITS,       IDC_FLOWCONTROL,
        IDC_LABEL_BAUDRATE, IDC_LABEL_DATABITS, IDC_LABEL_PARITY, IDC_LABEL_STOPBITS, IDC_LABEL_FLOWCONTROL,
    };
    for (const int id : kControls) {
        if (CWnd* control = GetDlgItem(id)) {
            control->EnableWindow(bEnable);
        }
    }
}

void CSetupDlg::OnSelchangePort() {
    CString port;
    m_cbPort.GetLBText(m_cbPort.GetCurSel(), port);
    const BOOL com = IsComPort(port);
    EnableSerialControls(com);
    if (!com) {
        return; // the lists keep their selections, disabled
    }

    const CommConfigBuffer config = ReadDefaultCommConfig(DeviceName(port));
    if (!config.bytes) {
        return;
    }
    const DCB& dcb = config.get()->dcb;

    // The rate is looked up by its text; one that the list lacks joins its end for the dialog's life.
    CString rate;
    rate.Format("%d", static_cast<int>(dcb.BaudRate));
    if (m_cbBaudRate.SelectString(-1, rate) == CB_ERR) {
        m_cbBaudRate.AddString(rate);
        m_cbBaudRate.SelectString(-1, rate);
    }
    // The other lists are in the order of their values; a value outside a list selects nothing.
    m_cbDataBits.SetCurSel(dcb.ByteSize - 4);
    m_cbParity.SetCurSel(dcb.Parity);
    m_cbStopBits.SetCurSel(dcb.StopBits);
    m_cbFlowControl.SetCurSel(FlowControlOf(dcb));
}

BOOL CSetupDlg::WriteSerialSettings(LPCTSTR pszPort) {
    const CString port(pszPort);
    if (!IsComPort(port)) {
        return TRUE;
    }
    const CString name = DeviceName(port);
    // From the configuration stored now, not from what the dialog read earlier.
    const CommConfigBuffer config = ReadDefaultCommConfig(name);
    if (!config.bytes) {
        return FALSE;
    }
    DCB& dcb = config.get()->dcb;

    if (const int sel = m_cbBaudRate.GetCurSel(); sel != CB_ERR) {
        CString rate;
        m_cbBaudRate.GetLBText(sel, rate);
        dcb.BaudRate = static_cast<DWORD>(std::atoi(rate));
    }
    if (const int sel = m_cbDataBits.GetCurSel(); sel != CB_ERR) {
        dcb.ByteSize = static_cast<BYTE>(sel + 4);
    }
    if (const int sel = m_cbParity.GetCurSel(); sel != CB_ERR) {
        dcb.Parity = static_cast<BYTE>(sel);
    }
    if (const int sel = m_cbStopBits.GetCurSel(); sel != CB_ERR) {
        dcb.StopBits = static_cast<BYTE>(sel);
    }
    SetFlowControl(dcb, m_cbFlowControl.GetCurSel());

    return ::SetDefaultCommConfigA(name, config.get(), config.size);
}
