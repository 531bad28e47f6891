// COM for the kinds that ask Windows through it (the Task Scheduler, WMI): initialised on this
// thread for as long as the scope lasts, whatever the thread had before, and interface pointers
// that release themselves.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <memory>

class CComScope
{
public:
    CComScope() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComScope()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    HRESULT m_result;
};

template <class T> struct ComRelease
{
    void operator()(T* object) const { object->Release(); }
};
template <class T> using CComPtrOf = std::unique_ptr<T, ComRelease<T>>;
