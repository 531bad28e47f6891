// A small Windows service for the tests of removal through the service manager. It runs until
// it is told to stop; with "--keep-running <event name>" it accepts no stop and runs until the
// named event is set (a test's clean-up), like a service that will not stop for a remover.
#include <windows.h>
#include <cstring>

namespace {
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;
bool g_acceptsStop = true;
const char* g_releaseEvent = nullptr;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && g_acceptsStop ? SERVICE_ACCEPT_STOP : 0;
    ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP && g_acceptsStop) {
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_status = ::RegisterServiceCtrlHandlerExA("", Handler, nullptr);
    g_stop = g_acceptsStop ? ::CreateEventA(nullptr, TRUE, FALSE, nullptr)
                           : ::CreateEventA(nullptr, TRUE, FALSE, g_releaseEvent);
    Report(SERVICE_RUNNING);
    ::WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}
}

int main(int argc, char** argv)
{
    if (argc > 2 && strcmp(argv[1], "--keep-running") == 0) {
        g_acceptsStop = false;
        g_releaseEvent = argv[2];
    }
    SERVICE_TABLE_ENTRYA table[] = { { const_cast<char*>(""), ServiceMain }, { nullptr, nullptr } };
    return ::StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
