// Fixed sizes and texts of the report file.
#pragma once

// Date and time texts (file names and the banner's time stamp).
const int kStampChars = 32;
// The banner's title line and the rule above and below it.
const char kReportTitleLine[] = "\tVelmora Klarner";
const char kReportRuleLine[] = "######################################";
