// The base of afx, as MFC's afx.h is: strings, string arrays and the file finder, which need nothing of
// windows or the application. Multibyte build only: every string is 8-bit text in the ANSI code page and
// every Windows call is the "A" form.
#pragma once

#if defined(UNICODE) || defined(_UNICODE)
#error "afx is the multibyte build: compile it and its users with _MBCS, without UNICODE"
#endif

#include <windows.h>

#include <string>
#include <vector>

#define AFXAPI

// The module whose string table CString::LoadString reads: the application's, which afxwin.h declares.
HINSTANCE AFXAPI AfxGetResourceHandle();

// ---------------------------------------------------------------------------------------------------------
// Strings

class CString {
  public:
    CString() = default;
    CString(LPCSTR psz); // NULL gives the empty string
    CString(LPCSTR pch, int nLength);
    explicit CString(char ch, int nRepeat = 1);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(int nIndex) const { return m_text[static_cast<size_t>(nIndex)]; }
    char operator[](int nIndex) const { return GetAt(nIndex); }
    operator LPCSTR() const { return m_text.c_str(); }

    CString& operator=(LPCSTR psz);
    CString& operator+=(LPCSTR psz);
    CString& operator+=(char ch);
    CString& operator+=(const CString& s) { return *this += static_cast<LPCSTR>(s); }

    // _mbscmp: <0, 0 or >0.
    int Compare(LPCSTR psz) const;

    // The string-table text of `nID` from the resource module; FALSE (and empty) when it has none.
    BOOL LoadString(UINT nID);
    // Upper-cases the single-byte characters; double-byte characters stay as they are.
    CString& MakeUpper();
    // Byte index of the first occurrence of `pszSub` at or after `nStart`, exact case, matched only at
    // character boundaries; -1 when there is none.
    int Find(LPCSTR pszSub, int nStart = 0) const;
    // Byte counts, clamped to the string.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;
    void Format(LPCSTR pszFormat, ...) __attribute__((format(printf, 2, 3)));

    // Room for at least `nMinBufLength` characters and a terminating zero; ReleaseBuffer ends the editing
    // (-1: the text runs to its first zero byte).
    LPSTR GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

  private:
    std::string m_text;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, LPCSTR b);
CString operator+(LPCSTR a, const CString& b);
bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, LPCSTR b);
bool operator==(LPCSTR a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, LPCSTR b);
bool operator!=(LPCSTR a, const CString& b);

class CStringArray {
  public:
    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
    void SetSize(INT_PTR nNewSize) { m_items.resize(static_cast<size_t>(nNewSize)); }
    INT_PTR Add(const CString& item);
    const CString& GetAt(INT_PTR nIndex) const { return m_items[static_cast<size_t>(nIndex)]; }
    void SetAt(INT_PTR nIndex, const CString& item) { m_items[static_cast<size_t>(nIndex)] = item; }
    CString& operator[](INT_PTR nIndex) { return m_items[static_cast<size_t>(nIndex)]; }
    const CString& operator[](INT_PTR nIndex) const { return m_items[static_cast<size_t>(nIndex)]; }
    void RemoveAll() { m_items.clear(); }

  private:
    std::vector<CString> m_items;
};

// ---------------------------------------------------------------------------------------------------------
// Files

// Files matching a name or pattern, one after the other; the search handle is closed at the end.
class CFileFind {
  public:
    CFileFind() = default;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;
    virtual ~CFileFind() { Close(); }

    // Starts a search; TRUE when at least one file matches. Call FindNextFile to reach the first.
    virtual BOOL FindFile(LPCSTR pstrName = nullptr, DWORD dwUnused = 0);
    // Moves to the next match; FALSE when the match moved to is the last one.
    virtual BOOL FindNextFile();
    void Close();
    // The name of the match moved to last.
    CString GetFileName() const;

  private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA m_next{};  // fetched ahead
    WIN32_FIND_DATAA m_found{}; // moved to
    BOOL m_bHaveNext = FALSE;
};
