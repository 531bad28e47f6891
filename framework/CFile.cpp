// Read access to a file.
#include "CFile.h"

CFile::~CFile()
{
    Close();
}

BOOL CFile::Open(const char* path, UINT flags)
{
    Close();
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (flags & shareDenyWrite)
        share = FILE_SHARE_READ;
    m_hFile.Reset(::CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_hFile);
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_hFile, &size))
        return 0;
    return static_cast<ULONGLONG>(size.QuadPart);
}

UINT CFile::Read(void* buffer, UINT count)
{
    DWORD read = 0;
    if (!::ReadFile(m_hFile, buffer, count, &read, nullptr))
        throw new CFileException(::GetLastError());
    return read;
}

void CFile::Close()
{
    m_hFile.Close();
}
