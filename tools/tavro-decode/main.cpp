// SPDX-License-Identifier: MIT
// tavro-decode: replays a raw capture of what a timer sent through one decoder, the way the
// receiver thread feeds it, and prints what the program would show and save.

#include "CaptureReplay.h"
#include "ReceivedData.h"
#include "ToolIo.h"
#include "Version.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t defaultChunkBytes = CaptureReplay::pollBytes;
constexpr std::size_t readBytes = 64 * 1024;
constexpr int exitUsage = 2;
constexpr unsigned char replyGood = 0xFA;
constexpr unsigned char replyBad = 0xF0;

const char* const usage =
    "Usage: tavro-decode [--chunk N] [--replies FILE] [CAPTURE]\n"
    "\n"
    "Replays the raw bytes a Tavro timer sent (from CAPTURE, or standard input) through one\n"
    "decoder, N bytes per processing call (default 96, one poll at 9600 bit/s). After the last\n"
    "chunk it keeps calling the decoder without new bytes for as long as a call completed a group.\n"
    "\n"
    "Standard output gets what \"Save as\" would write after the completed groups were shown in\n"
    "an empty text view: each group's report with CR LF line ends, in order.\n"
    "\n"
    "Options:\n"
    "  --chunk N       bytes per processing call, N >= 1\n"
    "  --replies FILE  write the reply byte of every call that met an end record, in order:\n"
    "                  0xFA when the call completed a group or met no failed check, else 0xF0\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 on success, 2 on a bad option or an unreadable or unwritable file.\n";

int fail(const std::string& message) {
    std::cerr << "tavro-decode: " << message << "\n";
    return exitUsage;
}

std::optional<std::size_t> parseCount(std::string_view text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    toolio::UseBinaryStandardStreams();
    std::size_t chunk = defaultChunkBytes;
    std::optional<std::string> repliesPath;
    std::optional<std::string> capturePath;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "tavro-decode " << tavroVersion << "\n";
            return 0;
        }
        if (arg == "--chunk" || arg == "--replies") {
            if (i + 1 >= argc)
                return fail(std::string(arg) + " needs a value (see --help)");
            const std::string_view value = argv[++i];
            if (arg == "--replies") {
                repliesPath = std::string(value);
                continue;
            }
            const auto count = parseCount(value);
            if (!count)
                return fail("--chunk needs a whole number of at least 1, not '" + std::string(value) + "'");
            chunk = *count;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return fail("unknown option '" + std::string(arg) + "' (see --help)");
        if (capturePath)
            return fail("only one capture file may be given (see --help)");
        capturePath = std::string(arg);
    }

    std::ifstream file;
    if (capturePath) {
        file.open(*capturePath, std::ios::binary);
        if (!file)
            return fail("cannot open capture '" + *capturePath + "': " + std::strerror(errno));
    }
    std::istream& in = capturePath ? static_cast<std::istream&>(file) : std::cin;

    std::ofstream replies;
    if (repliesPath) {
        replies.open(*repliesPath, std::ios::binary | std::ios::trunc);
        if (!replies)
            return fail("cannot create replies file '" + *repliesPath + "': " + std::strerror(errno));
    }

    TReceivedData decoder;
    std::string output;
    CaptureReplay replay(decoder, chunk, [&](const TReceivedData& d, const std::vector<unsigned char>& reportText) {
        if (d.groupComplete) {
            for (const unsigned char c : reportText) {
                output += static_cast<char>(c);
                if (c == '\r')
                    output += '\n';
            }
        }
        if (d.endRecordSeen && replies.is_open())
            replies.put(static_cast<char>(d.checksumError ? replyBad : replyGood));
    });
    std::vector<char> piece(readBytes);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        replay.Feed(reinterpret_cast<const unsigned char*>(piece.data()), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        return fail(capturePath ? "cannot read capture '" + *capturePath + "'" : "cannot read standard input");
    replay.Finish();

    std::cout.write(output.data(), static_cast<std::streamsize>(output.size()));
    std::cout.flush();
    if (!std::cout)
        return fail("cannot write standard output");
    if (replies.is_open()) {
        replies.close();
        if (!replies)
            return fail("cannot write replies file '" + *repliesPath + "'");
    }
    return 0;
}
