// SPDX-License-Identifier: MIT
#include "ReceivedData.h"
#include "Wire.h"

#include <gtest/gtest.h>

namespace {

using wire::Bytes;

// A record followed by one more byte, so that it is decodable.
Bytes decodable(const Bytes& record) {
    Bytes b = record;
    b.push_back(0x00);
    return b;
}

// A payload and the text it decodes to.
struct PayloadRow {
    wire::Payload payload;
    std::string text;
};

TEST(RecordModelTest, TimeTexts) {
    const std::vector<PayloadRow> rows{
        {{0x01, 0x23, 0x45, 0x67}, "1:23'45.67"},
        {{0xF1, 0x23, 0x45, 0x67}, "1:23'45.67"}, // N0 is not examined
        {{0x0F, 0x00, 0x00, 0x00}, "-:--'--.--"},
        {{0xFF, 0x12, 0x34, 0x56}, "-:--'--.--"},
        {{0x0A, 0x00, 0x00, 0x00},
         ":"
         ":00'00.00"},
        {{0x09, 0x59, 0x59, 0x99}, "9:59'59.99"},
        {{0x00, 0xAB, 0xCD, 0xEF}, "0::;'<=.>?"},
    };
    for (const PayloadRow& row : rows) {
        const Bytes b = decodable(wire::record(wire::lap, 1, row.payload));
        TMyTime t;
        t.SetFromRecord(b, 0);
        EXPECT_EQ(t.text, row.text) << row.text;
    }
}

TEST(RecordModelTest, DateAndGroupTexts) {
    const std::vector<PayloadRow> dates{
        {{0x00, 0x71, 0x12, 0x24}, "2007-11-22\tThursday"},
        {{0x00, 0x71, 0x12, 0x27}, "2007-11-22\t"},
        {{0x00, 0x80, 0x30, 0x53}, "2008-03-05\tWednesday"},
        {{0x59, 0x91, 0x20, 0x30}, "2099-12-03\tSunday"}, // N0 is not examined
        {wire::datePayload(11, 1, 1, 6), "2011-01-01\tSaturday"},
        {wire::datePayload(11, 1, 1, 15), "2011-01-01\t"},
    };
    for (const PayloadRow& row : dates) {
        const Bytes b = decodable(wire::record(wire::date, 0, row.payload));
        TMyDate d;
        d.SetFromRecord(b, 0);
        EXPECT_EQ(d.text, row.text);
    }

    const std::vector<std::pair<unsigned, std::string>> groups{{7, "007"}, {0, "000"}, {42, "042"}, {999, "999"}};
    for (const auto& [index, text] : groups) {
        const Bytes b = decodable(wire::record(wire::group, index, {0x12, 0x34, 0x56, 0x78}));
        TMyGroup g;
        g.SetFromRecord(b, 0);
        EXPECT_EQ(g.text, text);
    }
    // Index nibbles above 9 are written as the characters after '9'.
    Bytes odd = decodable(wire::record(wire::group, 0, {}));
    odd[2] |= 0x0C;
    odd[3] = 0xAF;
    TMyGroup g;
    g.SetFromRecord(odd, 0);
    EXPECT_EQ(g.text, "<:?");
}

TEST(RecordModelTest, RecordEndingAtLastByteIsNotDecoded) {
    const Bytes exact = wire::record(wire::lap, 1, wire::timePayload(0, 1, 2, 3));
    TMyTime t("before");
    t.SetFromRecord(exact, 0);
    EXPECT_EQ(t.text, "before");
    TMyDate d;
    d.SetFromRecord(exact, 0);
    EXPECT_EQ(d.text, "");
    TMyGroup g;
    g.SetFromRecord(exact, 0);
    EXPECT_EQ(g.text, "");
    // Far beyond the buffer: still nothing, and no read outside it.
    t.SetFromRecord(exact, 1000);
    EXPECT_EQ(t.text, "before");
}

TEST(RecordModelTest, Addition) {
    struct Row {
        std::string a, b, sum;
    };
    const std::vector<Row> rows{
        {"0:01'02.03", "0:00'58.10", "0:02'00.13"},
        {"0:59'59.99", "0:00'00.01", "1:00'00.00"},
        {"9:59'59.99", "0:00'00.01", "0:00'00.00"}, // the hour wraps
        {"0:00'00.00", "0:00'00.00", "0:00'00.00"},
        {"1:23'45.67", "2:34'56.78", "3:58'42.45"},
        {"0:00'00.99", "0:00'00.01", "0:00'01.00"},
        // A missing slot makes the sum missing, whichever side it is on.
        {"0:01'00.00", "xxxxxxx", "xxxxxxx"},
        {"xxxxxxx", "0:01'00.00", "xxxxxxx"},
        {"xxxxxxx", "xxxxxxx", "xxxxxxx"},
        // An absent time makes the sum absent; missing wins over absent.
        {"0:01'00.00", "-:--'--.--", "-:--'--.--"},
        {"-:--'--.--", "0:01'00.00", "-:--'--.--"},
        {"-:--'--.--", "xxxxxxx", "xxxxxxx"},
        // Texts too short to hold a time are never read past their end.
        {"", "0:01'00.00", "xxxxxxx"},
        {"0:01'00.00", "1:2", "xxxxxxx"},
        // Malformed digits are added as their low four bits and written in decimal.
        {"0:00'00.0:", "0:00'00.0:", "0:00'00.110"},
    };
    for (const Row& row : rows) {
        TMyTime a(row.a);
        const TMyTime b(row.b);
        EXPECT_EQ(&a.Add(b), &a);
        EXPECT_EQ(a.text, row.sum) << row.a << " + " << row.b;
        EXPECT_EQ(b.text, row.b);
    }
}

// Stores lap and split records through the decoder's own buffer, as its dispatch does.
struct Stores {
    TReceivedData d;
    void lap(unsigned n, wire::Payload p) { store(wire::lap, n, p); }
    void split(unsigned n, wire::Payload p) { store(wire::split, n, p); }
    void store(unsigned type, unsigned n, wire::Payload p) {
        const std::size_t offset = d.buffer.size();
        const Bytes r = decodable(wire::record(type, n, p));
        d.buffer.insert(d.buffer.end(), r.begin(), r.end());
        type == wire::lap ? d.StoreLap(offset, n) : d.StoreSplit(offset, n);
    }
    std::vector<std::string> texts(const std::vector<TMyTime>& list) const {
        std::vector<std::string> out;
        for (const TMyTime& t : list)
            out.push_back(t.text);
        return out;
    }
};

using Texts = std::vector<std::string>;

TEST(RecordModelTest, LapsInOrderSumToSplits) {
    Stores s;
    s.lap(1, wire::timePayload(0, 1, 2, 3));
    s.lap(2, wire::timePayload(0, 0, 58, 10));
    s.lap(3, wire::timePayload(0, 1, 0, 0));
    EXPECT_EQ(s.texts(s.d.laps), (Texts{"0:01'02.03", "0:00'58.10", "0:01'00.00"}));
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"0:01'02.03", "0:02'00.13", "0:03'00.13"}));
}

