// Winsock's header before windows.h: the TCP tables need its address families.
#include <winsock2.h>
#include <ws2ipdef.h>
#include "ListeningPorts.h"
#include <windows.h>
#include <iphlpapi.h>
#include <vector>

std::set<unsigned> ListeningPorts()
{
    std::set<unsigned> ports;
    for (ULONG family : { static_cast<ULONG>(AF_INET), static_cast<ULONG>(AF_INET6) }) {
        std::vector<BYTE> table(16 * 1024);
        DWORD size = static_cast<DWORD>(table.size());
        DWORD result = ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (result == ERROR_INSUFFICIENT_BUFFER) {
            table.resize(size);
            result = ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        }
        if (result != NO_ERROR)
            continue;
        // The port is in network order in the low word.
        auto port = [](DWORD value) { return static_cast<unsigned>(((value & 0xFF) << 8) | ((value >> 8) & 0xFF)); };
        if (family == AF_INET) {
            const MIB_TCPTABLE_OWNER_PID* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                ports.insert(port(rows->table[i].dwLocalPort));
        } else {
            const MIB_TCP6TABLE_OWNER_PID* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
            for (DWORD i = 0; i < rows->dwNumEntries; ++i)
                ports.insert(port(rows->table[i].dwLocalPort));
        }
    }
    return ports;
}
