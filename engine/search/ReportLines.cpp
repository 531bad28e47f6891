#include "ReportLines.h"
#include <cstring>

namespace {
bool WriteWhole(HANDLE file, const char* text, DWORD length)
{
    while (length) {
        DWORD written = 0;
        if (!::WriteFile(file, text, length, &written, nullptr) || written == 0)
            return false;
        text += written;
        length -= written;
    }
    return true;
}
}

BOOL CHandleLines::WriteLine(const char* text)
{
    if (m_handle == INVALID_HANDLE_VALUE || m_handle == nullptr)
        return FALSE;
    return WriteWhole(m_handle, text, static_cast<DWORD>(strlen(text))) && WriteWhole(m_handle, "\r\n", 2);
}
