#include "app/JobResults.h"

#include <iterator>

namespace vantrel
{
void JobResults::postPadCopy (PadCopyResult result)
{
    const std::lock_guard<std::mutex> lock (mutex);
    padCopies.push_back (std::move (result));
}

std::vector<PadCopyResult> JobResults::takePadCopies()
{
    std::vector<PadCopyResult> taken;
    const std::lock_guard<std::mutex> lock (mutex);
    taken.swap (padCopies);
    return taken;
}

void JobResults::putBackPadCopies (std::vector<PadCopyResult> waiting)
{
    if (waiting.empty())
        return;
    const std::lock_guard<std::mutex> lock (mutex);
    padCopies.insert (padCopies.begin(), std::make_move_iterator (waiting.begin()), std::make_move_iterator (waiting.end()));
}

void JobResults::postLibraryCopy (CopyResult result)
{
    const std::lock_guard<std::mutex> lock (mutex);
    libraryCopies.push_back (std::move (result));
}

void JobResults::takeLibraryCopies (std::vector<CopyResult>& into)
{
    const std::lock_guard<std::mutex> lock (mutex);
    into.insert (into.end(), std::make_move_iterator (libraryCopies.begin()), std::make_move_iterator (libraryCopies.end()));
    libraryCopies.clear();
}

std::size_t JobResults::postedLibraryCopies() const
{
    const std::lock_guard<std::mutex> lock (mutex);
    return libraryCopies.size();
}
} // namespace vantrel
