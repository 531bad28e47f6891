// Program entry: hands control to the one application object; the process ends when
// its start-up returns, with the exit code the application gives.
#include "AfxCore.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return 0;
    app->InitInstance();
    return app->ExitInstance();
}
