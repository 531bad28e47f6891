// Fixed sizes and texts of the report file.
#pragma once

// Date and time texts (file names and the banner's time stamp).
const int kStampChars = 32;
// The banner's title line and the rule above and below it.
#include "../engine/backup/OwnOutput.h"
// The placeholders of both languages, filled in whichever language library is loaded: a script
// written for one (a fleet's command line) runs on machines with either.
const char* const kDatePlaceholders[] = { "[DATE]", "[DATUM]" };
const char* const kTimePlaceholders[] = { "[TIME]", "[ZEIT]" };
