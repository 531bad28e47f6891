// What reads along the walk: where the walk passes a key in one of its places, it asks each
// reader of that place what it takes from the key (kinds of leftovers are readers).
#pragma once
#include <windows.h>
#include "../registry/KeyPlaces.h"
#include "WalkResult.h"
#include <functional>
#include <string>

class IWalkReader
{
public:
    virtual ~IWalkReader() {}
    virtual bool ReadsAt(KeyPlace place) const = 0;
    // Any thread of the walk may call it.
    virtual void ReadAt(HKEY key, const std::wstring& path, KeyPlace place, const std::function<void(WalkNote&&)>& note) const = 0;
};
