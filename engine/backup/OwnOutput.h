// What this program writes itself (its reports, JSON records, backups and their manifests), by
// the marks each carries: no folder holding them is ever a finding, or a restore could never be
// done again.
#pragma once
#include "../system/FileHandles.h"
#include <vector>

// The report banner's title line and the rule above and below it.
const char kReportTitleLine[] = "\tVelmora Klarner";
const char kReportRuleLine[] = "######################################";

// Whether this program's reports, JSON records or backups lie among the items.
bool HoldsOwnOutput(const std::vector<FileItem>& items);
