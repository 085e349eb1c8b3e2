// SPDX-License-Identifier: MIT
// Black-box tests of tavro-export: the built executable, run as a user would, next to
// tavro-decode and the simulator's own picture of generated sessions.
#include "PseudoTerminal.h"
#include "Session.h"
#include "SessionGen.h"
#include "Version.h"
#include "Wire.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (const char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytesText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

class ExportToolTest : public ::testing::Test {
protected:
    TempDir dir;

    // Runs a shell command line; its standard error is kept apart.
    ToolRun shell(const std::string& command) {
        const fs::path err = dir.path / "stderr";
        ToolRun r;
        FILE* pipe = popen((command + " 2>" + quoted(err.string())).c_str(), "r");
        if (!pipe)
            return r;
        char buf[65536];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
            r.out.append(buf, n);
        const int raw = pclose(pipe);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = readFile(err);
        return r;
    }
    ToolRun run(const std::string& args) { return shell(quoted(TAVRO_EXPORT_PATH) + " " + args); }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(dir.path / name, bytes);
        return quoted((dir.path / name).string());
    }
};

const std::string hyphens(72, '-');

std::string block(const std::string& number, const std::vector<std::string>& laps) {
    std::string text = "MCH:       \t" + number + "\r\n\r\nRecord Date:\t2024-05-14\tTuesday\r\n";
    for (std::size_t i = 0; i < laps.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        text += "\r\nLap" + n + ":\t" + laps[i] + "\tSplit" + n + ":\t" + laps[i] + "\r\n";
    }
    return text + "\r\n\r\nEnd Time:       \t \r\n" + hyphens + "\r\n\r\n";
}

// --- The round trip ------------------------------------------------------------------------

// What a timer sends for a session, with the faults a real line has: noise before some
// groups, sendings refused for a wrong check value or broken by a bad unit, each followed by
// the good sending that the timer's retry brings.
std::string captureOf(const sim::SimSession& session, std::uint64_t seed) {
    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    sim::Bytes capture;
    const auto append = [&](const sim::Bytes& bytes) { capture.insert(capture.end(), bytes.begin(), bytes.end()); };
    for (std::size_t g = 0; g < session.groups.size(); ++g) {
        if (g % 3 == 1)
            for (unsigned i = rng() % 40; i > 0; --i)
                capture.push_back(static_cast<std::uint8_t>(rng() % 0x80)); // never 0xAB: no header unit
        sim::SendOptions send;
        send.headerNonce = static_cast<std::uint16_t>(rng());
        if (g % 5 == 2) {
            sim::SendOptions refused = send;
            refused.checkCorruption = {0, 0, 0, 0x10};
            append(sim::EncodeGroup(session.groups[g], refused));
        }
        if (g % 7 == 4) {
            sim::SendOptions broken = send;
            broken.badUnitBefore = session.groups[g].records.size() / 2;
            append(sim::EncodeGroup(session.groups[g], broken));
        }
        append(sim::EncodeGroup(session.groups[g], send));
    }
    return bytesText(capture);
}

struct SessionRow {
    const char* name;
    std::uint64_t seed; // 0: the demo
    std::size_t groups;
};

class ExportRoundTrip : public ExportToolTest, public ::testing::WithParamInterface<SessionRow> {};

