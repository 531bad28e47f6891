// The kinds of leftover the program knows, in the order of a search's findings (KindsTable.cpp).
#pragma once
#include "LeftoverKind.h"

// Every kind, in the order of a search's findings.
const std::vector<const ILeftoverKind*>& LeftoverKinds();
// The kind of a finding: its own, or for an entry made by hand (a letter only), the kind its
// letter names ('K' a key, 'V' the start-up value, 'F' a filter-list entry); null for any other.
const ILeftoverKind* KindOf(const CmdListEntry& entry);
// The kinds the findings list began with: keys by their names, and the tray program's value.
const ILeftoverKind& KeyKind();
const ILeftoverKind& StartupValueKind();
// The kind the JSON record calls `recordName` ("key", "class"); null when there is none.
const ILeftoverKind* KindNamed(const char* recordName);

// What the table's order must keep: a kind that decides on others' findings comes after them.
struct KindOrderRule
{
    const char* kind;
    const char* after;
};
const std::vector<KindOrderRule>& KindsOrderRules();
