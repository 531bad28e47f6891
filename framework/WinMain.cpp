// Program entry: hands control to the one application object; the process ends when
// its start-up returns.
#include "AfxCore.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (app)
        app->InitInstance();
    return 0;
}
