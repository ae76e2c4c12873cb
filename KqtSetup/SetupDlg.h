// The installer's main dialog and its about box.
#pragma once

#include <afxcmn.h>
#include <afxwin.h>

#include "resource.h"

class CSetupDlg : public CDialog {
  public:
    explicit CSetupDlg(CWnd* pParent = nullptr);

    enum { IDD = IDD_SETUP_DIALOG };
    CProgressCtrl m_progress;
    CComboBox m_cbStopBits;
    CComboBox m_cbParity;
    CComboBox m_cbFlowControl;
    CComboBox m_cbDataBits;
    CComboBox m_cbBaudRate;
    CComboBox m_cbPort;
    CString m_strStatus; // exchanged with the status line; the line itself changes through SetStatusText

    // Services of the install and remove sequences.

    // Shows string `nID` on the status line; a string that cannot be loaded leaves the line as it is.
    void SetStatusText(UINT nID);
    // A sequence starts the progress bar at 1 of 4, and each of its steps advances it and names itself.
    void BeginProgress();
    void ProgressStep(UINT nIDStatus);
    // The local printers whose name holds the model word "KQT-50" (exact case); TRUE when there is one.
    BOOL FindInstalledPrinters(CStringArray& names);
    // COM1:, LPT2: and FILE: in any case; nothing else.
    static BOOL IsSupportedPort(CString name);
    // Whether `port` begins with "COM", exact case (the port list holds upper-cased names).
    static BOOL IsComPort(const CString& port);

    // Serial settings of a COM port.

    // Writes the five selections as the default configuration of `pszPort` (as the port list shows it):
    // TRUE without writing for a port other than COM, FALSE when the configuration cannot be read or no
    // memory is left, else the result of the write. A list without a selection leaves its setting as stored.
    BOOL WriteSerialSettings(LPCTSTR pszPort);
    // The five serial lists and their labels.
    void EnableSerialControls(BOOL bEnable);

  protected:
    HICON m_hIcon;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnInstall();
    afx_msg void OnSelchangePort();
    afx_msg void OnRemove();

    DECLARE_MESSAGE_MAP()

  private:
    void FillPortList();
    // The install's last part: the printer's print processor and attributes; FALSE when it failed.
    BOOL SetPrinterProperties(const CString& printerName);
};

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();

    enum { IDD = IDD_ABOUTBOX };

  protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
