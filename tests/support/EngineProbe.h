// Gives the tests the engine's internal operations.
#pragma once
#include "../../engine/KlarnEngine.h"

class EngineProbe : public CKlarnEngine
{
public:
    using CKlarnEngine::DeleteKeyTree;
    using CKlarnEngine::DeleteRegValue;
    using CKlarnEngine::SplitPathWithValue;
    using CKlarnEngine::SplitSearchTerms;
    using CKlarnEngine::m_hkeyName;
    using CKlarnEngine::m_searchTerms;
};
