// Windows' own protection left off by a security product that is gone: the Defender policies that
// keep it quiet and the start types of Windows' protection services. What Security Center says is
// asked through a function, so that the decision can be tried where Security Center cannot be asked.
#pragma once
#include "LeftoverKind.h"
#include "../system/SecurityCenter.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a setting that differs from Windows' default comes to, on the evidence around it.
enum class ProtectionVerdict
{
    None,        // the setting is Windows' default: nothing to say
    Managed,     // kept: the machine is managed, the setting may be its administrator's
    OtherAv,     // kept: another antivirus turns Windows' own off on purpose
    ListedOnly,  // a finding, but Security Center could not be asked: never changed
    Finding,     // a finding that may be removed
};
ProtectionVerdict JudgeProtection(bool differsFromDefault, bool managed, const AntivirusAnswer& answer);

// Windows' default start type of one of its protection services; 0 for any other service.
DWORD DefaultProtectionStart(const std::wstring& service);

// The kind as the table holds it (Security Center asked through WMI), and one that asks `ask`.
const ILeftoverKind& ProtectionSettingKind();
std::unique_ptr<ILeftoverKind> MakeProtectionSettingKind(std::function<AntivirusAnswer(const CInstallation&)> ask);
