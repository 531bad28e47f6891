// The network provider order: SYSTEM\<control set>\Control\NetworkProvider\Order holds
// ProviderOrder and HwOrder, comma-separated lists (REG_SZ) of the service names of the network
// providers Windows asks in turn. A name whose service key is gone makes mapped drives fail with
// ERROR_BAD_PROVIDER.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

const wchar_t kProviderOrderKey[] = L"Control\\NetworkProvider\\Order";
const wchar_t* const kProviderOrderValues[] = { L"ProviderOrder", L"HwOrder" };

// The names of a list, in order (empty names left out).
std::vector<std::wstring> SplitProviderOrder(const std::wstring& text);
// The list without `name` (every time it occurs, in any letter case); the others keep their
// order and their spelling.
std::wstring WithoutProvider(const std::wstring& text, const std::wstring& name);
// Whether either list below `controlSet` ("SYSTEM\CurrentControlSet") names `name`.
bool ProviderOrderNames(const std::wstring& controlSet, const std::wstring& name);
