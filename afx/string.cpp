// CString and CStringArray: 8-bit text in the ANSI code page, lengths and indexes in bytes as in MFC's
// multibyte build.
#include "afx.h"

#include <mbstring.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const unsigned char* Mbs(LPCSTR psz) {
    return reinterpret_cast<const unsigned char*>(psz);
}

} // namespace

CString::CString(LPCSTR psz) : m_text(psz ? psz : "") {}

CString::CString(LPCSTR pch, int nLength)
    : m_text(pch, pch ? static_cast<size_t>(std::max(nLength, 0)) : 0) {}

CString::CString(char ch, int nRepeat) : m_text(static_cast<size_t>(std::max(nRepeat, 0)), ch) {}

CString& CString::operator=(LPCSTR psz) {
    m_text = psz ? psz : "";
    return *this;
}

CString& CString::operator+=(LPCSTR psz) {
    if (psz) {
        m_text += psz;
    }
    return *this;
}

CString& CString::operator+=(char ch) {
    m_text += ch;
    return *this;
}

int CString::Compare(LPCSTR psz) const {
    return _mbscmp(Mbs(m_text.c_str()), Mbs(psz ? psz : ""));
}

BOOL CString::LoadString(UINT nID) {
    // LoadStringA says nothing of a cut text but that it filled the buffer: grow until it does not.
    for (int size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size));
        const int length = ::LoadStringA(AfxGetResourceHandle(), nID, buffer.data(), size);
        if (length < size - 1) {
            m_text.assign(buffer.data(), static_cast<size_t>(std::max(length, 0)));
            return length > 0;
        }
    }
    m_text.clear();
    return FALSE;
}

CString& CString::MakeUpper() {
    for (size_t i = 0; i < m_text.size(); ++i) {
        const BYTE c = static_cast<BYTE>(m_text[i]);
        if (::IsDBCSLeadByte(c) && i + 1 < m_text.size()) {
            ++i; // a trail byte may look like a lower-case letter
        } else if (c >= 'a' && c <= 'z') {
            m_text[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return *this;
}

int CString::Find(LPCSTR pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > GetLength()) {
        return -1;
    }
    // Character by character rather than _mbsstr, which some C runtimes (Wine's) run as a plain strstr.
    const size_t length = std::strlen(pszSub);
    for (size_t at = static_cast<size_t>(nStart); at + length <= m_text.size();) {
        if (m_text.compare(at, length, pszSub) == 0) {
            return static_cast<int>(at);
        }
        at += ::IsDBCSLeadByte(static_cast<BYTE>(m_text[at])) && at + 1 < m_text.size() ? 2 : 1;
    }
    return -1;
}

CString CString::Left(int nCount) const {
    const int n = std::clamp(nCount, 0, GetLength());
    return CString(m_text.c_str(), n);
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    const int first = std::clamp(nFirst, 0, GetLength());
    const int count = std::clamp(nCount, 0, GetLength() - first);
    return CString(m_text.c_str() + first, count);
}

CString CString::Right(int nCount) const {
    const int n = std::clamp(nCount, 0, GetLength());
    return CString(m_text.c_str() + (GetLength() - n), n);
}

void CString::Format(LPCSTR pszFormat, ...) {
    // Some C runtimes answer -1 rather than the length for a buffer too small: grow until the text fits.
    std::vector<char> buffer(128);
    for (;;) {
        va_list args;
        va_start(args, pszFormat);
        const int length = std::vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
        va_end(args);
        if (length >= 0 && static_cast<size_t>(length) < buffer.size()) {
            m_text.assign(buffer.data(), static_cast<size_t>(length));
            return;
        }
        if (buffer.size() >= (1u << 20)) {
            m_text.assign(buffer.data()); // a broken format: keep what fitted
            return;
        }
        buffer.resize(length >= 0 ? static_cast<size_t>(length) + 1 : buffer.size() * 2);
    }
}

LPSTR CString::GetBuffer(int nMinBufLength) {
    m_text.resize(std::max(m_text.size(), static_cast<size_t>(std::max(nMinBufLength, 0))));
    return m_text.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    const size_t length = nNewLength < 0 ? std::strlen(m_text.c_str()) : static_cast<size_t>(nNewLength);
    m_text.resize(std::min(length, m_text.size()));
}

CString operator+(const CString& a, const CString& b) {
    CString result(a);
    result += b;
    return result;
}

CString operator+(const CString& a, LPCSTR b) {
    CString result(a);
    result += b;
    return result;
}

CString operator+(LPCSTR a, const CString& b) {
    CString result(a);
    result += b;
    return result;
}

bool operator==(const CString& a, const CString& b) {
    return std::strcmp(a, b) == 0;
}
bool operator==(const CString& a, LPCSTR b) {
    return std::strcmp(a, b ? b : "") == 0;
}
bool operator==(LPCSTR a, const CString& b) {
    return b == a;
}
bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
bool operator!=(const CString& a, LPCSTR b) {
    return !(a == b);
}
bool operator!=(LPCSTR a, const CString& b) {
    return !(b == a);
}

INT_PTR CStringArray::Add(const CString& item) {
    m_items.push_back(item);
    return GetSize() - 1;
}
