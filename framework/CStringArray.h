// Growable array of CString, as the keyword list and path splitting use it.
#pragma once
#include "CString.h"
#include <vector>

class CStringArray
{
public:
    int Add(const CString& text) { m_items.push_back(text); return static_cast<int>(m_items.size()) - 1; }
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    const CString& GetAt(int index) const { return m_items[static_cast<size_t>(index)]; }
    const CString& operator[](int index) const { return GetAt(index); }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<CString> m_items;
};
