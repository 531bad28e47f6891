// 8-bit string of the framework layer.
#include "CString.h"
#include "AfxResource.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

BOOL CString::LoadString(UINT id)
{
    // String tables hold UTF-16; LoadStringA converts to the ANSI code page. Resource
    // strings are at most 4097 characters, so one generous buffer always holds them.
    std::vector<char> buffer(8192);
    int length = ::LoadStringA(AfxGetResourceHandle(), id, buffer.data(), static_cast<int>(buffer.size()));
    m_text.assign(buffer.data(), length > 0 ? length : 0);
    return length > 0;
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0) {
        m_text.clear();
    } else {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        m_text.assign(buffer.data(), length);
    }
    va_end(args);
}

int CString::Find(const char* what, int start) const
{
    if (start < 0 || start > GetLength())
        return -1;
    size_t at = m_text.find(what ? what : "", static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(char what, int start) const
{
    if (start < 0 || start > GetLength())
        return -1;
    size_t at = m_text.find(what, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Replace(const char* oldText, const char* newText)
{
    if (!oldText || !*oldText)
        return 0;
    const std::string from(oldText), to(newText ? newText : "");
    int count = 0;
    for (size_t at = m_text.find(from); at != std::string::npos; at = m_text.find(from, at + to.size())) {
        m_text.replace(at, from.size(), to);
        ++count;
    }
    return count;
}

CString& CString::MakeLower()
{
    // Same rule as the C runtime's _strlwr in the "C" locale: only A to Z change.
    for (char& c : m_text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return *this;
}

CString CString::Left(int count) const
{
    if (count <= 0)
        return CString();
    return CString(m_text.substr(0, static_cast<size_t>(count)).c_str());
}

CString CString::Mid(int first) const
{
    if (first < 0)
        first = 0;
    if (first >= GetLength())
        return CString();
    return CString(m_text.c_str() + first);
}

CString CString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (first >= GetLength() || count <= 0)
        return CString();
    return CString(m_text.substr(static_cast<size_t>(first), static_cast<size_t>(count)).c_str());
}
