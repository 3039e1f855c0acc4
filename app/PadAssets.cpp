#include "app/PadAssets.h"

#include "app/JobPool.h"
#include "app/JobResults.h"
#include "platform/FileCopy.h"
#include "session/CatalogValidation.h"
#include "session/FileSignature.h"
#include "session/UiText.h"

#include <algorithm>
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

PadAssets::PadAssets (const juce::File& dataRoot, AfterCopy after, JobPool& jobPool, JobResults& jobResults)
    : assetFolder (dataRoot.getChildFile ("pad").getChildFile ("assets")),
      afterCopy (std::move (after)),
      pool (jobPool),
      results (jobResults)
{
}

void PadAssets::startCopy (int bank, int pad, std::uint64_t slotRevision, const juce::File& source)
{
    pool.addJob ([this, bank, pad, slotRevision, source] { copy (bank, pad, slotRevision, source); });
}

std::vector<PadCopyResult> PadAssets::takeFinished()
{
    auto finished = results.takePadCopies();
    // A newer change of the pad won: the copied file stays unused in the folder.
    finished.erase (std::remove_if (finished.begin(), finished.end(),
                                    [this] (const PadCopyResult& result) {
                                        const auto index = padIndex (result.bank, result.pad);
                                        return ! index || result.revision != revision[(size_t) *index];
                                    }),
                    finished.end());
    return finished;
}

void PadAssets::putBack (std::vector<PadCopyResult> waiting)
{
    results.putBackPadCopies (std::move (waiting));
}

void PadAssets::copy (int bank, int pad, std::uint64_t slotRevision, const juce::File& source) const
{
    PadCopyResult result;
    result.bank = bank;
    result.pad = pad;
    result.revision = slotRevision;
    result.label = source.getFileNameWithoutExtension().toStdString();
    const auto before = readFileSignature (source);

    const auto target = assetFolder.getChildFile (newAssetName (source));
    if (platform::createFolderChain (pathOf (assetFolder)).failed())
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
            if (afterCopy)
                afterCopy (source);

            // A source that changed while it was copied counts as a failed verification.
            if (! sameBytes (source, copy) || readFileSignature (source) != before)
                result.error = translate ("PADコピーの照合に失敗しました");
            else if (platform::renameDurably (pathOf (copy), pathOf (target)).failed())
                result.error = translate ("PADコピーを確定できません");
            else
                result.asset = target.getFileName().toStdString();
        }
    }

    results.postPadCopy (std::move (result));
}
} // namespace vantrel
