#include "framework/str.h"

#include "framework/winapp.h"

namespace {

using Text = std::basic_string<TCHAR>;

int Clip(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

int IndexOf(Text::size_type pos) { return pos == Text::npos ? -1 : static_cast<int>(pos); }

}  // namespace

CString& CString::operator=(LPCTSTR psz) {
    m_str = psz ? psz : _T("");
    return *this;
}

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}

CString& CString::operator+=(LPCTSTR psz) {
    if (psz) m_str += psz;
    return *this;
}

CString& CString::operator+=(TCHAR ch) {
    m_str += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    CString s(a);
    s += b;
    return s;
}

CString operator+(const CString& a, LPCTSTR b) {
    CString s(a);
    s += b;
    return s;
}

CString operator+(LPCTSTR a, const CString& b) {
    CString s(a);
    s += b;
    return s;
}

int CString::Find(TCHAR ch, int nStart) const {
    if (nStart < 0 || nStart > GetLength()) return -1;
    return IndexOf(m_str.find(ch, static_cast<std::size_t>(nStart)));
}

int CString::Find(LPCTSTR pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > GetLength()) return -1;
    return IndexOf(m_str.find(pszSub, static_cast<std::size_t>(nStart)));
}

int CString::ReverseFind(TCHAR ch) const { return IndexOf(m_str.rfind(ch)); }

CString CString::Left(int nCount) const { return Mid(0, nCount); }

CString CString::Right(int nCount) const {
    nCount = Clip(nCount, 0, GetLength());
    return Mid(GetLength() - nCount, nCount);
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = Clip(nFirst, 0, GetLength());
    nCount = Clip(nCount, 0, GetLength() - nFirst);
    return CString(m_str.c_str() + nFirst, nCount);
}

BOOL CString::LoadString(UINT nID) {
    // The platform truncates silently, so grow the buffer until the text fits with room to spare.
    HINSTANCE hInst = AfxGetResourceHandle();
    Text buf(256, 0);
    for (;;) {
        int n = ::LoadString(hInst, nID, &buf[0], static_cast<int>(buf.size()));
        if (n <= 0) {
            m_str.clear();
            return FALSE;
        }
        if (static_cast<std::size_t>(n) < buf.size() - 1) {
            m_str.assign(buf.c_str(), static_cast<std::size_t>(n));
            return TRUE;
        }
        buf.assign(buf.size() * 2, 0);
    }
}
