// 8-bit string of the framework layer: the few operations the program uses, on top of std::string.
#pragma once
#include <windows.h>
#include <string>

class CString
{
public:
    CString() {}
    CString(const char* text) : m_text(text ? text : "") {}
    CString(const char* text, int length) : m_text(text, length) {}
    CString(const CString&) = default;
    CString& operator=(const CString&) = default;
    CString& operator=(const char* text) { m_text = text ? text : ""; return *this; }

    // Loads string resource `id` from the current resource module; a missing string loads as empty.
    BOOL LoadString(UINT id);
    void Format(const char* format, ...);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(int index) const { return m_text[index]; }

    // Position of `what` at or after `start`, or -1.
    int Find(const char* what, int start = 0) const;
    int Find(char what, int start = 0) const;
    // Replaces every occurrence of `oldText` (not empty) by `newText`; returns the count.
    int Replace(const char* oldText, const char* newText);
    CString& MakeLower();
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    operator const char*() const { return m_text.c_str(); }
    const char* GetString() const { return m_text.c_str(); }

    CString& operator+=(const char* text) { m_text += text ? text : ""; return *this; }
    CString& operator+=(char c) { m_text += c; return *this; }
    friend CString operator+(const CString& a, const char* b) { CString r(a); r += b; return r; }
    friend CString operator+(const char* a, const CString& b) { CString r(a); r += b; return r; }
    friend CString operator+(const CString& a, const CString& b) { CString r(a); r += b.GetString(); return r; }

    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    int Compare(const char* other) const { return strcmp(m_text.c_str(), other ? other : ""); }

private:
    std::string m_text;
};
