// The coordinator's pad operations: firing and stopping pads, the bank, PAD MUTE and the pad
// gains, editing slots, and assigning audio through a verified copy into the pad asset folder.
#include "app/SessionCoordinator.h"

#include "platform/FileCopy.h"
#include "platform/ThreadContract.h"
#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace vantrel
{
namespace
{
std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }
} // namespace

// ---- firing, stopping, bank, bus ---------------------------------------------------------------

void SessionCoordinator::triggerPad (int pad)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    const auto index = padIndex (playback.pads().bank, pad);
    if (! index)
        return;

    const auto result = playback.padController().triggerPad (pad, ! state.pads[(size_t) *index].asset.empty());
    if (result.answer == orvane::audio::SinkAnswer::accepted)
        setStatus (translate ("PAD ") + juce::String (pad));
    else if (result.answer == orvane::audio::SinkAnswer::refused)
        // A refusal always names a reason, even when the adapter recorded none.
        setAlert (audio.lastError().isNotEmpty() ? audio.lastError() : translate ("音源を開始できません"));
}

void SessionCoordinator::stopAllPads()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    const auto answer = playback.padController().stopAllPads();
    if (answer == orvane::audio::SinkAnswer::accepted)
        setStatus (translate ("PADをすべて停止しました"));
    else if (answer == orvane::audio::SinkAnswer::refused)
        // The pads still sound: the operator must not take the silence for granted.
        setAlert (translate ("停止を確定できませんでした"));
}

bool SessionCoordinator::selectPadBank (int bank)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! playback.padController().selectBank (bank))
        return false;
    preloadMedia();
    return true;
}

void SessionCoordinator::setPadMute (bool on)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    padBus.setMute (on);
}

void SessionCoordinator::setPadBusGain (float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    padBus.setGain (gainDb);
}

bool SessionCoordinator::isPadActive (int bank, int pad) const
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    return playback.isPadActive (bank, pad);
}

bool SessionCoordinator::canEditPad (int bank, int pad)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (store.recoveryRequired.load())
    {
        setAlert (translate ("保存データを復旧してから編集してください"));
        return false;
    }
    if (! padIndex (bank, pad))
        return false;
    if (isPadActive (bank, pad))
    {
        setStatus (translate ("再生中の為変更・削除ができません。"));
        return false;
    }
    return true;
}

// ---- slot edits ----------------------------------------------------------------------------------

bool SessionCoordinator::setPadGain (int bank, int pad, float gainDb)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    const auto index = padIndex (bank, pad);
    if (store.recoveryRequired.load() || ! index || ! std::isfinite (gainDb) || state.pads[(size_t) *index].asset.empty())
        return false;

    // Allowed while the pad sounds: the adapter passes the gain on to its voice.
    auto& slot = state.pads[(size_t) *index];
    slot.gainDb = clampGainDb (gainDb);
    audio.setMediaGain (padMediaKey (bank, pad), slot.gainDb);
    persist();
    return true;
}

bool SessionCoordinator::setPadLabel (int bank, int pad, const std::string& name)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! canEditPad (bank, pad))
        return false;
    const auto index = (size_t) *padIndex (bank, pad);
    state.pads[index].name = name;
    padAssets.touch (index);
    persist();
    return true;
}

std::optional<std::string> SessionCoordinator::clearPad (int bank, int pad)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! canEditPad (bank, pad))
        return std::nullopt;
    const auto index = (size_t) *padIndex (bank, pad);
    auto& slot = state.pads[index];
    auto former = slot.asset;
    // The file stays in the asset folder; the library keeps showing it under the pad's name.
    if (! former.empty())
        library.rename (padAssets.folder().getChildFile (juce::String::fromUTF8 (former.c_str())),
                        juce::String::fromUTF8 (slot.name.c_str()));
    slot = PadSlot {};
    padAssets.touch (index);
    persist();
    return former;
}

bool SessionCoordinator::movePad (int bank, int from, int to)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! canEditPad (bank, from) || ! canEditPad (bank, to))
        return false;

    PadFlags sounding {};
    for (const auto& trigger : playback.pads().triggers)
        if (const auto index = padIndex (trigger.bank, trigger.slot))
            sounding[(size_t) *index] = true;
    if (! movePadSlot (state.pads, bank, from, to, sounding))
        return false;

    padAssets.touch ((size_t) *padIndex (bank, from));
    padAssets.touch ((size_t) *padIndex (bank, to));
    registerMedia (false);
    preloadMedia();
    persist();
    return true;
}

// ---- assignment ----------------------------------------------------------------------------------

void SessionCoordinator::assignPad (int bank, int pad, const juce::File& source)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    if (! canEditPad (bank, pad) || ! source.existsAsFile())
        return;

    // The request's revision: any later change of the slot outdates its result.
    const auto index = (size_t) *padIndex (bank, pad);
    const auto requestRevision = padAssets.touch (index);

    if (platform::createFolderChain (pathOf (padAssets.folder())).failed())
    {
        setAlert (translate ("PAD assetsフォルダーを作成できません"));
        return;
    }

    setStatus (translate ("PAD音源をコピー中です"));
    padAssets.startCopy (bank, pad, requestRevision, source);
}

void SessionCoordinator::finishPadCopies()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto results = padAssets.takeFinished();
    if (results.empty())
        return;

    std::vector<PadCopyResult> waiting;
    const auto& assets = padAssets.folder();

    for (auto& result : results)
    {
        const auto index = padIndex (result.bank, result.pad);
        if (result.error.isNotEmpty())
        {
            setAlert (result.error);
            continue;
        }

        // A pad that cannot be edited now keeps its result for a later tick; the refusal is
        // reported once, not on every tick while the pad sounds.
        const bool editable = result.deferred ? ! store.recoveryRequired.load() && ! isPadActive (result.bank, result.pad)
                                              : canEditPad (result.bank, result.pad);
        if (! editable)
        {
            result.deferred = true;
            waiting.push_back (std::move (result));
            continue;
        }

        auto& slot = state.pads[(size_t) *index];
        if (! slot.asset.empty())
            library.rename (assets.getChildFile (juce::String::fromUTF8 (slot.asset.c_str())),
                            juce::String::fromUTF8 (slot.name.c_str()));
        library.rename (assets.getChildFile (juce::String::fromUTF8 (result.asset.c_str())),
                        juce::String::fromUTF8 (result.label.c_str()));

        slot.name = result.label;
        slot.asset = result.asset;
        slot.gainDb = 0.0f;
        if (! quit.isQuitting())
        {
            registerMedia (false);
            preloadMedia();
        }
        persist();
        setStatus (translate ("PADを割り当てました"));
    }

    // Ahead of results that arrived meanwhile, so that the order of arrival is kept.
    padAssets.putBack (std::move (waiting));
}
} // namespace vantrel
