// Scratch services of the test prefix, made through the service manager: a kernel driver's
// entry that nothing runs, and the test service program, stopping when told or not at all.
#include "TestSupport.h"
#include <cstdio>
#include <functional>

namespace kt {

namespace {
std::string QuotedServiceProgram(const std::string& arguments)
{
    return "\"" + TestDir() + "klarner_test_service.exe\"" + arguments;
}

bool CreateScratchService(const std::string& name, DWORD type, const std::string& binary)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, type,
                                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr,
                                                 nullptr, nullptr, nullptr, nullptr)
                                : nullptr;
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return service != nullptr;
}
}

ScratchService::ScratchService(const std::string& name)
    : m_name(name),
      m_created(CreateScratchService(name, SERVICE_KERNEL_DRIVER, "C:\\windows\\system32\\drivers\\" + name + ".sys"))
{
}

ScratchService::ScratchService(const std::string& name, bool keepRunning)
    : m_name(name), m_releaseEvent(keepRunning ? "klarner-test-release-" + name : "")
{
    m_created = CreateScratchService(name, SERVICE_WIN32_OWN_PROCESS,
                                     QuotedServiceProgram(keepRunning ? " --keep-running " + m_releaseEvent : ""));
}

namespace {
// Runs `use` on the service opened with `access`; the error of opening it when it does not open.
DWORD WithService(const std::string& name, DWORD access, const std::function<DWORD(SC_HANDLE)>& use)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), access) : nullptr;
    const DWORD result = service ? use(service) : GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return result;
}
}

ScratchService::~ScratchService()
{
    Release();
    WithService(m_name, SERVICE_ALL_ACCESS, [](SC_HANDLE service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        return DWORD(0);
    });
}

bool ScratchService::Start()
{
    // A start the manager turns down at once is tried again for a while: on a loaded machine
    // a start has been refused once (and never since) right after another program's services
    // were deleted. Each refusal is printed, so a lasting one is told by its error.
    DWORD error = 0;
    const bool running = WaitUntil([&] {
        error = WithService(m_name, SERVICE_ALL_ACCESS, [](SC_HANDLE service) {
            SERVICE_STATUS status = {};
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING)
                return DWORD(0);
            if (status.dwCurrentState == SERVICE_STOPPED && !StartServiceA(service, 0, nullptr))
                return GetLastError();
            return DWORD(ERROR_IO_PENDING);
        });
        if (error && error != ERROR_IO_PENDING)
            std::fprintf(stderr, "service %s was not started: error %lu\n", m_name.c_str(), error);
        return error == 0;
    });
    return running;
}

DWORD ScratchService::OpenError() const
{
    return WithService(m_name, SERVICE_QUERY_STATUS, [](SC_HANDLE) { return DWORD(0); });
}

bool ScratchService::MarkedForDeletion() const
{
    return WithService(m_name, DELETE, [](SC_HANDLE service) {
               return DWORD(DeleteService(service) ? 0 : GetLastError());
           }) == ERROR_SERVICE_MARKED_FOR_DELETE;
}

void ScratchService::Release()
{
    if (m_releaseEvent.empty())
        return;
    if (HANDLE release = OpenEventA(EVENT_MODIFY_STATE, FALSE, m_releaseEvent.c_str())) {
        SetEvent(release);
        CloseHandle(release);
    }
}

}  // namespace kt
