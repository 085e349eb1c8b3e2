// SPDX-License-Identifier: MIT
#pragma once

#include "ExportModel.h"

#include <memory>
#include <string>
#include <string_view>

namespace exporter {

enum class Format { csv, json };

// Turns groups into one table. Writers append to a string that the caller flushes when it
// likes, so a writer holds nothing but a flag and the output can be streamed.
//
// CSV (RFC 4180): a header row, then one row per lap and one row for a group without laps;
// comma separated, a field quoted only when it holds a comma, a quote, CR or LF; CR LF line
// ends. JSON: one array of groups, each with an array "laps". Both are UTF-8: bytes that are
// not UTF-8 already (an 8-bit file name, say) are taken as Latin-1.
//
// Texts are written as the report shows them; in JSON an empty text is "" (it is a value the
// report holds, e.g. a group without a date), while a seconds field without a time is null,
// since no number stands for "no time".
class TableWriter {
public:
    virtual ~TableWriter() = default;
    virtual void Begin(std::string& out) = 0;
    // `file` names the input the group came from ("-" for standard input).
    virtual void Group(std::string& out, std::string_view file, const GroupRow& group) = 0;
    virtual void End(std::string& out) = 0;
};

std::unique_ptr<TableWriter> MakeTableWriter(Format format);

// Appends bytes as UTF-8, passing valid UTF-8 through and taking every other byte as Latin-1.
void AppendUtf8(std::string& out, std::string_view bytes);

} // namespace exporter
