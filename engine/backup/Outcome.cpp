// What became of a finding, by name.
#include "Outcome.h"

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Listed: return "listed";
    case Outcome::Removed: return "removed";
    case Outcome::RemovedAtRestart: return "removedAtRestart";
    case Outcome::Failed: return "failed";
    case Outcome::Refused: return "refused";
    case Outcome::Restored: return "restored";
    }
    return "listed";
}

const char* DefaultWhy(Outcome outcome)
{
    if (outcome == Outcome::Failed)
        return "it could not be removed: a part of it could not be read, backed up or deleted, or it was gone";
    return nullptr;
}
