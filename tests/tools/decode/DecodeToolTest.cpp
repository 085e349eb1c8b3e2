// SPDX-License-Identifier: MIT
// Black-box tests of tavro-decode: the built executable, run as a user would.
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out;
};

std::string quoted(const std::string& text) {
    std::string q;
    q += '"';
    q += text;
    q += '"';
    return q;
}

ToolRun run(const std::string& args) {
    std::string command = quoted(TAVRO_DECODE_PATH);
    command += ' ';
    command += args;
    command += " 2>/dev/null";
    ToolRun r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.out.append(buf, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

class DecodeToolTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("tavro-decode-test-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return p.string();
    }
    std::string read(const std::string& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(DecodeToolTest, WorkedExampleInEveryChunkSize) {
    const std::string capture = write("example.bin", example::groupBytes);
    for (int chunk = 1; chunk <= 41; ++chunk) {
        const ToolRun r = run("--chunk " + std::to_string(chunk) + " --replies " + quoted((dir / "replies").string()) +
                              " " + quoted(capture));
        ASSERT_EQ(r.status, 0) << "chunk " << chunk;
        EXPECT_EQ(r.out, example::reportText("\r\n")) << "chunk " << chunk;
        EXPECT_EQ(read("replies"), "\xFA") << "chunk " << chunk;
    }
    // Default chunk, and the capture on standard input.
    EXPECT_EQ(run(quoted(capture)).out, example::reportText("\r\n"));
    EXPECT_EQ(run("< " + quoted(capture)).out, example::reportText("\r\n"));
}

TEST_F(DecodeToolTest, BackToBackGroupsAndFailedChecks) {
    std::vector<unsigned char> bad(example::groupBytes.begin(), example::groupBytes.end() - 1);
    bad.push_back(example::groupBytes.back() ^ 0x01);
    std::vector<unsigned char> stream = bad;
    stream.insert(stream.end(), example::groupBytes.begin(), example::groupBytes.end());
    stream.insert(stream.end(), example::groupBytes.begin(), example::groupBytes.end());
    const std::string capture = write("stream.bin", stream);
    // All at once: the two good groups complete on two calls; the failed one is superseded
    // within the first call by the group that completes, so that call answers 0xFA.
    const ToolRun all = run("--chunk 100000 --replies " + quoted((dir / "r1").string()) + " " + quoted(capture));
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, example::reportText("\r\n") + example::reportText("\r\n"));
    EXPECT_EQ(read("r1"), "\xFA\xFA");
    // One unit per call: 0xF0 once for the failed group, then one 0xFA per good group.
    const ToolRun units = run("--chunk 8 --replies " + quoted((dir / "r2").string()) + " " + quoted(capture));
    EXPECT_EQ(units.out, example::reportText("\r\n") + example::reportText("\r\n"));
    EXPECT_EQ(read("r2"), "\xF0\xFA\xFA");
}

TEST_F(DecodeToolTest, UsageAndErrors) {
    const std::string capture = write("example.bin", example::groupBytes);
    struct Row {
        std::string args;
        int status;
    };
    const std::vector<Row> rows{
        {"--help", 0},
        {"--version", 0},
        {quoted(capture), 0}, // no replies file asked for
        {"< " + quoted(capture), 0},
        {"--chunk 0 " + quoted(capture), 2},
        {"--chunk -3 " + quoted(capture), 2},
        {"--chunk 12x " + quoted(capture), 2},
        {"--chunk", 2},
        {"--replies", 2},
        {"--frobnicate " + quoted(capture), 2},
        {quoted((dir / "no-such-file").string()), 2},
        {quoted(capture) + " " + quoted(capture), 2},
        {"--replies " + quoted((dir / "no-such-dir" / "r").string()) + " " + quoted(capture), 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(run(row.args).status, row.status) << row.args;
    EXPECT_NE(run("--help").out.find("Usage: tavro-decode [--chunk N] [--replies FILE] [CAPTURE]"), std::string::npos);
    EXPECT_TRUE(run("--chunk 0 x").out.empty());
}

} // namespace
