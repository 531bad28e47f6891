// Whether the machine is managed: joined to a domain or to a cloud directory, or enrolled in
// device management. Then a setting that turns something of Windows off, or a browser's forced
// extension, may well be its administrator's own, and nothing of it is a product's leftover.
#pragma once
#include <string>

// How the running machine is managed, as evidence to name; empty when it is not.
std::wstring ManagedBy();
