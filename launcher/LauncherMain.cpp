// Vantrel: the launcher at the top of the shipped folder. It starts the main program in its
// support folder with its own arguments and ends without waiting; the exit code tells how it went.
#include "launcher/Launcher.h"

int main (int argc, char** argv)
{
    using namespace vantrel::launcher;

    const auto self = ownExecutablePath();
    const auto folder = self ? folderOf (*self) : std::nullopt;

    if (! folder)
        return static_cast<int> (LaunchResult::ownPathUnknown);

    return static_cast<int> (launchMainProgram (*folder, { argv + 1, argv + argc }));
}
