// SPDX-License-Identifier: MIT
// Timings of the program's own window, in-process (figures, not pass/fail):
//   program_bench startup   time from the process's start to the main window shown
//   program_bench view      appending one group to, and saving, a view of 150,000 lines
//   program_bench print     reply latency while a view of 10,000 lines prints to PDF
//   program_bench open      reply latency while a 30 MiB text file opens
//   program_bench unbroken  reply latency while a 32 MiB file without line breaks is refused
//   program_bench pollfloor N   CPU of N threads that only do what a receiver's pass with
//                           nothing waiting does (two port queries, a 100 ms wait): the
//                           floor under the program's idle CPU on this machine
// For startup and view, TAVRO_PORT_DIR must name a folder with at least one COMn port
// (bench/run-program-bench starts tavro-sim for that), so that the window starts listening
// without asking to retry. print and open play the timer themselves, on a pseudo-terminal of
// their own: they send a group, time the reply, wait a random 0 to 200 ms, and so on, before,
// during and after the command.
#include "Actions.h"
#include "Application.h"
#include "Dialogs.h"
#include "MainForm.h"

#include "WorkedExample.h"

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

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

// The program's window, shown; a message box would wait for an answer nobody gives, so its
// text goes to standard error and it is cancelled.
std::unique_ptr<TMainForm> shownWindow() {
    SetMessageBoxHook([](const MessageBoxRequest& r) {
        std::fprintf(stderr, "box: %s\n", r.text.c_str());
        return mrCancel;
    });
    auto window = std::make_unique<TMainForm>();
    MainForm = window.get();
    window->show();
    return window;
}

int view(int argc, char** argv) {
    TApplication application(argc, argv);
    auto window = shownWindow();
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

void runEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// The timer on the far side of a pseudo-terminal linked as COM1 in a folder of its own (made
// TAVRO_PORT_DIR): sends the worked example's group, times the reply byte, waits 0 to 200 ms.
class PlayedTimer {
public:
    struct Reply {
        Clock::time_point sent;
        double ms; // negative: no reply within the timer's 3 s
    };

    PlayedTimer() {
        char pattern[] = "/tmp/tavro-bench-XXXXXX";
        dir = mkdtemp(pattern);
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        std::filesystem::create_symlink(name, dir / "COM1");
        setenv("TAVRO_PORT_DIR", dir.c_str(), 1);
    }
    ~PlayedTimer() {
        Stop();
        ::close(master);
        ::close(slave);
        std::filesystem::remove_all(dir);
    }
    void Start() {
        worker = std::thread([this] { Play(); });
    }
    void Stop() {
        running = false;
        if (worker.joinable())
            worker.join();
    }
    std::vector<Reply> Replies() {
        std::lock_guard lock(mutex);
        return replies;
    }

private:
    void Play() {
        std::mt19937 random(7);
        const std::vector<unsigned char>& group = example::groupBytes;
        while (running) {
            unsigned char stale[64];
            while (::read(master, stale, sizeof stale) > 0) {
            }
            if (::write(master, group.data(), group.size()) != static_cast<ssize_t>(group.size()))
                break;
            const auto sent = Clock::now();
            double ms = -1;
            pollfd watch{master, POLLIN, 0};
            if (::poll(&watch, 1, 3000) > 0) {
                unsigned char reply = 0;
                if (::read(master, &reply, 1) == 1)
                    ms = msSince(sent);
            }
            {
                std::lock_guard lock(mutex);
                replies.push_back({sent, ms});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 201));
        }
    }

    std::filesystem::path dir;
    int master = -1;
    int slave = -1;
    std::atomic<bool> running{true};
    std::thread worker;
    std::mutex mutex;
    std::vector<Reply> replies;
};

using Span = std::pair<Clock::time_point, Clock::time_point>;

// Prints the latency of the replies to groups sent while a command ran, and of the others.
void reportLatency(const char* what, const std::vector<PlayedTimer::Reply>& replies, const std::vector<Span>& spans) {
    std::vector<double> during, outside, durations;
    int lost = 0;
    for (const auto& reply : replies) {
        if (reply.ms < 0) {
            ++lost;
            continue;
        }
        const bool inside = std::any_of(spans.begin(), spans.end(), [&](const Span& span) {
            return reply.sent >= span.first && reply.sent <= span.second;
        });
        (inside ? during : outside).push_back(reply.ms);
    }
    for (const Span& span : spans)
        durations.push_back(std::chrono::duration<double, std::milli>(span.second - span.first).count());
    if (during.empty() || outside.empty()) {
        std::printf("%s: too few replies (%zu during, %zu outside)\n", what, during.size(), outside.size());
        return;
    }
    std::printf("%s_runs %zu\n%s_ms_median %.0f\n%s_groups %zu\n%s_latency_ms_median %.1f\n"
                "%s_latency_ms_max %.1f\nidle_groups %zu\nidle_latency_ms_median %.1f\nidle_latency_ms_max %.1f\n"
                "unanswered %d\n",
                what, spans.size(), what, median(durations), what, during.size(), what, median(during), what,
                *std::max_element(during.begin(), during.end()), outside.size(), median(outside),
                *std::max_element(outside.begin(), outside.end()), lost);
}

