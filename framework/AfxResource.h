// The bottom of the framework layer: the resource module that strings, dialog templates,
// icons and pictures come from, and the application's title. Depends on nothing else.
#pragma once
#include <windows.h>

HINSTANCE AfxGetInstanceHandle();
// Current resource module: the program's own until start-up sets the language library.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hResource);

const UINT AFX_IDS_APP_TITLE = 0xE000;

// The application's title: the name the application object was given, else string
// AFX_IDS_APP_TITLE of the resource module, else the program's file name. Safe on any
// thread: the text only changes when the resource module or the name does (at start-up).
const char* AfxGetAppName();
// Set by the application object when it is constructed with a name (null: none).
void AfxSetAppName(const char* name);
