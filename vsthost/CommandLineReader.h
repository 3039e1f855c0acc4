#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace orvane::vsthost
{
enum class LineStatus
{
    line,      // `line` holds the bytes before the LF (or before the end of input)
    tooLong,   // the line exceeded the bound; it was read up to its LF and dropped
    end        // end of input or a read error
};

/** Reads one line up to LF, like std::getline (no CR is removed), but never holds more than
    `maxLength` bytes: a longer line is consumed up to its LF and reported as tooLong. */
LineStatus readCommandLine (std::istream& in, std::string& line, std::size_t maxLength);
} // namespace orvane::vsthost
