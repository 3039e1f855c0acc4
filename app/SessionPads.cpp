// The coordinator's pad operations: firing and stopping pads, the bank, PAD MUTE and the pad
// gains, editing slots, and assigning audio through a verified copy into the pad asset folder.
#include "app/SessionCoordinator.h"

#include "platform/FileCopy.h"
#include "platform/ThreadContract.h"
#include "session/CatalogValidation.h"
#include "session/UiText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace vantrel
{
namespace
{
constexpr size_t verifyBlockBytes = 65536;

std::string pathOf (const juce::File& file)  { return file.getFullPathName().toStdString(); }

/** A new asset's name: 32 lower-case hexadecimal digits and the source's extension in lower
    case. The store refuses asset names holding ':' or '\\' when it reads them back, so such
    characters of an extension (legal in a Linux file name) become '_'. */
juce::String newAssetName (const juce::File& source)
{
    const auto extension = source.getFileExtension().toLowerCase().replaceCharacters (":\\", "__");
    return juce::Uuid().toString().toLowerCase() + extension;
}

/** Both files hold the same bytes: equal sizes, then block by block until both end together. */
bool sameBytes (const juce::File& a, const juce::File& b)
{
    platform::FileReader first, second;
    if (first.open (pathOf (a)).failed() || second.open (pathOf (b)).failed() || first.size() < 0
        || first.size() != second.size())
        return false;

    std::vector<char> blockA (verifyBlockBytes), blockB (verifyBlockBytes);
    for (;;)
    {
        const auto readA = first.read (blockA.data(), blockA.size());
        const auto readB = second.read (blockB.data(), blockB.size());
        if (readA < 0 || readB < 0 || readA != readB)
            return false;
        if (readA == 0)
            return true;
        if (std::memcmp (blockA.data(), blockB.data(), (size_t) readA) != 0)
            return false;
    }
}
} // namespace

// ---- firing, stopping, bank, bus ---------------------------------------------------------------

void SessionCoordinator::triggerPad (int pad)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    tick();
    const auto index = padIndex (padState.bank, pad);
    if (! index)
        return;

    const auto result = padController.triggerPad (pad, ! state.pads[(size_t) *index].asset.empty());
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
    const auto answer = padController.stopAllPads();
    if (answer == orvane::audio::SinkAnswer::accepted)
        setStatus (translate ("PADをすべて停止しました"));
    else if (answer == orvane::audio::SinkAnswer::refused)
        // The pads still sound: the operator must not take the silence for granted.
        setAlert (translate ("停止を確定できませんでした"));
}

bool SessionCoordinator::selectPadBank (int bank)
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    if (! padController.selectBank (bank))
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
    return std::any_of (padState.triggers.begin(), padState.triggers.end(),
                        [bank, pad] (const auto& trigger) { return trigger.bank == bank && trigger.slot == pad; });
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
    ++padRevision[index];
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
        library.rename (padAssetFolder().getChildFile (juce::String::fromUTF8 (former.c_str())),
                        juce::String::fromUTF8 (slot.name.c_str()));
    slot = PadSlot {};
    ++padRevision[index];
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
    for (const auto& trigger : padState.triggers)
        if (const auto index = padIndex (trigger.bank, trigger.slot))
            sounding[(size_t) *index] = true;
    if (! movePadSlot (state.pads, bank, from, to, sounding))
        return false;

    ++padRevision[(size_t) *padIndex (bank, from)];
    ++padRevision[(size_t) *padIndex (bank, to)];
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
    const auto requestRevision = ++padRevision[index];

    const auto folder = padAssetFolder();
    if (platform::createFolderChain (pathOf (folder)).failed())
    {
        setAlert (translate ("PAD assetsフォルダーを作成できません"));
        return;
    }

    setStatus (translate ("PAD音源をコピー中です"));
    pool.addJob ([this, bank, pad, requestRevision, source, folder] {
        copyPadAsset (bank, pad, requestRevision, source, folder);
    });
}

// Pool thread: touches only its own files, and posts its result to jobResults.
void SessionCoordinator::copyPadAsset (int bank, int pad, std::uint64_t padRev, const juce::File& source,
                                       const juce::File& folder)
{
    PadCopyResult result;
    result.bank = bank;
    result.pad = pad;
    result.revision = padRev;
    result.label = source.getFileNameWithoutExtension().toStdString();
    const auto before = readFileSignature (source);

    const auto target = folder.getChildFile (newAssetName (source));
    if (platform::createFolderChain (pathOf (folder)).failed())
    {
        result.error = translate ("PAD assetsフォルダーを作成できません");
    }
    else
    {
        // The temporary sibling is removed by its destructor unless it became the target.
        const juce::TemporaryFile temporary (target);
        const auto copy = temporary.getFile();

        if (platform::copyFileDurably (pathOf (source), pathOf (copy)).failed())
        {
            result.error = translate ("PAD音源をコピーできません");
        }
        else
        {
            if (options.afterPadCopy)
                options.afterPadCopy (source);

            // A source that changed while it was copied counts as a failed verification.
            if (! sameBytes (source, copy) || readFileSignature (source) != before)
                result.error = translate ("PADコピーの照合に失敗しました");
            else if (platform::renameDurably (pathOf (copy), pathOf (target)).failed())
                result.error = translate ("PADコピーを確定できません");
            else
                result.asset = target.getFileName().toStdString();
        }
    }

    jobResults.postPadCopy (std::move (result));
}

void SessionCoordinator::finishPadCopies()
{
    VANTREL_ASSERT_MESSAGE_THREAD;
    auto results = jobResults.takePadCopies();
    if (results.empty())
        return;

    std::vector<PadCopyResult> waiting;
    const auto assets = padAssetFolder();

    for (auto& result : results)
    {
        const auto index = padIndex (result.bank, result.pad);
        // A newer change of the pad won: the copied file stays unused in the folder.
        if (! index || result.revision != padRevision[(size_t) *index])
            continue;
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
        if (! quitting)
        {
            registerMedia (false);
            preloadMedia();
        }
        persist();
        setStatus (translate ("PADを割り当てました"));
    }

    // Ahead of results that arrived meanwhile, so that the order of arrival is kept.
    jobResults.putBackPadCopies (std::move (waiting));
}
} // namespace vantrel
