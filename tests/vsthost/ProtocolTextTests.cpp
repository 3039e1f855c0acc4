// Splitting command lines, sanitising reply fields and reading bounded lines.
#include "vsthost/CommandLineReader.h"
#include "vsthost/ProtocolText.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace orvane::vsthost;

TEST (ProtocolText, SplitKeepsEmptyFieldsAndAlwaysGivesOne)
{
    EXPECT_EQ (splitFields (""), (std::vector<std::string> { "" }));
    EXPECT_EQ (splitFields ("PING"), (std::vector<std::string> { "PING" }));
    EXPECT_EQ (splitFields ("a\t\tb\t"), (std::vector<std::string> { "a", "", "b", "" }));
    EXPECT_EQ (splitFields ("\t"), (std::vector<std::string> { "", "" }));
    EXPECT_EQ (splitFields ("PING\r"), (std::vector<std::string> { "PING\r" }));
}

TEST (ProtocolText, ErrorLinesAreAlwaysOneLine)
{
    EXPECT_EQ (sanitizeField ("a\tb\rc\nd"), "a b c d");

    std::ostringstream out;
    writeErr (out, "dlopen failed.\nlibfoo.so: cannot open\r\n");
    writeOk (out);
    writeOk (out, "x\ty");
    EXPECT_EQ (out.str(), "ERR\tdlopen failed. libfoo.so: cannot open  \nOK\nOK\tx\ty\n");
}

TEST (CommandLineReader, ReadsLinesLikeGetlineWithinTheBound)
{
    std::istringstream in (std::string ("one\r\n\ntwo\0three\nlast", 20));
    std::string line;

    ASSERT_EQ (readCommandLine (in, line, 100), LineStatus::line);
    EXPECT_EQ (line, "one\r");
    ASSERT_EQ (readCommandLine (in, line, 100), LineStatus::line);
    EXPECT_EQ (line, "");
    ASSERT_EQ (readCommandLine (in, line, 100), LineStatus::line);
    EXPECT_EQ (line, std::string ("two\0three", 9));
    ASSERT_EQ (readCommandLine (in, line, 100), LineStatus::line);
    EXPECT_EQ (line, "last");
    EXPECT_EQ (readCommandLine (in, line, 100), LineStatus::end);
}

TEST (CommandLineReader, LongLinesAcrossChunksAndTheBound)
{
    const std::string exact (200000, 'a');
    const std::string over (200001, 'b');
    std::istringstream in (exact + "\n" + over + "\nafter\n" + over);
    std::string line;

    ASSERT_EQ (readCommandLine (in, line, 200000), LineStatus::line);
    EXPECT_EQ (line, exact);
    EXPECT_EQ (readCommandLine (in, line, 200000), LineStatus::tooLong);
    ASSERT_EQ (readCommandLine (in, line, 200000), LineStatus::line);
    EXPECT_EQ (line, "after");
    EXPECT_EQ (readCommandLine (in, line, 200000), LineStatus::tooLong);
    EXPECT_EQ (readCommandLine (in, line, 200000), LineStatus::end);

    // A line that exactly fills the reader's chunk, then its LF.
    const std::string chunk (65535, 'c');
    std::istringstream exactChunk (chunk + "\nz\n");
    ASSERT_EQ (readCommandLine (exactChunk, line, 1 << 20), LineStatus::line);
    EXPECT_EQ (line, chunk);
    ASSERT_EQ (readCommandLine (exactChunk, line, 1 << 20), LineStatus::line);
    EXPECT_EQ (line, "z");
}