// Runs `command` `runs` times, a second apart, on a window that listens on the played timer's
// port while the timer sends groups before, during and after.
int whileTheTimerSends(int argc, char** argv, const char* what, int runs,
                       const std::function<void(TMainForm&)>& prepare, const std::function<void(TMainForm&)>& command) {
    PlayedTimer timer;
    TApplication application(argc, argv);
    auto window = shownWindow();
    prepare(*window);
    timer.Start();
    runEventsFor(std::chrono::seconds(3));
    std::vector<Span> spans;
    for (int run = 0; run < runs; ++run) {
        const auto from = Clock::now();
        command(*window);
        spans.emplace_back(from, Clock::now());
        runEventsFor(std::chrono::seconds(1));
    }
    runEventsFor(std::chrono::seconds(2));
    timer.Stop();
    runEventsFor(std::chrono::milliseconds(200));
    reportLatency(what, timer.Replies(), spans);
    Application->Terminate();
    window.reset();
    return 0;
}

TAction& actionOf(TMainForm& window, const char* name) {
    window.Actions().UpdateAll();
    return *window.findChild<TAction*>(QString::fromLatin1(name));
}

int printView(int argc, char** argv) {
    const std::string pdf = (std::filesystem::temp_directory_path() / "tavro-bench-print.pdf").string();
    SetPrintDialogHook([&pdf](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    });
    const int result = whileTheTimerSends(
        argc, argv, "print", 20,
        [](TMainForm& window) {
            const std::vector<unsigned char> block = typicalBlock();
            auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
            while (memo->document()->blockCount() < 10000)
                window.ReceiveGroupText(block);
        },
        [](TMainForm& window) { actionOf(window, "actPrint").trigger(); });
    std::printf("pdf_bytes %lld\n", static_cast<long long>(std::filesystem::file_size(pdf)));
    std::filesystem::remove(pdf);
    return result;
}

int openFile(int argc, char** argv) {
    const std::string path = (std::filesystem::temp_directory_path() / "tavro-bench-open.txt").string();
    {
        const std::vector<unsigned char> block = typicalBlock();
        std::string text;
        for (unsigned char c : block)
            text += c == '\r' ? std::string("\r\n") : std::string(1, static_cast<char>(c));
        std::ofstream out(path, std::ios::binary);
        for (std::size_t written = 0; written < 30u * 1024 * 1024; written += text.size())
            out << text;
    }
    SetFileDialogHook([&path](const FileDialogRequest&) { return std::optional<std::string>(path); });
    const int result = whileTheTimerSends(
        argc, argv, "open", 4, [](TMainForm&) {}, [](TMainForm& window) { actionOf(window, "actFileOpen").trigger(); });
    std::filesystem::remove(path);
    return result;
}

// A file the size of the view's capacity without a single line break (a raw capture opened
// by mistake): it is refused, and the timer must not notice the time it takes to find that out.
int openUnbroken(int argc, char** argv) {
    const std::string path = (std::filesystem::temp_directory_path() / "tavro-bench-unbroken.bin").string();
    {
        std::ofstream out(path, std::ios::binary);
        const std::string piece(1024 * 1024, '\xAB');
        for (std::int64_t written = 0; written < TMainForm::memoCapacityBytes; written += piece.size())
            out << piece;
    }
    SetFileDialogHook([&path](const FileDialogRequest&) { return std::optional<std::string>(path); });
    const int result = whileTheTimerSends(
        argc, argv, "unbroken", 4, [](TMainForm&) {},
        [](TMainForm& window) { actionOf(window, "actFileOpen").trigger(); });
    std::filesystem::remove(path);
    return result;
}

// The cost of polling alone: each thread asks a pseudo-terminal how many bytes wait and
// whether it hung up, then waits 100 ms on a condition variable, as a receiver thread's pass
// with nothing waiting does. Prints the CPU of the whole process over 30 s, in percent of one
// core.
int pollFloor(int threads) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> pollers;
    std::vector<int> fds;
    for (int i = 0; i < threads; ++i) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return 1;
        fds.insert(fds.end(), {master, slave});
        pollers.emplace_back([&stop, slave] {
            std::mutex mutex;
            std::condition_variable wake;
            while (!stop) {
                int waiting = 0;
                ::ioctl(slave, FIONREAD, &waiting);
                pollfd watch{slave, POLLIN, 0};
                ::poll(&watch, 1, 0);
                std::unique_lock lock(mutex);
                wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return stop.load(); });
            }
        });
    }
    const auto cpuNs = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec * 1e9 + static_cast<double>(t.tv_nsec);
    };
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double before = cpuNs();
    constexpr int seconds = 30;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::printf("pollfloor_threads %d\npollfloor_percent %.3f\n", threads, 100 * (cpuNs() - before) / 1e9 / seconds);
    stop = true;
    for (auto& poller : pollers)
        poller.join();
    for (int fd : fds)
        ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "startup") == 0)
        return startup(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "view") == 0)
        return view(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "print") == 0)
        return printView(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "open") == 0)
        return openFile(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "unbroken") == 0)
        return openUnbroken(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "pollfloor") == 0)
        return pollFloor(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: program_bench startup|view|print|open|unbroken|pollfloor N\n");
    return 2;
}
