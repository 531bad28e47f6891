// What Windows Installer keeps of the products it installed for the machine: product codes as its
// keys spell them, the cached package, the components' key paths. Only the running installation's:
// Windows Installer answers for nothing else.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

class CInstallation;

// Where Windows Installer keeps what it installed for the machine, below HKEY_LOCAL_MACHINE.
extern const wchar_t kInstallerMachineData[];

// A product code ("{3C9B6C1E-7A41-4F0B-9C1D-2B6E8F1A4D01}") as Windows Installer's keys spell it
// ("E1C6B9C314A7B0F4C9D1B2E6F8A1D410"), and back; empty when it is no such code.
std::wstring PackedCode(const std::wstring& code);
std::wstring UnpackedCode(const std::wstring& packed);

// The product's cached package (its LocalPackage) as Windows Installer tells it; empty when it
// tells none.
std::wstring LocalPackageOf(const std::wstring& code);

// One component of a product: its key below the machine's Components key (below
// HKEY_LOCAL_MACHINE) and its key path for the product.
struct InstallerComponent
{
    std::wstring key;
    std::wstring path;
};
// The components of the given products (packed codes), by product: one pass over every component.
std::map<std::wstring, std::vector<InstallerComponent>> InstallerComponentsOf(const std::vector<std::wstring>& packedProducts);

// Where a component's key path points: "" (nothing), a file or folder, or a registry key
// ("02:\SOFTWARE\Maker\Product\Value", the root as two digits). `root` and `below` are set for
// a registry key path (the key without the value's name); `root` stays null for a root it cannot tell.
enum class ComponentPathKind { Nothing, File, Registry };
ComponentPathKind SplitComponentPath(const std::wstring& path, HKEY& root, std::wstring& below);

// Whether a product Windows Installer knows is there as more than its registration: its cached
// package is there, or a file of one of its components is. A product whose package a disk
// cleaner took still works while its files are there; one with neither is only its keys.
bool InstallerProductThere(const std::wstring& code, const CInstallation& installation);
