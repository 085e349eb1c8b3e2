// SPDX-License-Identifier: MIT
// The whole program against the simulated timer: the program's own window in this process,
// the timer in a tavro-sim process on pseudo-terminal ports COM1..COM4 (timer on COM3). What
// the window saves must equal, byte for byte, what the simulator says it must show, and the
// simulator's log must show every ended sending answered exactly once.
#include "Actions.h"
#include "Application.h"
#include "Dialogs.h"
#include "MainForm.h"
#include "PseudoTerminal.h"
#include "QtTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the simulator's log says about one run.
struct SimLog {
    struct Sending {
        std::string fault;
        std::vector<std::string> replies;
    };
    std::map<std::pair<int, int>, Sending> sendings; // (group, attempt)
    std::map<std::string, long> done;                // counts of the final "done" line
    std::vector<std::string> late;

    explicit SimLog(const std::string& text) {
        static const std::regex send(R"(^send group (\d+) number \S+ attempt (\d+) bytes \d+(?: fault (\S+))?)");
        static const std::regex reply(R"(^reply (0x[0-9A-F]{2}) group (\d+) attempt (\d+))");
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (std::regex_search(line, m, send)) {
                sendings[{std::stoi(m[1]), std::stoi(m[2])}].fault = m[3];
            } else if (std::regex_search(line, m, reply)) {
                sendings[{std::stoi(m[2]), std::stoi(m[3])}].replies.push_back(m[1]);
            } else if (line.rfind("late ", 0) == 0) {
                late.push_back(line);
            } else if (line.rfind("done ", 0) == 0) {
                std::istringstream words(line.substr(5));
                std::string key;
                long value = 0;
                while (words >> key >> value)
                    done[key] = value;
            }
        }
    }
};

// A child process (the simulator, the program, a tool). Started with a plain fork and exec,
// which ThreadSanitizer follows (Qt's process launcher clones in ways it cannot, and then
// reports races that are none). `environment` entries ("NAME=value") are added to this
// process's environment for the child; `output`, when given, receives its standard output.
class Child {
public:
    ~Child() { Stop(); }
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
               const fs::path& output = {}) {
        // Everything the child needs is made before the fork: between fork and exec a child of
        // a threaded process may only make plain system calls.
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> entries(environment);
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            if (std::none_of(environment.begin(), environment.end(),
                             [&](const std::string& given) { return given.starts_with(name); }))
                entries.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& entry : entries)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            if (!output.empty()) {
                const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0)
                    _exit(126);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return pid > 0;
    }
    // Ends the child with `signal` and returns its wait status.
    int Stop(int signal = SIGTERM) {
        if (pid <= 0)
            return -1;
        kill(pid, signal);
        return Wait();
    }
    int Wait() {
        if (pid > 0) {
            waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }
    // Reaps a child that has ended: one not yet waited for would still take signals.
    bool Running() {
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid)
            pid = -1;
        return pid > 0;
    }

private:
    pid_t pid = -1;
    int status = -1;
};

// What tavro-decode prints for a capture.
std::string Decoded(const fs::path& capture, const fs::path& scratch) {
    Child decode;
    const fs::path output = scratch / "decoded.txt";
    if (!decode.Start({TAVRO_DECODE_PATH, capture.string()}, {}, output) || decode.Wait() != 0)
        return "tavro-decode failed";
    return readFile(output);
}

// The one journal text file of a run under `dataHome`, or an empty path.
fs::path JournalText(const fs::path& dataHome) {
    std::vector<fs::path> texts;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dataHome / "tavro" / "received", error))
        if (entry.path().extension() == ".txt")
            texts.push_back(entry.path());
    return texts.size() == 1 ? texts.front() : fs::path();
}

class EndToEndTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (form) {
            application->Terminate();
            form.reset();
        }
        application.reset();
        SetMessageBoxHook({});
        SetFileDialogHook({});
        sim.Stop();
        unsetenv("TAVRO_PORT_DIR");
    }

    // Runs a session through the program; returns the simulator's log.
    SimLog Run(const std::vector<std::string>& session, int timeoutMs) {
        StartSim(session);
        setenv("TAVRO_PORT_DIR", (work.path / "ports").c_str(), 1);
        application = MakeTestApplication();
        SetMessageBoxHook([this](const MessageBoxRequest& request) {
            boxes.push_back(request.text);
            return mrRetry;
        });
        form = std::make_unique<TMainForm>();
        MainForm = form.get();

        EXPECT_TRUE(WaitForLog("\ndone ", timeoutMs)) << Log().substr(Log().size() > 3000 ? Log().size() - 3000 : 0);
        return SimLog(Log());
    }

    // Starts the simulated timer on `portArgs` with the session given and waits until its
    // ports exist.
    void StartSim(const std::vector<std::string>& session) {
        const fs::path ports = work.path / "ports";
        std::vector<std::string> args{TAVRO_SIM_PATH, "--dir", ports.string()};
        args.insert(args.end(), portArgs.begin(), portArgs.end());
        args.insert(args.end(), {"--keep-open", "--gap", "0", "--reply-timeout", "2500", "--expect",
                                 (work.path / "expected.txt").string(), "--log", (work.path / "sim.log").string()});
        args.insert(args.end(), session.begin(), session.end());
        EXPECT_TRUE(sim.Start(args));
        EXPECT_TRUE(WaitForLog("\nready ", 10000)) << Log();
    }
    bool WaitForLog(const std::string& line, int timeoutMs) {
        return QTest::qWaitFor([&] { return Log().find(line) != std::string::npos; }, timeoutMs);
    }

    std::string Saved() {
        const fs::path saved = work.path / "saved.txt";
        SetFileDialogHook([saved](const FileDialogRequest&) { return std::optional<std::string>(saved.string()); });
        form->Actions().UpdateAll();
        form->findChild<TAction*>(QStringLiteral("actFileSaveAs"))->trigger();
        return readFile(saved);
    }
    std::string Expected() { return readFile(work.path / "expected.txt"); }
    // Appended rather than "\n" + ..., which GCC 12 at -O3 warns about wrongly (-Wrestrict).
    std::string Log() {
        std::string log(1, '\n');
        log += readFile(work.path / "sim.log");
        return log;
    }

    // Every sending that ended is answered exactly once: 0xF0 for a wrong check value, 0xFA
    // otherwise; sendings cut short by a broken unit or an unplug are not answered at all.
    void ExpectEachEndedSendingAnsweredOnce(const SimLog& log) {
        for (const auto& [key, sending] : log.sendings) {
            const auto& [group, attempt] = key;
            if (sending.fault == "bad-unit" || sending.fault == "unplug") {
                EXPECT_TRUE(sending.replies.empty()) << "group " << group << " attempt " << attempt;
                continue;
            }
            const std::string expected = sending.fault == "bad-check" ? "0xF0" : "0xFA";
            EXPECT_EQ(sending.replies, std::vector<std::string>{expected})
                << "group " << group << " attempt " << attempt;
        }
        EXPECT_TRUE(log.late.empty()) << log.late.front();
        EXPECT_EQ(log.done.at("acknowledged"), log.done.at("groups"));
        EXPECT_EQ(log.done.at("given-up"), 0);
        EXPECT_EQ(log.done.at("stray"), 0);
        EXPECT_EQ(log.done.at("other"), 0);
    }

    TempDir work;
    std::vector<std::string> portArgs{"--ports", "4", "--timer-port", "3"};
    Child sim;
    std::unique_ptr<TApplication> application;
    std::unique_ptr<TMainForm> form;
    std::vector<std::string> boxes;
};

TEST_F(EndToEndTest, DemoSessionArrivesCompleteAndInOrder) {
    const SimLog log = Run({"--demo"}, 60000);
    ExpectEachEndedSendingAnsweredOnce(log);
    const std::string expected = Expected();
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(Saved() == expected) << "the saved text differs from the expected text";
    EXPECT_EQ(form->GroupCount(), log.done.at("groups"));
    EXPECT_TRUE(boxes.empty());
    // The journal holds the same, and the timer's raw capture replays into it.
    EXPECT_TRUE(readFile(form->Journal().TextPath()) == expected);
    EXPECT_TRUE(Decoded(form->Journal().CapturePath(3), work.path) == expected);
}

TEST_F(EndToEndTest, OnlyPortUnpluggedTwiceDuringASession) {
    portArgs = {"--ports", "1", "--timer-port", "1"};
    const SimLog log = Run({"--seed", "7", "--groups", "6", "--unplug", "2,5", "--replug-delay", "300"}, 120000);
    ExpectEachEndedSendingAnsweredOnce(log);
    EXPECT_EQ(log.done.at("unplugs"), 2);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_FALSE(application->Terminated());
    EXPECT_TRUE(Saved() == Expected()) << "lost or duplicated groups";
    EXPECT_TRUE(readFile(form->Journal().TextPath()) == Expected());
}

// The real program, killed without warning the moment the timer heard its last 0xFA: every
// confirmed group is in the journal, and the capture replays into it.
TEST_F(EndToEndTest, KilledProgramHasKeptEveryConfirmedGroup) {
    StartSim({"--seed", "21", "--groups", "12"});
    const fs::path dataHome = work.path / "data";
    Child program;
    ASSERT_TRUE(program.Start({TAVRO_PROGRAM_PATH},
                              {"TAVRO_PORT_DIR=" + (work.path / "ports").string(), "XDG_DATA_HOME=" + dataHome.string(),
                               "TAVRO_LOCK_DIR=" + (work.path / "locks").string(), "QT_QPA_PLATFORM=offscreen"}));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Log().find("\ndone ") != std::string::npos || !program.Running(); }, 120000));
    const int status = program.Stop(SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the program ended before it was killed";
    const SimLog log(Log());
    ASSERT_EQ(log.done.at("acknowledged"), 12);

    const fs::path text = JournalText(dataHome);
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(readFile(text) == Expected()) << "the journal lacks confirmed groups";
    fs::path capture = text;
    capture.replace_filename(text.stem().string() + "-COM3.bin");
    EXPECT_TRUE(Decoded(capture, work.path) == Expected());
}

