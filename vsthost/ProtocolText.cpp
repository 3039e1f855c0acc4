#include "vsthost/ProtocolText.h"

namespace orvane::vsthost
{
std::vector<std::string> splitFields (const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;

    for (;;)
    {
        const auto tab = line.find ('\t', start);

        if (tab == std::string::npos)
        {
            fields.push_back (line.substr (start));
            return fields;
        }

        fields.push_back (line.substr (start, tab - start));
        start = tab + 1;
    }
}

std::string sanitizeField (std::string text)
{
    for (auto& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';

    return text;
}

void writeOk (std::ostream& out, const std::string& payload)
{
    if (payload.empty())
        out << "OK\n";
    else
        out << "OK\t" << payload << '\n';

    out.flush();
}

void writeErr (std::ostream& out, const std::string& message)
{
    out << "ERR\t" << sanitizeField (message) << '\n';
    out.flush();
}

void writeDataLine (std::ostream& out, const char* word, const std::string& fields)
{
    out << word << '\t' << fields << '\n';
}

std::string joinFields (const std::vector<std::string>& fields)
{
    std::string joined;

    for (std::size_t i = 0; i < fields.size(); ++i)
    {
        if (i > 0)
            joined += '\t';

        joined += fields[i];
    }

    return joined;
}
} // namespace orvane::vsthost
