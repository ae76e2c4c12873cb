// CFileFind: FindFirstFileA and FindNextFileA, one match fetched ahead so that FindNextFile can say
// whether the match it moves to is the last.
#include "afx.h"

BOOL CFileFind::FindFile(LPCSTR pstrName, DWORD) {
    Close();
    m_hFind = ::FindFirstFileA(pstrName ? pstrName : "*.*", &m_next);
    m_bHaveNext = m_hFind != INVALID_HANDLE_VALUE;
    return m_bHaveNext;
}

BOOL CFileFind::FindNextFile() {
    if (!m_bHaveNext) {
        return FALSE;
    }
    m_found = m_next;
    m_bHaveNext = ::FindNextFileA(m_hFind, &m_next);
    return m_bHaveNext;
}

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) {
        ::FindClose(m_hFind);
        m_hFind = INVALID_HANDLE_VALUE;
    }
    m_bHaveNext = FALSE;
}

CString CFileFind::GetFileName() const {
    return CString(m_found.cFileName);
}