TEST(RecordModelTest, SkippedSlotsAndLateLaps) {
    Stores s;
    s.lap(3, wire::timePayload(0, 1, 0, 0));
    EXPECT_EQ(s.texts(s.d.laps), (Texts{"xxxxxxx", "xxxxxxx", "0:01'00.00"}));
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"xxxxxxx", "xxxxxxx", "xxxxxxx"}));
    s.lap(1, wire::timePayload(0, 1, 2, 3));
    s.lap(2, wire::timePayload(0, 0, 58, 10));
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"0:01'02.03", "0:02'00.13", "xxxxxxx"}));
    s.lap(3, wire::timePayload(0, 1, 0, 0));
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"0:01'02.03", "0:02'00.13", "0:03'00.13"}));
}

TEST(RecordModelTest, SplitRecordsAndIndexZero) {
    Stores s;
    s.split(2, wire::timePayload(0, 2, 0, 0));
    EXPECT_TRUE(s.d.laps.empty());
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"xxxxxxx", "0:02'00.00"}));
    // A split record overrides the split, and a later lap builds on it.
    s.lap(3, wire::timePayload(0, 1, 0, 0));
    EXPECT_EQ(s.texts(s.d.splits), (Texts{"xxxxxxx", "0:02'00.00", "0:03'00.00"}));

    s.lap(0, wire::timePayload(0, 9, 9, 9));
    s.split(0, wire::timePayload(0, 9, 9, 9));
    EXPECT_EQ(s.d.laps.size(), 3u);
    EXPECT_EQ(s.d.splits.size(), 3u);

    s.split(999, wire::timePayload(0, 1, 1, 1));
    EXPECT_EQ(s.d.splits.size(), 999u);
    EXPECT_EQ(s.d.splits[998].text, "0:01'01.01");
}

} // namespace
