// CString: the framework's wide-character string, loadable from the module's string table.
#pragma once

#include <string>

#include "platform/win32api.h"

class CString {
public:
    CString() = default;
    CString(LPCTSTR psz) : m_str(psz ? psz : _T("")) {}
    CString(LPCTSTR pch, int nLength) {
        if (pch && nLength > 0) m_str.assign(pch, static_cast<std::size_t>(nLength));
    }
    explicit CString(TCHAR ch, int nRepeat = 1) : m_str(nRepeat > 0 ? static_cast<std::size_t>(nRepeat) : 0, ch) {}

    operator LPCTSTR() const { return m_str.c_str(); }
    LPCTSTR GetString() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    TCHAR GetAt(int nIndex) const { return m_str[static_cast<std::size_t>(nIndex)]; }
    TCHAR operator[](int nIndex) const { return GetAt(nIndex); }

    CString& operator=(LPCTSTR psz);
    CString& operator+=(const CString& s);
    CString& operator+=(LPCTSTR psz);
    CString& operator+=(TCHAR ch);
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, LPCTSTR b);
    friend CString operator+(LPCTSTR a, const CString& b);
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, LPCTSTR b) { return a.Compare(b) == 0; }
    friend bool operator==(LPCTSTR a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, LPCTSTR b) { return !(a == b); }
    int Compare(LPCTSTR psz) const { return m_str.compare(psz ? psz : _T("")); }

    // Index of the first match at or after nStart, -1 when there is none.
    int Find(TCHAR ch, int nStart = 0) const;
    int Find(LPCTSTR pszSub, int nStart = 0) const;
    int ReverseFind(TCHAR ch) const;
    // Out-of-range counts and positions are clipped, as the framework has always done.
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;

    // Replaces the text with string nID of the resource module; FALSE (and empty) when it has none.
    BOOL LoadString(UINT nID);

private:
    std::basic_string<TCHAR> m_str;
};
