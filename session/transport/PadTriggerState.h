#pragma once

#include "session/transport/PadAudioCommand.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::audio
{
/** What PadTriggerState::trigger returns. started and retriggered equal the
    kind of the PadAudioCommand that carries them (padCommandKind). */
enum class PadTriggerCode : int
{
    started = 0,     // a new entry was appended
    retriggered = 1, // the pad was sounding: its retrigger count rose by one
    noAudio = 2,     // the pad slot has no audio file assigned
    invalid = 3      // the bank or the pad number is out of range
};

/** The PadAudioCommand kind that carries a press; none for the presses that
    send nothing (noAudio, invalid). */
constexpr std::optional<PadAudioCommandKind> padCommandKind (PadTriggerCode code)
{
    switch (code)
    {
        case PadTriggerCode::started:     return PadAudioCommandKind::start;
        case PadTriggerCode::retriggered: return PadAudioCommandKind::restart;
        case PadTriggerCode::noAudio:
        case PadTriggerCode::invalid:     break;
    }
    return std::nullopt;
}

/** One sounding pad. */
struct PadTrigger
{
    int bank = 1;                 // 1..5
    int slot = 1;                 // 1..9
    std::int64_t retriggers = 0;  // presses while it sounded; 0 at the first press

    bool operator== (const PadTrigger& other) const
    {
        return bank == other.bank && slot == other.slot && retriggers == other.retriggers;
    }
    bool operator!= (const PadTrigger& other) const  { return ! operator== (other); }
};

/** The current pad bank and the pads that are sounding, in order of first
    press. Pads of a previous bank keep their entries after a bank switch. A
    plain value: the pad controller works on a copy and commits it only when
    the audio side accepts. Message thread only. */
struct PadTriggerState
{
    static constexpr int numBanks = 5;
    static constexpr int padsPerBank = 9;

    int bank = 1;
    std::vector<PadTrigger> triggers;

    /** A press of pad slot (1..9) of the current bank. An invalid bank or slot
        is reported before a missing file (noAudio); both change nothing. */
    PadTriggerCode trigger (int slot, bool hasAudio);

    /** Removes every entry of that pad, keeping the order of the others. */
    void removeVoice (int bank, int slot);

    /** Removes all entries. */
    void clear();

    /** Makes bank 1..5 current (true); any other value changes nothing (false). */
    bool setBank (int newBank);

    bool operator== (const PadTriggerState& other) const
    {
        return bank == other.bank && triggers == other.triggers;
    }
    bool operator!= (const PadTriggerState& other) const  { return ! operator== (other); }
};
} // namespace orvane::audio
