// Security Center, Windows' record of the antivirus and firewall products on the machine: its WMI
// namespace (root\SecurityCenter2) and the registrations the registry holds for it.
#pragma once
#include "ComScope.h"
#include <wbemidl.h>
#include <string>
#include <vector>

class CInstallation;

// An HRESULT as the report shows it: "0x80041002".
std::wstring HexResult(HRESULT result);

// Security Center's namespace, connected as this program (COM must be initialised on the thread).
// On failure `noWmi` tells whether WMI itself is missing, or only the namespace.
HRESULT ConnectSecurityCenter(CComPtrOf<IWbemServices>& services, bool& noWmi);

// What Security Center says about the antivirus products registered with it.
struct AntivirusAnswer
{
    bool asked = false;                 // it could be asked at all
    std::wstring why;                   // why it could not
    std::vector<std::wstring> others;   // products besides Windows' own whose program is there
};
AntivirusAnswer AskSecurityCenter(const CInstallation& installation);
// The antivirus registrations the registry holds whose program is there, added to `others`.
void AntivirusInRegistry(const CInstallation& installation, std::vector<std::wstring>& others);
