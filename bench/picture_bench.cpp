// Picture control figures for the program's own searching picture (GIF 172): load time,
// how long a stop takes while a frame is being waited out, and the CPU time the animation
// thread uses per second of playing. Prints numbers; never fails on time.
// Usage: picture_bench.exe PATH_TO_LANGUAGE_LIBRARY
#include "../framework/AfxResource.h"
#include "../picture/PictureEx.h"
#include "../resources/resource.h"
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
class Probe : public CPictureEx
{
public:
    HANDLE Thread() const { return m_thread; }
};

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

double CpuMs(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        printf("usage: picture_bench.exe LANGUAGE_LIBRARY\n");
        return 2;
    }
    HMODULE library = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!library) {
        printf("cannot load %s\n", argv[1]);
        return 2;
    }
    AfxSetResourceHandle(library);
    HWND host = CreateWindowExA(0, "STATIC", "bench", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
    HWND control = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 100, 100, host, nullptr, nullptr, nullptr);
    Probe picture;
    picture.SubclassWindow(control);

    const int loads = 30;
    double start = Now();
    for (int i = 0; i < loads; ++i)
        picture.LoadFromResource(MAKEINTRESOURCEA(IDR_GIF_SEARCHING), "GIF");
    double loadMs = (Now() - start) / loads;
    printf("GIF 172: %d frames, %ldx%ld pixels\n", picture.GetFrameCount(), picture.GetPictureSize().cx,
           picture.GetPictureSize().cy);
    printf("load time                 %8.2f ms (mean of %d loads)\n", loadMs, loads);

    std::vector<double> stops;
    for (int i = 0; i < 20; ++i) {
        picture.Show();
        Sleep(30 + (i * 7) % 60);  // somewhere inside a frame's wait
        double t = Now();
        picture.StopAnimation();
        stops.push_back(Now() - t);
    }
    std::sort(stops.begin(), stops.end());
    printf("StopAnimation in a wait   %8.2f ms median, %.2f ms worst of %zu (target under 50 ms)\n",
           stops[stops.size() / 2], stops.back(), stops.size());

    picture.Show();
    HANDLE thread = picture.Thread();
    Sleep(200);
    double cpu0 = CpuMs(thread), t0 = Now();
    Sleep(5000);
    double cpu1 = CpuMs(thread), t1 = Now();
    printf("animation thread CPU      %8.2f ms per second of playing (target: a few ms)\n",
           (cpu1 - cpu0) * 1000.0 / (t1 - t0));
    picture.StopAnimation();
    DestroyWindow(host);
    return 0;
}
