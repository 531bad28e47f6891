// What makes a root certificate a product's leftover, apart from the stores it is read from: a
// product that scanned HTTPS put its own CA into the Root stores, and whoever holds that CA's key
// can stand in for any site. Kept apart so that the rule can be tried without a store.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CKeywords;

struct RootCertificateFacts
{
    bool selfIssued = false;     // its subject is its issuer: a CA of its own, trusted only by being here
    std::wstring subject;        // the whole subject, as X.500 text
    std::wstring organisation;   // the subject's O
    std::wstring commonName;     // the subject's CN
    bool inPolicyStore = false;  // also in a GroupPolicy or Enterprise Root store: the administrator's
};

enum class RootVerdict
{
    Leftover,
    NotTheProducts,  // not self-issued, no keyword in its O or CN, or Microsoft's
    ByPolicy,        // the administrator trusts it too
    MakerInstalled,  // a product of the maker whose name it carries is still installed
};

// The verdict on one certificate; `keyword` gets the keyword its subject holds, `keptBy` the
// installed product that keeps it.
RootVerdict JudgeRootCertificate(const RootCertificateFacts& facts, const CKeywords& keywords,
                                 const std::vector<std::wstring>& installedNames, std::wstring& keyword, std::wstring& keptBy);
// Whether a subject is Microsoft's: its roots are never a product's leftover.
bool IsMicrosoftSubject(const std::wstring& subject);
// The encoded certificate (and its friendly name) in a serialized store element, as a
// registry store's Blob value holds it; FALSE when it holds none.
bool EncodedCertificateOf(const std::vector<BYTE>& element, std::vector<BYTE>& encoded, std::wstring& friendlyName);
