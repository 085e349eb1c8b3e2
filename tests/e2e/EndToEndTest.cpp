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

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

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

// The simulator's process. Started with a plain fork and exec, which ThreadSanitizer follows
// (Qt's process launcher clones in ways it cannot, and then reports races that are none).
class Child {
public:
    ~Child() { Stop(); }
    bool Start(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid > 0;
    }
    void Stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

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
        const fs::path ports = work.path / "ports";
        std::vector<std::string> args{TAVRO_SIM_PATH,
                                      "--dir",
                                      ports.string(),
                                      "--ports",
                                      "4",
                                      "--timer-port",
                                      "3",
                                      "--keep-open",
                                      "--gap",
                                      "0",
                                      "--reply-timeout",
                                      "2500",
                                      "--expect",
                                      (work.path / "expected.txt").string(),
                                      "--log",
                                      (work.path / "sim.log").string()};
        args.insert(args.end(), session.begin(), session.end());
        EXPECT_TRUE(sim.Start(args));
        EXPECT_TRUE(QTest::qWaitFor([&] { return Log().find("\nready ") != std::string::npos; }, 10000)) << Log();

        setenv("TAVRO_PORT_DIR", ports.c_str(), 1);
        application = MakeTestApplication();
        SetMessageBoxHook([this](const MessageBoxRequest& request) {
            boxes.push_back(request.text);
            return mrRetry;
        });
        form = std::make_unique<TMainForm>();
        MainForm = form.get();

        EXPECT_TRUE(QTest::qWaitFor([&] { return Log().find("\ndone ") != std::string::npos; }, timeoutMs))
            << Log().substr(Log().size() > 3000 ? Log().size() - 3000 : 0);
        return SimLog(Log());
    }

    std::string Saved() {
        const fs::path saved = work.path / "saved.txt";
        SetFileDialogHook([saved](const FileDialogRequest&) { return std::optional<std::string>(saved.string()); });
        form->Actions().UpdateAll();
        form->findChild<TAction*>(QStringLiteral("actFileSaveAs"))->trigger();
        return readFile(saved);
    }
    std::string Expected() { return readFile(work.path / "expected.txt"); }
    std::string Log() { return "\n" + readFile(work.path / "sim.log"); }

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

// The long soak (1,000 groups, about half an hour) runs only when asked for: scripts/soak.
TEST_F(EndToEndTest, LongSoakWithEveryFault) {
    if (!std::getenv("TAVRO_SOAK"))
        GTEST_SKIP() << "set TAVRO_SOAK=1 (scripts/soak) for the 1,000-group soak";
    const SimLog log = Run({"--seed", "12", "--groups", "1000", "--all-faults"}, 4 * 3600 * 1000);
    ExpectEachEndedSendingAnsweredOnce(log);
    EXPECT_TRUE(Saved() == Expected()) << "lost or duplicated groups";
    EXPECT_EQ(form->GroupCount(), 1000);
}

} // namespace
