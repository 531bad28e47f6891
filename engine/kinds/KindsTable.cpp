// The kinds table: each kind's unit gives its one object, listed here in the order of a search's
// findings. A new kind is its unit and one line here.
#include "KindsTable.h"
#include <cstring>

const ILeftoverKind& KeyKind();
const ILeftoverKind& FilterEntryKind();
const ILeftoverKind& ServiceImageKind();
const ILeftoverKind& ProviderOrderKind();
const ILeftoverKind& TaskKind();
const ILeftoverKind& TraceSessionKind();
const ILeftoverKind& ClassKind();
const ILeftoverKind& TypeLibraryKind();
const ILeftoverKind& InterfaceKind();
const ILeftoverKind& AppIdKind();
const ILeftoverKind& UninstallEntryKind();
const ILeftoverKind& InstallerProductKind();
const ILeftoverKind& ClassHandlerKind();
const ILeftoverKind& EventSourceKind();
const ILeftoverKind& WinsockKind();
const ILeftoverKind& SecurityCenterKind();
const ILeftoverKind& ProtectionSettingKind();
const ILeftoverKind& ApprovalKind();
const ILeftoverKind& StartupEntryKind();
const ILeftoverKind& StartupValueKind();
const ILeftoverKind& DebuggerEntryKind();
const ILeftoverKind& BootExecuteKind();
const ILeftoverKind& LsaPackageKind();
const ILeftoverKind& RootCertificateKind();
const ILeftoverKind& ProxySettingKind();
const ILeftoverKind& BrowserExtensionKind();
const ILeftoverKind& FolderKind();
const ILeftoverKind& DriverFileKind();

const std::vector<const ILeftoverKind*>& LeftoverKinds()
{
    static const std::vector<const ILeftoverKind*> kinds = {
        &KeyKind(),             // keys named after the product, services among them
        &FilterEntryKind(),     // entries of device filter lists
        &ServiceImageKind(),    // services by what they run
        &ProviderOrderKind(),   // entries of the network provider order (after the services they name)
        &TaskKind(),            // scheduled tasks, each as one unit (after the keys it claims)
        &TraceSessionKind(),    // trace sessions Windows starts at boot
        &ClassKind(),           // leftovers by reference
        &TypeLibraryKind(),
        &InterfaceKind(),
        &AppIdKind(),
        &UninstallEntryKind(),
        &InstallerProductKind(), // Windows Installer's registration of a product that is gone
        &ClassHandlerKind(),    // what names a class the references take
        &EventSourceKind(),
        &WinsockKind(),
        &SecurityCenterKind(),
        &ProtectionSettingKind(),  // Windows' own protection left off (after the registrations it asks about)
        &ApprovalKind(),
        &StartupEntryKind(),    // start-up values by what they run
        &StartupValueKind(),    // the tray program's start-up value
        &DebuggerEntryKind(),    // programs that no longer start
        &BootExecuteKind(),      // entries of the lists Windows reads at every start
        &LsaPackageKind(),
        &RootCertificateKind(), // root certificates of HTTPS scanning, in the machine's and users' Root stores
        &ProxySettingKind(),    // proxies left on: each user's WinINet, the machine's WinHTTP
        &BrowserExtensionKind(), // the browsers' extensions: registrations, forced installs, Firefox's
        &FolderKind(),          // files, once every registration is decided: what still names them stays
        &DriverFileKind(),
    };
    return kinds;
}

const std::vector<KindOrderRule>& KindsOrderRules()
{
    // The files kinds come after every kind that claims files; the test of the table checks that
    // too, from the kinds themselves.
    static const std::vector<KindOrderRule> rules = {
        { "providerOrderEntry", "key" },     // its reason: the provider's service key is a finding
        { "providerOrderEntry", "service" },
        { "scheduledTask", "key" },          // it takes over the task keys the name search found
        { "classHandler", "class" },         // it names a class that is a finding
        { "approval", "class" },
        { "value", "startupEntry" },         // the tray program's value last of the start-up values
    };
    return rules;
}

const ILeftoverKind* KindOf(const CmdListEntry& entry)
{
    if (entry.owner)
        return entry.owner;
    switch (entry.kind) {
    case kKindKey: return &KeyKind();
    case kKindValue: return &StartupValueKind();
    case kKindFilterEntry: return &FilterEntryKind();
    default: return nullptr;
    }
}

const ILeftoverKind* KindNamed(const char* recordName)
{
    for (const ILeftoverKind* kind : LeftoverKinds())
        if (strcmp(kind->Identity().recordName, recordName) == 0)
            return kind;
    return nullptr;
}
