#pragma once

#include <cstdint>
#include <string>

namespace orvane::vsthost
{
// The protocol's number fields, read independently of the locale: leading white space and a
// sign are accepted and text after the number is ignored. A field without a number throws
// std::invalid_argument ("invalid stoul argument" / "invalid stoull argument" /
// "invalid stod argument"); a value out of range, a negative value for an unsigned field
// included, throws std::out_of_range ("stoul argument out of range" / ...).

/** A 32-bit unsigned decimal number. */
std::uint32_t parseUint32Field (const std::string& field);

/** A 64-bit unsigned decimal number. */
std::uint64_t parseUint64Field (const std::string& field);

/** A double (decimal or hexadecimal notation, "inf" and "nan" included). */
double parseDoubleField (const std::string& field);

/** A double in the stream's default notation: 6 significant digits, the shorter of fixed and
    exponent notation ("0.5", "1", "1e-05"), always with a '.' as decimal point. */
std::string formatDefaultDouble (double value);
} // namespace orvane::vsthost
