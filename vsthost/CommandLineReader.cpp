#include "vsthost/CommandLineReader.h"

#include <limits>

namespace orvane::vsthost
{
LineStatus readCommandLine (std::istream& in, std::string& line, std::size_t maxLength)
{
    line.clear();

    if (! in.good())
        return LineStatus::end;

    char chunk[65536];
    bool anyExtracted = false;

    for (;;)
    {
        in.getline (chunk, sizeof (chunk));
        const auto extracted = static_cast<std::size_t> (in.gcount());
        anyExtracted = anyExtracted || extracted > 0;

        if (in.bad())
            return LineStatus::end;

        if (! in.fail())
        {
            // The LF was found (it is counted in gcount) or input ended after some bytes.
            const auto stored = in.eof() ? extracted : extracted - 1;

            if (line.size() + stored > maxLength)
                return LineStatus::tooLong;

            line.append (chunk, stored);
            return LineStatus::line;
        }

        if (in.eof())
        {
            // Input ended; what was gathered before is the last line.
            in.clear (std::ios::eofbit);
            return anyExtracted ? (line.size() + extracted > maxLength ? LineStatus::tooLong : LineStatus::line)
                                : LineStatus::end;
        }

        // The chunk filled up without a LF.
        in.clear();

        if (line.size() + extracted > maxLength)
        {
            in.ignore (std::numeric_limits<std::streamsize>::max(), '\n');
            return in.bad() ? LineStatus::end : LineStatus::tooLong;
        }

        line.append (chunk, extracted);
    }
}
} // namespace orvane::vsthost
