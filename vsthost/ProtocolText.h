#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvane::vsthost
{
/** Splits a command line on TAB: every TAB separates two fields, empty fields stay, and there
    is always at least one field. */
std::vector<std::string> splitFields (const std::string& line);

/** A copy with every TAB, LF and CR replaced by a space. */
std::string sanitizeField (std::string text);

/** "OK" (or "OK", TAB, payload), LF; flushes. */
void writeOk (std::ostream& out, const std::string& payload = {});

/** "ERR", TAB, the message with TAB, CR and LF replaced by spaces (a reply is one line), LF;
    flushes. */
void writeErr (std::ostream& out, const std::string& message);

/** A data line (CLASS, PARAM) of already joined fields; not flushed. */
void writeDataLine (std::ostream& out, const char* word, const std::string& fields);

/** Joins fields with TAB. */
std::string joinFields (const std::vector<std::string>& fields);
} // namespace orvane::vsthost
