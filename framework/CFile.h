// Read access to a file, as the picture loader uses it. Read failures throw a
// CFileException pointer, which the caller catches and deletes.
#pragma once
#include "Handles.h"

class CFileException
{
public:
    explicit CFileException(DWORD error) : m_lOsError(error) {}
    void Delete() { delete this; }
    DWORD m_lOsError;
};

class CFile
{
public:
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        shareDenyWrite = 0x0020,
        shareDenyNone = 0x0040,
    };

    CFile() {}
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    BOOL Open(const char* path, UINT flags);
    ULONGLONG GetLength() const;
    // Reads up to `count` bytes; returns the count read. Throws CFileException* on failure.
    UINT Read(void* buffer, UINT count);
    void Close();

private:
    CHandle m_hFile;
};
