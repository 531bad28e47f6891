// Resource module and application title.
#include "AfxResource.h"
#include <list>
#include <mutex>
#include <string>

namespace {
struct ResourceState
{
    std::mutex lock;
    HINSTANCE resourceHandle = nullptr;
    bool hasName = false;
    std::string givenName;
    // Every title handed out stays valid: a caller on another thread may still hold one when
    // the resource module changes, so titles are only ever added (a few at most).
    std::list<std::string> titles;
    const std::string* title = nullptr;
};

// Built on first use: the application object, a global, may call in before the globals
// of this file exist.
ResourceState& State()
{
    static ResourceState state;
    return state;
}

// Called with the lock held.
void ComputeTitle(ResourceState& state)
{
    std::string title;
    char text[512] = "";
    HINSTANCE module = state.resourceHandle ? state.resourceHandle : AfxGetInstanceHandle();
    if (state.hasName) {
        title = state.givenName;
    } else if (::LoadStringA(module, AFX_IDS_APP_TITLE, text, sizeof text) > 0) {
        title = text;
    } else {
        char path[MAX_PATH] = "";
        DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const char* base = strrchr(path, '\\');
            base = base ? base + 1 : path;
            const char* dot = strrchr(base, '.');
            title = dot ? std::string(base, static_cast<size_t>(dot - base)) : std::string(base);
        }
    }
    if (!state.title || *state.title != title) {
        state.titles.push_back(title);
        state.title = &state.titles.back();
    }
}
}

HINSTANCE AfxGetInstanceHandle()
{
    return ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    ResourceState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.resourceHandle ? state.resourceHandle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hResource)
{
    ResourceState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.resourceHandle = hResource;
    ComputeTitle(state);
}

void AfxSetAppName(const char* name)
{
    ResourceState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.hasName = name != nullptr;
    state.givenName = name ? name : "";
    ComputeTitle(state);
}

const char* AfxGetAppName()
{
    ResourceState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.title)
        ComputeTitle(state);
    return state.title->c_str();
}
