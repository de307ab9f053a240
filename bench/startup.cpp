// Start-up cost of the program: the same start as the real one, then, once the window has
// been exposed, the time since the process began and the memory it holds; then it quits.
// Run it a few times: `make bench-startup`.
#include "window/frmMain.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Seconds from the start of this process to now, from the kernel's own bookkeeping.
double SecondsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 1; i <= 22 && stat >> field; ++i) {
    }
    const double started = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9 - started;
}

std::string Status(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) return line;
    }
    return {};
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    // The first pass of the event loop after show() paints the window.
    QTimer::singleShot(0, &app, [] {
        std::printf("shown after %.0f ms (clock ticks of %ld ms)\n%s\n%s\n", SecondsSinceProcessStart() * 1000,
                    1000 / sysconf(_SC_CLK_TCK), Status("VmRSS").c_str(), Status("VmHWM").c_str());
        QApplication::quit();
    });
    return app.exec();
}