TEST_P(ExportRoundTrip, CaptureAndItsReportTextGiveTheSameTable) {
    const SessionRow& row = GetParam();
    const sim::SimSession session = row.seed == 0 ? sim::DemoSession() : sim::GenerateSession(row.seed, row.groups);
    const std::string capture = file("capture.bin", captureOf(session, row.seed));
    const std::string expected = file("expected.txt", sim::ExpectedSavedText(session));
    const std::string decoded = quoted((dir.path / "decoded.txt").string());
    ASSERT_EQ(shell(quoted(TAVRO_DECODE_PATH) + " " + capture + " > " + decoded).status, 0);

    for (const std::string format : {"csv", "json"}) {
        SCOPED_TRACE(format);
        // Standard input each time, so that the file column is "-" in all three.
        const ToolRun fromCapture = run("--format " + format + " < " + capture);
        const ToolRun fromText = run("--format " + format + " < " + decoded);
        const ToolRun fromExpected = run("--format " + format + " < " + expected);
        EXPECT_EQ(fromCapture.status, 0) << fromCapture.err;
        EXPECT_EQ(fromText.status, 0) << fromText.err;
        EXPECT_EQ(fromExpected.status, 0) << fromExpected.err;
        EXPECT_EQ(fromCapture.out, fromText.out);
        EXPECT_EQ(fromText.out, fromExpected.out);
        if (format == "json") {
            std::size_t groups = 0;
            for (std::size_t at = fromCapture.out.find("\n  {\"file\""); at != std::string::npos;
                 at = fromCapture.out.find("\n  {\"file\"", at + 1))
                ++groups;
            EXPECT_EQ(groups, session.groups.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, ExportRoundTrip,
                         ::testing::Values(SessionRow{"Demo", 0, 0}, SessionRow{"Seed1", 1, 60},
                                           SessionRow{"Seed2", 2, 60}, SessionRow{"Seed3", 3, 60},
                                           SessionRow{"Seed11", 11, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A real CSV reader ---------------------------------------------------------------------

TEST_F(ExportToolTest, PythonsCsvReaderReadsTheTable) {
    const fs::path python = "/usr/bin/python3";
    if (!fs::exists(python))
        GTEST_SKIP() << "/usr/bin/python3 is missing: the CSV read-back check needs Debian's python3";
    // Names that need quoting: a comma, quotes, a line feed, and a non-ASCII letter.
    const std::string first = "laps, \"week 1\".txt";
    const std::string second = "two\nlines M\xC3\xBCller.txt";
    file(first, block("001", {"0:01'23.45", "xxxxxxx"}) + block("002", {}));
    file(second, block("003", {"9:59'59.99"}));
    const fs::path csv = dir.path / "out.csv";
    const ToolRun r = run("--output " + quoted(csv.string()) + " " + quoted((dir.path / first).string()) + " " +
                          quoted((dir.path / second).string()));
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string script = R"(
import csv, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f, strict=True))
print(len(rows))
for number, row in enumerate(rows):
    seconds = float(row[7]) if number > 0 and row[7] else '-'
    print(len(row), repr(row[0]), row[1], row[4], repr(row[5]), row[7], seconds)
)";
    writeFile(dir.path / "read.py", script);
    const ToolRun read =
        shell(python.string() + " " + quoted((dir.path / "read.py").string()) + " " + quoted(csv.string()));
    ASSERT_EQ(read.status, 0) << read.err;
    const std::string firstRepr = "'" + (dir.path / "laps, \"week 1\".txt").string() + "'";
    const std::string secondRepr = "'" + (dir.path / "two\\nlines M\xC3\xBCller.txt").string() + "'";
    EXPECT_EQ(read.out, "5\n"
                        "17 'file' group lap 'lap_time' lap_seconds -\n"
                        "17 " +
                            firstRepr +
                            " 001 1 \"0:01'23.45\" 83.45 83.45\n"
                            "17 " +
                            firstRepr +
                            " 001 2 'xxxxxxx'  -\n"
                            "17 " +
                            firstRepr +
                            " 002  ''  -\n"
                            "17 " +
                            secondRepr + " 003 1 \"9:59'59.99\" 35999.99 35999.99\n");

    // CR LF after every record; the only bare LF is the one inside the quoted file name.
    const std::string bytes = readFile(csv);
    std::size_t bareLineFeeds = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            ++bareLineFeeds;
    EXPECT_EQ(bareLineFeeds, 1u);
    EXPECT_TRUE(bytes.ends_with("\r\n"));
}

// --- Exit status and messages --------------------------------------------------------------

TEST_F(ExportToolTest, ExitStatusAndMessages) {
    const std::string good = file("good.txt", block("001", {"0:01'00.00"}));
    const std::string goodLf = file("good-lf.txt", "MCH:       \t001\n\nRecord Date:\t2024-05-14\tTuesday\n\nLap1:\t"
                                                   "0:01'00.00\tSplit1:\t0:01'00.00\n\n\nEnd Time:       \t \n" +
                                                       hyphens + "\n\n");
    std::string brokenText = block("001", {"0:01'00.00"}) + block("002", {"0:01'00.00", "0:01'00.00"});
    brokenText.replace(brokenText.find("Lap2:"), 5, "Lap3:");
    brokenText += block("003", {});
    const std::string broken = file("broken.txt", brokenText);
    const std::string stray = file("stray.txt", "notes\r\n" + block("001", {}));
    std::vector<unsigned char> open = example::groupBytes;
    open.resize(open.size() - 8); // no end record
    const std::string cut = file("cut.bin", bytesText(example::groupBytes) + std::string(open.begin(), open.end()));
    const std::string onlyOpen = file("only-open.bin", std::string(open.begin(), open.end()));
    const std::string onlyRefused = file("only-refused.bin", bytesText(example::badCheckBytes()));
    const std::string noise = file("noise.bin", std::string("\x01\x02\x03 no group here\x00\x7F", 19));
    const std::string missing = quoted((dir.path / "missing.txt").string());
    const std::string folder = quoted(dir.path.string());

    struct Row {
        const char* name;
        std::string args;
        int status;
        std::string says; // in standard error; empty: nothing there
        std::size_t rows; // table rows on standard output, header not counted
    };
    const std::vector<Row> rows{
        {"report text", good, 0, "", 1},
        {"same text with LF line ends", goodLf, 0, "", 1},
        {"several files and standard input", good + " - " + good + " < " + goodLf, 0, "", 3},
        {"capture", file("one.bin", bytesText(example::groupBytes)), 0, "", 1},
        {"broken block in the middle", broken, 1,
         "broken.txt:17: report block from line 11 breaks off: expected 'Lap2:', 'Average Lap Time:' or an empty "
         "line, found 'Lap3:\\t0:01'00.00\\tSplit2:\\t0:01'00.00'; lines 11 to 21 not exported\n",
         2},
        {"line outside any block", stray, 1, "stray.txt:1: line belongs to no report block; skipped\n", 1},
        {"capture ends inside a group", cut, 0,
         "cut.bin: the capture ends inside a group that did not complete (at byte offset 40); it is not exported\n", 1},
        {"capture ends inside a group, then a good file", cut + " " + good, 0, "(at byte offset 40)", 2},
        {"capture ends inside its only group", onlyOpen, 1,
         "only-open.bin: the capture ends inside a group that did not complete (at byte offset 0); it is not "
         "exported\ntavro-export: " +
             (dir.path / "only-open.bin").string() + ": no complete group in this capture\n",
         0},
        {"capture of a refused group only", onlyRefused, 1, "only-refused.bin: no complete group in this capture\n", 0},
        {"capture without a group", noise, 1, "noise.bin: no complete group in this capture\n", 0},
        {"empty input", "< /dev/null", 0, "", 0},
        {"missing file, the others still exported", missing + " " + good, 2, "cannot open", 1},
        {"folder as input", folder, 2, "cannot read", 0},
        {"unknown option", "--frobnicate " + good, 2, "unknown option '--frobnicate'", 0},
        {"bad format", "--format xml " + good, 2, "--format is csv or json, not 'xml'", 0},
        {"format without value", "--format", 2, "--format needs a value", 0},
        {"output in a missing folder", "--output " + quoted((dir.path / "no" / "t.csv").string()) + " " + good, 2,
         "cannot create a temporary file", 0},
        {"file named like an option after --", "-- -x", 2, "cannot open -x", 0},
    };
    for (const Row& row : rows) {
        const ToolRun r = run(row.args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.err;
        if (row.says.empty()) {
            EXPECT_EQ(r.err, "") << row.name;
        } else {
            EXPECT_NE(r.err.find(row.says), std::string::npos) << row.name << "\n" << r.err;
        }
        const std::size_t lines = std::count(r.out.begin(), r.out.end(), '\n');
        if (row.status == 2 && row.rows == 0 && r.out.empty())
            continue; // stopped before the table
        EXPECT_EQ(lines, row.rows + 1) << row.name << "\n" << r.out;
    }
}

TEST_F(ExportToolTest, HelpAndVersion) {
    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: tavro-export [--format csv|json] [--output FILE] [FILE...]\n"));
    const ToolRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tavro-export ") + tavroVersion + "\n");
}

TEST_F(ExportToolTest, OutputFileIsReplacedWholeAndItsFormatFollowsItsName) {
    const std::string good = file("good.txt", block("001", {"0:01'00.00"}));
    const fs::path json = dir.path / "table.json";
    writeFile(json, "old table");
    const ToolRun r = run("--output " + quoted(json.string()) + " " + good);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(readFile(json).starts_with("[\n  {\"file\": ")) << readFile(json);
    // --format wins over the name, and --option=value works too.
    EXPECT_EQ(run("--format=csv --output=" + quoted(json.string()) + " " + good).status, 0);
    EXPECT_TRUE(readFile(json).starts_with("file,group,"));
    // No temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"good.txt", "stderr", "table.json"}));
}

TEST_F(ExportToolTest, MalformedDigitsFromACaptureHaveNoSeconds) {
    // A lap whose minute units nibble is 0xA decodes to "0:0:'00.00"; the text goes into the
    // table as it stands and the seconds stay empty, the same from the capture and its text.
    // (The decoder adds the 0xA as ten minutes into split 2, which is a time again.)
    const wire::Bytes group =
        wire::groupBytes({wire::record(wire::group, 5, {}), wire::record(wire::lap, 1, {0x00, 0x0A, 0x00, 0x00}),
                          wire::record(wire::lap, 2, wire::timePayload(0, 1, 2, 3))});
    const std::string capture = file("odd.bin", std::string(group.begin(), group.end()));
    const std::string decoded = quoted((dir.path / "odd.txt").string());
    ASSERT_EQ(shell(quoted(TAVRO_DECODE_PATH) + " " + capture + " > " + decoded).status, 0);
    const ToolRun fromCapture = run("< " + capture);
    const ToolRun fromText = run("< " + decoded);
    EXPECT_EQ(fromCapture.out, fromText.out);
    EXPECT_NE(fromCapture.out.find("\r\n-,005,,,1,0:0:'00.00,0:0:'00.00,,,"), std::string::npos) << fromCapture.out;
    EXPECT_NE(fromCapture.out.find("\r\n-,005,,,2,0:01'02.03,0:11'02.03,62.03,662.03,"), std::string::npos)
        << fromCapture.out;
}

} // namespace
