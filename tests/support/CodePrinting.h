#pragma once

#include "session/transport/AudioCommand.h"
#include "session/transport/CueState.h"
#include "session/transport/PadAudioCommand.h"
#include "session/transport/PadTriggerState.h"

#include <ostream>
#include <type_traits>

namespace vantrel::test
{
/** The number of a kind, answer, code or mode, for failure messages. Tests turn these enums
    into numbers here and nowhere else. */
template <typename Code>
constexpr auto numberOf (Code code)
{
    return static_cast<std::underlying_type_t<Code>> (code);
}

/** A value of the enum from its number, also one outside the enumerators: what a sink or a
    command may carry when it was cast from a number, and must be answered safely. */
template <typename Code>
constexpr Code codeFromNumber (std::underlying_type_t<Code> number)
{
    return static_cast<Code> (number);
}
} // namespace vantrel::test

namespace orvane::audio
{
// Readable failure messages: the enum's name and its number.
inline void PrintTo (SinkAnswer value, std::ostream* out)           { *out << "SinkAnswer " << vantrel::test::numberOf (value); }
inline void PrintTo (AudioCommandKind value, std::ostream* out)     { *out << "AudioCommandKind " << vantrel::test::numberOf (value); }
inline void PrintTo (PadAudioCommandKind value, std::ostream* out)  { *out << "PadAudioCommandKind " << vantrel::test::numberOf (value); }
inline void PrintTo (GoKind value, std::ostream* out)               { *out << "GoKind " << vantrel::test::numberOf (value); }
inline void PrintTo (RepeatMode value, std::ostream* out)           { *out << "RepeatMode " << vantrel::test::numberOf (value); }
inline void PrintTo (PadTriggerCode value, std::ostream* out)       { *out << "PadTriggerCode " << vantrel::test::numberOf (value); }
} // namespace orvane::audio
