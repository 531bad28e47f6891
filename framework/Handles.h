// Owners of Windows resources, as the registry keys have theirs: each releases what it holds
// exactly once, on every path out of its scope, so that no error path has to remember it.
#pragma once
#include <windows.h>
#include <memory>

// Holds one resource of a kind that Traits describe (its type, whether a value holds one, and
// how it is released); movable, never copied.
template <class Traits> class CResourceOwner
{
public:
    typedef typename Traits::Type Type;

    CResourceOwner() {}
    explicit CResourceOwner(Type value) : m_value(value) {}
    ~CResourceOwner() { Close(); }
    CResourceOwner(const CResourceOwner&) = delete;
    CResourceOwner& operator=(const CResourceOwner&) = delete;
    CResourceOwner(CResourceOwner&& other) noexcept : m_value(other.Release()) {}
    CResourceOwner& operator=(CResourceOwner&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Type Get() const { return m_value; }
    operator Type() const { return m_value; }
    explicit operator bool() const { return Traits::Holds(m_value); }
    // For out parameters: releases what is held first.
    Type* Receive()
    {
        Close();
        return &m_value;
    }
    Type Release()
    {
        Type value = m_value;
        m_value = Type();
        return value;
    }
    void Reset(Type value = Type())
    {
        Close();
        m_value = value;
    }
    void Close()
    {
        if (Traits::Holds(m_value))
            Traits::Free(m_value);
        m_value = Type();
    }

private:
    Type m_value = Type();
};

// A kernel handle (thread, event, token, file), closed with CloseHandle. Null and
// INVALID_HANDLE_VALUE both hold nothing.
struct KernelHandleTraits
{
    typedef HANDLE Type;
    static bool Holds(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE handle) { ::CloseHandle(handle); }
};
typedef CResourceOwner<KernelHandleTraits> CHandle;

// Memory from LocalAlloc, and a SID from AllocateAndInitializeSid.
struct LocalFreeDeleter
{
    void operator()(void* block) const noexcept { ::LocalFree(block); }
};
template <class T> using CLocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

struct FreeSidDeleter
{
    void operator()(PSID sid) const noexcept { ::FreeSid(sid); }
};
typedef std::unique_ptr<void, FreeSidDeleter> CSidOwner;

// A movable block from GlobalAlloc, freed with GlobalFree unless handed on with Release.
struct GlobalFreeDeleter
{
    void operator()(void* block) const noexcept { ::GlobalFree(static_cast<HGLOBAL>(block)); }
};
typedef std::unique_ptr<void, GlobalFreeDeleter> CGlobalMemory;

// A global block locked for the scope: its address, null when it could not be locked.
class CGlobalLock
{
public:
    explicit CGlobalLock(HGLOBAL block) : m_block(block), m_bytes(::GlobalLock(block)) {}
    ~CGlobalLock() { Unlock(); }
    CGlobalLock(const CGlobalLock&) = delete;
    CGlobalLock& operator=(const CGlobalLock&) = delete;
    void* Bytes() const { return m_bytes; }
    // Unlocks early (the block may then be handed on).
    void Unlock()
    {
        if (m_bytes)
            ::GlobalUnlock(m_block);
        m_bytes = nullptr;
    }

private:
    HGLOBAL m_block;
    void* m_bytes;
};

// Holds a critical section for the scope.
class CCriticalSectionLock
{
public:
    explicit CCriticalSectionLock(CRITICAL_SECTION& section) : m_section(section) { ::EnterCriticalSection(&m_section); }
    ~CCriticalSectionLock() { ::LeaveCriticalSection(&m_section); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};
