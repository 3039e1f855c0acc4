// The protocol's number fields: what is accepted, what is refused, and the exact texts.
#include "vsthost/ProtocolNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace orvane::vsthost;

namespace
{
struct NumberCase
{
    std::string field;
    double value;          // expected value when accepted
    std::string error;     // expected what() when refused ("" = accepted)
};

template <typename Parse>
void checkCases (const std::vector<NumberCase>& cases, Parse parse)
{
    for (const auto& c : cases)
    {
        try
        {
            const auto value = parse (c.field);
            EXPECT_TRUE (c.error.empty()) << "'" << c.field << "' was accepted";

            if (std::isnan (c.value))
                EXPECT_TRUE (std::isnan (static_cast<double> (value))) << c.field;
            else
                EXPECT_EQ (static_cast<double> (value), c.value) << "'" << c.field << "'";
        }
        catch (const std::invalid_argument& failure)
        {
            EXPECT_EQ (failure.what(), c.error) << "'" << c.field << "'";
            EXPECT_NE (c.error.find ("invalid"), std::string::npos) << "'" << c.field << "'";
        }
        catch (const std::out_of_range& failure)
        {
            EXPECT_EQ (failure.what(), c.error) << "'" << c.field << "'";
            EXPECT_NE (c.error.find ("out of range"), std::string::npos) << "'" << c.field << "'";
        }
    }
}
} // namespace

TEST (ProtocolNumbers, Unsigned32)
{
    checkCases ({
        { "0", 0, "" },
        { "512", 512, "" },
        { " \t\v\f\r\n42", 42, "" },
        { "+7", 7, "" },
        { "-0", 0, "" },
        { "0042", 42, "" },
        { "12abc", 12, "" },
        { "4294967295", 4294967295.0, "" },
        { "4294967296", 0, "stoul argument out of range" },
        { "4294967298", 0, "stoul argument out of range" },
        { "99999999999999999999999", 0, "stoul argument out of range" },
        { "-1", 0, "stoul argument out of range" },
        { "", 0, "invalid stoul argument" },
        { "x", 0, "invalid stoul argument" },
        { "+", 0, "invalid stoul argument" },
        { "+-1", 0, "invalid stoul argument" },
        { " ", 0, "invalid stoul argument" },
        { "0x10", 0, "" },
    }, parseUint32Field);
}

TEST (ProtocolNumbers, Unsigned64)
{
    checkCases ({
        { "18446744073709551615", 18446744073709551615.0, "" },
        { "18446744073709551616", 0, "stoull argument out of range" },
        { "8388608", 8388608, "" },
        { "-5", 0, "stoull argument out of range" },
        { "abc", 0, "invalid stoull argument" },
    }, parseUint64Field);

    EXPECT_EQ (parseUint64Field ("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
}

TEST (ProtocolNumbers, Doubles)
{
    const auto infinity = std::numeric_limits<double>::infinity();
    checkCases ({
        { "48000", 48000.0, "" },
        { "44100.5", 44100.5, "" },
        { "  -0.25", -0.25, "" },
        { "+1e3", 1000.0, "" },
        { ".5", 0.5, "" },
        { "5.", 5.0, "" },
        { "1.0000001", 1.0000001, "" },
        { "0.5 trailing", 0.5, "" },
        { "0x1p3", 8.0, "" },
        { "0x", 0.0, "" },
        { "inf", infinity, "" },
        { "-Infinity", -infinity, "" },
        { "nan", std::nan (""), "" },
        { "1e999", 0, "stod argument out of range" },
        { "-1e999", 0, "stod argument out of range" },
        { "", 0, "invalid stod argument" },
        { "e5", 0, "invalid stod argument" },
        { "--1", 0, "invalid stod argument" },
        { ".", 0, "invalid stod argument" },
        { "value", 0, "invalid stod argument" },
    }, parseDoubleField);
}

TEST (ProtocolNumbers, DefaultDoubleFormat)
{
    EXPECT_EQ (formatDefaultDouble (0.5), "0.5");
    EXPECT_EQ (formatDefaultDouble (1.0), "1");
    EXPECT_EQ (formatDefaultDouble (0.0), "0");
    EXPECT_EQ (formatDefaultDouble (1e-05), "1e-05");
    EXPECT_EQ (formatDefaultDouble (0.123456789), "0.123457");
    EXPECT_EQ (formatDefaultDouble (1234567.0), "1.23457e+06");
    EXPECT_EQ (formatDefaultDouble (100000.0), "100000");
}
