// What the references decide in a search, worked out once for the kinds that build on them (the
// reference kinds themselves, and the handlers that name a class they take).
#pragma once
#include "LeftoverKind.h"
#include "References.h"

const std::vector<ReferenceFinding>& ReferenceDecisions(const CSearchFacts& facts);
