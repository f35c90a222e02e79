// count-frames: how many frames a process's window presents in a given time, seen by the X server.
//
//   count-frames PID SECONDS
#include "x11probe.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PID SECONDS\n", argv[0]);
        return 2;
    }
    const qint64 pid = std::atoll(argv[1]);
    const double seconds = std::atof(argv[2]);

    X11Probe x11;
    const QVector<unsigned long> windows = x11.windowsOf(pid);
    if (windows.isEmpty()) {
        std::printf("0\n");
        return 1;
    }
    x11.countFrames(windows.first());
    // A count that cannot be reached: every frame of the whole time is counted.
    x11.waitForFrames(std::numeric_limits<int>::max(), int(seconds * 1000));
    std::printf("%d\n", x11.framesCounted());
    return 0;
}
