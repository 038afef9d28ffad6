// The simulator's log line: what the writer writes, the parser reads back.

#include "board_model.h"
#include "sim_log.h"

#include <gtest/gtest.h>

namespace {

using zelto::sim::BoardModel;
using zelto::sim::LogLine;
using zelto::sim::parseLogLine;
using zelto::sim::writeLogLine;

TEST(SimLog, ParserReadsWhatTheWriterWrote) {
    const struct {
        LogLine fields;
        const char* line;
    } rows[] = {
        {{"30", "a2d pin 0", "03 FF", ""}, "30          a2d pin 0 -> 03 FF"},
        {{"0E 81 02 03", "tone pin 1 value 1000 duration 250", "", ""},
         "0E 81 02 03 tone pin 1 value 1000 duration 250"},
        {{"01", "ok", "33", "silent"}, "01          ok -> 33 [silent]"},
        {{"01", "ok", "51", "after 3 stray bytes"}, "01          ok -> 51 [after 3 stray bytes]"},
        {{"85", "stray data byte", "", ""}, "85          stray data byte"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(writeLogLine(row.fields), row.line);
        EXPECT_EQ(parseLogLine(row.line), row.fields) << row.line;
    }
    for (const char* other : {"/dev/pts/3", "# analog 0 512", "# tris 255 latch 0", "", "30"})
        EXPECT_EQ(parseLogLine(other), std::nullopt) << other;
}

TEST(SimLog, BoardModelEventsReadBack) {
    BoardModel model;
    model.feed(std::string("\x01\x30\x08\x81\x80\x85\x0E\x81\x02\x03", 10));
    ASSERT_GE(model.events().size(), 4u);
    for (const BoardModel::Event& e : model.events())
        EXPECT_EQ(parseLogLine(e.line()), e.logLine()) << e.line();
}

} // namespace
