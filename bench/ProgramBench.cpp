// SPDX-License-Identifier: MIT
// Timings of the program's own window, in-process (figures, not pass/fail):
//   program_bench startup   time from the process's start to the main window shown
//   program_bench view      appending one group to, and saving, a view of 150,000 lines
// TAVRO_PORT_DIR must name a folder with at least one COMn port (bench/run-program-bench
// starts tavro-sim for that), so that the window starts listening without asking to retry.
#include "Actions.h"
#include "Application.h"
#include "Dialogs.h"
#include "MainForm.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Milliseconds since this process was started by the system (exec), from /proc.
double msSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            startTicks = std::stoull(field);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double startMs = 1000.0 * static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - startMs;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A typical report block: a 400 m repeat of five laps with statistics (14 lines).
std::vector<unsigned char> typicalBlock() {
    const std::string text = "MCH:       \t012\r\rRecord Date:\t2024-05-16\tThursday\r"
                             "\rLap1:\t0:01'11.59\tSplit1:\t0:01'11.59\r\rLap2:\t0:01'09.60\tSplit2:\t0:02'21.19\r"
                             "\rLap3:\t0:01'09.04\tSplit3:\t0:03'30.23\r\rLap4:\t0:01'08.25\tSplit4:\t0:04'38.48\r"
                             "\rLap5:\t0:01'11.53\tSplit5:\t0:05'50.01\r\r"
                             "Average Lap Time:   \t0:01'10.00\rFastest Lap Time:   \t0:01'08.25\r"
                             "Slowest Lap Time:   \t0:01'11.59\r\rEnd Time:       \t0:05'50.01\r" +
                             std::string(72, '-') + "\r\r";
    return {text.begin(), text.end()};
}

int startup(int argc, char** argv) {
    double shownAt = 0;
    RunApplication(argc, argv, [&shownAt] {
        auto window = std::make_unique<TMainForm>();
        MainForm = window.get();
        // Measured once the event loop runs with the window on screen.
        QTimer::singleShot(0, [&shownAt, w = window.get()] {
            if (w->isVisible())
                shownAt = msSinceProcessStart();
            Application->Terminate();
        });
        return window;
    });
    std::printf("startup_ms %.1f\n", shownAt);
    return shownAt > 0 ? 0 : 1;
}

int view(int argc, char** argv) {
    TApplication application(argc, argv);
    SetMessageBoxHook([](const MessageBoxRequest& r) {
        std::fprintf(stderr, "box: %s\n", r.text.c_str());
        return mrCancel;
    });
    auto window = std::make_unique<TMainForm>();
    MainForm = window.get();
    window->show();
    QApplication::processEvents();

    const std::vector<unsigned char> block = typicalBlock();
    constexpr int targetLines = 150000;
    while (window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->document()->blockCount() < targetLines)
        window->ReceiveGroupText(block);
    QApplication::processEvents();

    std::vector<double> appends;
    for (int i = 0; i < 50; ++i) {
        const auto start = Clock::now();
        window->ReceiveGroupText(block);
        QApplication::processEvents(); // the repaint belongs to the cost
        appends.push_back(msSince(start));
    }

    const std::string path = (std::filesystem::temp_directory_path() / "tavro-bench-save.txt").string();
    SetFileDialogHook([&path](const FileDialogRequest&) { return std::optional<std::string>(path); });
    std::vector<double> saves;
    for (int i = 0; i < 10; ++i) {
        window->Actions().UpdateAll();
        const auto start = Clock::now();
        window->findChild<TAction*>(QStringLiteral("actFileSaveAs"))->trigger();
        saves.push_back(msSince(start));
    }
    const auto lines = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->document()->blockCount();
    std::printf("view_lines %d\nsaved_bytes %lld\nappend_ms_median %.3f\nappend_ms_max %.3f\nsave_ms_median %.1f\n",
                lines, static_cast<long long>(std::filesystem::file_size(path)), median(appends),
                *std::max_element(appends.begin(), appends.end()), median(saves));
    std::filesystem::remove(path);
    Application->Terminate();
    window.reset();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "startup") == 0)
        return startup(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "view") == 0)
        return view(argc, argv);
    std::fprintf(stderr, "usage: program_bench startup|view\n");
    return 2;
}
