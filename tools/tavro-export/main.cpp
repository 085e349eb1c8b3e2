// SPDX-License-Identifier: MIT
// tavro-export: turns saved reports, journals and raw captures into one CSV or JSON table.

#include "Exporter.h"
#include "Output.h"
#include "TableWriter.h"
#include "ToolIo.h"
#include "Version.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr int exitUnderstood = 0;
constexpr int exitNotUnderstood = 1;
constexpr int exitUsage = 2;

const char* const usage = "Usage: tavro-export [--format csv|json] [--output FILE] [FILE...]\n"
                          "\n"
                          "Writes the memory groups in Tavro report text (files saved from the window, journal\n"
                          "files) and in raw captures of what a timer sent (as tavro-decode reads them) as one\n"
                          "table: CSV for spreadsheets or JSON. Each FILE, or standard input when none is given or\n"
                          "FILE is '-', is told apart by its content. Report text may have CR LF, LF or CR line\n"
                          "ends and hold any number of report blocks, also from several files in a row.\n"
                          "\n"
                          "CSV: a header row, then one row per lap and one row for a group without laps, comma\n"
                          "separated, quoted only where needed, UTF-8, CR LF line ends. Columns:\n"
                          "  file               the input's name as given ('-' for standard input)\n"
                          "  group              the group number as its three digits\n"
                          "  date, weekday      the record date (2008-03-05) and its weekday name; empty when\n"
                          "                     the timer sent none\n"
                          "  lap                the lap number\n"
                          "  lap_time, split_time                       as in the report (0:01'23.45)\n"
                          "  lap_seconds, split_seconds                 the same in seconds (83.45)\n"
                          "  average, fastest, slowest, end_time        the group's values, on each of its rows\n"
                          "  average_seconds, fastest_seconds, slowest_seconds, end_time_seconds\n"
                          "A seconds column is empty where the report shows no time: xxxxxxx (never received),\n"
                          "-:--'--.-- (marked absent by the timer), nothing, or a malformed value. end_time is\n"
                          "empty where the report shows a single space (the end time is earlier than the last\n"
                          "split). JSON: an array of groups with the same names and a \"laps\" array per group;\n"
                          "texts are strings (\"\" when empty), seconds are numbers (null without a time).\n"
                          "\n"
                          "Options:\n"
                          "  --format csv|json  the table's format (default csv; json when FILE of --output\n"
                          "                     ends in .json)\n"
                          "  --output FILE      write the table to FILE, replacing it only once the table is\n"
                          "                     complete (default: standard output)\n"
                          "  --help             show this text\n"
                          "  --version          show the version\n"
                          "\n"
                          "Text that is not report text (a block that breaks off, lines outside any block) is\n"
                          "reported on standard error with its file and line and left out; the rest is exported.\n"
                          "A capture that ends inside a group that did not complete (a run that ended, or an\n"
                          "adapter pulled, while the timer was sending; the timer still has that group) is noted\n"
                          "there too, and that group is left out.\n"
                          "\n"
                          "Exit status: 0 when everything was understood (a capture may end inside a group); 1\n"
                          "when something was left out, or a capture holds no complete group; 2 on a bad option,\n"
                          "or an input that cannot be read or an output that cannot be written.\n";

int usageError(const std::string& message) {
    std::cerr << "tavro-export: " << message << "\nTry 'tavro-export --help'.\n";
    return exitUsage;
}

void say(const std::string& message) {
    std::cerr << "tavro-export: " << message << "\n";
}

std::optional<exporter::Format> parseFormat(std::string_view text) {
    if (text == "csv")
        return exporter::Format::csv;
    if (text == "json")
        return exporter::Format::json;
    return std::nullopt;
}

// Closes a descriptor this program opened.
class InputFile {
public:
    explicit InputFile(const std::string& path) : fd(toolio::OpenForReading(path)) {}
    ~InputFile() {
        if (fd >= 0)
            ::close(fd);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd;
};

} // namespace

int main(int argc, char** argv) {
    toolio::UseBinaryStandardStreams();
    std::optional<exporter::Format> format;
    std::optional<std::string> outputPath;
    std::vector<std::string> inputs;
    bool onlyFiles = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (onlyFiles || arg == "-" || !arg.starts_with("-")) {
            inputs.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return exitUnderstood;
        }
        if (arg == "--version") {
            std::cout << "tavro-export " << tavroVersion << "\n";
            return exitUnderstood;
        }
        // --format VALUE or --format=VALUE, and the same for --output.
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (name != "--format" && name != "--output")
            return usageError("unknown option '" + std::string(arg) + "'");
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return usageError(std::string(name) + " needs a value");
        }
        if (name == "--format") {
            format = parseFormat(value);
            if (!format)
                return usageError("--format is csv or json, not '" + value + "'");
        } else {
            if (value.empty())
                return usageError("--output needs a file name");
            outputPath = value;
        }
    }
    if (inputs.empty())
        inputs.emplace_back("-");
    if (!format)
        format = outputPath && outputPath->ends_with(".json") ? exporter::Format::json : exporter::Format::csv;

    std::optional<exporter::ReplacingFile> outputFile;
    if (outputPath) {
        try {
            outputFile.emplace(*outputPath);
        } catch (const std::system_error& e) {
            say(std::string(e.what()));
            return exitUsage;
        }
    }
    exporter::BufferedOutput output(outputFile ? outputFile->Fd() : STDOUT_FILENO);
    const auto writer = exporter::MakeTableWriter(*format);
    exporter::Exporter exporter(*writer, output, say);

    int status = exitUnderstood;
    writer->Begin(output.Buffer());
    for (const std::string& input : inputs) {
        exporter::InputOutcome outcome;
        if (input == "-") {
            outcome = exporter.ExportFile(STDIN_FILENO, input);
        } else {
            const InputFile file(input);
            if (file.fd < 0) {
                say("cannot open " + input + ": " + std::strerror(errno));
                status = exitUsage;
                continue;
            }
            outcome = exporter.ExportFile(file.fd, input);
        }
        if (!outcome.readable) {
            say("cannot read " + input + ": " + outcome.readError);
            status = exitUsage;
        } else if (outcome.problems > 0 && status == exitUnderstood) {
            status = exitNotUnderstood;
        }
    }
    writer->End(output.Buffer());

    if (!output.Flush()) {
        say("cannot write " + (outputPath ? *outputPath : std::string("standard output")) + ": " +
            std::strerror(output.Error()));
        return exitUsage;
    }
    if (outputFile) {
        try {
            outputFile->Commit();
        } catch (const std::system_error& e) {
            say(std::string(e.what()));
            return exitUsage;
        }
    }
    return status;
}