// A second start of the real program for the same user and journal ends at once, opening no
// port and making no file; the first one receives the whole session.
TEST_F(EndToEndTest, SecondStartHandsOverToTheFirst) {
    StartSim({"--seed", "22", "--groups", "4"});
    const fs::path dataHome = work.path / "data";
    const fs::path runtime = work.path / "runtime";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const std::vector<std::string> environment{"TAVRO_PORT_DIR=" + (work.path / "ports").string(),
                                               "XDG_DATA_HOME=" + dataHome.string(),
                                               "TAVRO_LOCK_DIR=" + (work.path / "locks").string(),
                                               "XDG_RUNTIME_DIR=" + runtime.string(), "QT_QPA_PLATFORM=offscreen"};
    Child first;
    ASSERT_TRUE(first.Start({TAVRO_PROGRAM_PATH}, environment));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fs::is_empty(runtime) || !first.Running(); }, 10000));
    Child second;
    ASSERT_TRUE(second.Start({TAVRO_PROGRAM_PATH}, environment));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !second.Running(); }, 10000)) << "the second start did not end";
    const int status = second.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Log().find("\ndone ") != std::string::npos || !first.Running(); }, 120000));
    EXPECT_TRUE(first.Running()) << "the first start ended";
    first.Stop();
    const SimLog log(Log());
    EXPECT_EQ(log.done.at("acknowledged"), 4);
    const fs::path text = JournalText(dataHome); // exactly one run's text file
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(readFile(text) == Expected());
}

TEST_F(EndToEndTest, WrongCheckValueIsRefusedAndTheResendShownOnce) {
    const SimLog log = Run({"--seed", "5", "--groups", "4", "--bad-check", "2"}, 60000);
    ExpectEachEndedSendingAnsweredOnce(log);
    ASSERT_TRUE(log.sendings.count({2, 2}));
    EXPECT_EQ(log.sendings.at({2, 1}).replies, std::vector<std::string>{"0xF0"});
    EXPECT_EQ(log.sendings.at({2, 2}).replies, std::vector<std::string>{"0xFA"});
    EXPECT_TRUE(Saved() == Expected());
    EXPECT_EQ(form->GroupCount(), 4);
}

TEST_F(EndToEndTest, SoakWithEveryFault) {
    const SimLog log = Run({"--seed", "11", "--groups", "100", "--all-faults"}, 400000);
    ExpectEachEndedSendingAnsweredOnce(log);
    EXPECT_GT(log.done.at("unplugs"), 0);
    EXPECT_GT(log.done.at("naks"), 0);
    EXPECT_TRUE(Saved() == Expected()) << "lost or duplicated groups";
    EXPECT_EQ(form->GroupCount(), 100);
}

// The soaks run only when asked for (scripts/soak): 1,000 groups with every fault (about half an
// hour), and 100 groups each cut short by pulling the only port out and plugging it back in.
TEST_F(EndToEndTest, UnplugSoak) {
    if (!std::getenv("TAVRO_SOAK"))
        GTEST_SKIP() << "set TAVRO_SOAK=1 (scripts/soak) for the 100-cycle unplug soak";
    portArgs = {"--ports", "1", "--timer-port", "1"};
    const auto start = std::chrono::steady_clock::now();
    const SimLog log =
        Run({"--seed", "31", "--groups", "100", "--unplug", "all", "--replug-delay", "200", "--start-delay", "1000"},
            30 * 60 * 1000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ExpectEachEndedSendingAnsweredOnce(log);
    EXPECT_EQ(log.done.at("unplugs"), 100);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_TRUE(Saved() == Expected()) << "lost or duplicated groups";
    EXPECT_TRUE(readFile(form->Journal().TextPath()) == Expected());
    std::printf("unplug soak: %ld unplug cycles, %ld groups acknowledged, %zu boxes, %.1f s (%.2f s per cycle)\n",
                log.done.at("unplugs"), log.done.at("acknowledged"), boxes.size(), seconds,
                seconds / static_cast<double>(std::max(1L, log.done.at("unplugs"))));
}

TEST_F(EndToEndTest, LongSoakWithEveryFault) {
    if (!std::getenv("TAVRO_SOAK"))
        GTEST_SKIP() << "set TAVRO_SOAK=1 (scripts/soak) for the 1,000-group soak";
    const SimLog log = Run({"--seed", "12", "--groups", "1000", "--all-faults"}, 4 * 3600 * 1000);
    ExpectEachEndedSendingAnsweredOnce(log);
    EXPECT_TRUE(Saved() == Expected()) << "lost or duplicated groups";
    EXPECT_EQ(form->GroupCount(), 1000);
}

} // namespace
