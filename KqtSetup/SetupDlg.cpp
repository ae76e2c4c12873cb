#include "SetupDlg.h"

#include "kit_names.h"

#include <winspool.h>

#include <mbstring.h>

#include <memory>
#include <new>

namespace {

bool Equal(LPCSTR a, LPCSTR b) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b)) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// CAboutDlg

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(CAboutDlg::IDD) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

// ---------------------------------------------------------------------------------------------------------
// CSetupDlg

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_INSTALL, OnInstall)
ON_CBN_SELCHANGE(IDC_PORT, OnSelchangePort)
ON_BN_CLICKED(IDC_REMOVE, OnRemove)
END_MESSAGE_MAP()

CSetupDlg::CSetupDlg(CWnd* pParent)
    : CDialog(CSetupDlg::IDD, pParent), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_STOPBITS, m_cbStopBits);
    DDX_Control(pDX, IDC_PARITY, m_cbParity);
    DDX_Control(pDX, IDC_FLOWCONTROL, m_cbFlowControl);
    DDX_Control(pDX, IDC_DATABITS, m_cbDataBits);
    DDX_Control(pDX, IDC_BAUDRATE, m_cbBaudRate);
    DDX_Control(pDX, IDC_PORT, m_cbPort);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog(); // the serial lists from the initialisation data, then the bindings

    SetForegroundWindow();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    FillPortList();
    if (m_cbPort.GetCount() <= 0) {
        AfxMessageBox(IDS_NO_SUPPORTED_PORT, MB_OK);
        PostMessage(WM_COMMAND, IDCANCEL, 0); // closes the dialog once start-up is over
    } else {
        if (m_cbPort.SelectString(-1, "COM") == CB_ERR) {
            m_cbPort.SetCurSel(0);
        }
        OnSelchangePort(); // a selection made here sends no notification
    }

    CStringArray printers;
    const BOOL installed = FindInstalledPrinters(printers);
    GetDlgItem(IDC_REMOVE)->EnableWindow(installed);
    GetDlgItem(IDC_INSTALL)->EnableWindow(!installed);
    SetStatusText(installed ? IDS_CLICK_REMOVE : IDS_CLICK_INSTALL);

    return TRUE; // the focus goes to the first tab stop, the port list
}

void CSetupDlg::FillPortList() {
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned);
    if (needed == 0) {
        return;
    }
    const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !::EnumPortsA(nullptr, 1, buffer.get(), needed, &needed, &returned)) {
        return;
    }
    const auto* ports = reinterpret_cast<const PORT_INFO_1A*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
        CString name(ports[i].pName);
        name.MakeUpper();
        if (IsSupportedPort(name)) {
            m_cbPort.AddString(name);
        }
    }
}

BOOL CSetupDlg::IsSupportedPort(CString name) {
    name.MakeUpper();
    return Equal(name, "FILE:") || IsComPort(name) || Equal(name.Left(3), "LPT");
}

BOOL CSetupDlg::IsComPort(const CString& port) {
    return Equal(port.Left(3), "COM");
}

BOOL CSetupDlg::FindInstalledPrinters(CStringArray& names) {
    names.SetSize(0);
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &returned);
    if (needed != 0) {
        const std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
        if (buffer &&
            ::EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 1, buffer.get(), needed, &needed, &returned)) {
            const auto* printers = reinterpret_cast<const PRINTER_INFO_1A*>(buffer.get());
            for (DWORD i = 0; i < returned; ++i) {
                const CString name(printers[i].pName);
                if (name.Find(kqkit::kModelWord) >= 0) {
                    names.Add(name);
                }
            }
        }
    }
    return names.GetSize() > 0;
}

void CSetupDlg::SetStatusText(UINT nID) {
    CString text;
    if (text.LoadString(nID)) {
        SetDlgItemText(IDC_STATUS, text);
    }
}

void CSetupDlg::BeginProgress() {
    m_progress.SetRange(1, 4);
}

void CSetupDlg::ProgressStep(UINT nIDStatus) {
    m_progress.OffsetPos(1);
    SetStatusText(nIDStatus);
}

void CSetupDlg::OnOK() {
    CDialog::OnOK();
}

void CSetupDlg::OnCancel() {
    CDialog::OnCancel();
}

void CSetupDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CSetupDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    // Minimised: the application icon, centred in the client area.
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CSetupDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}
