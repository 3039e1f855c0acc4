#pragma once

#include <string>

namespace vantrel::platform
{
/** The user's home Trash in the freedesktop.org layout: $XDG_DATA_HOME/Trash when that variable
    holds an absolute path, else $HOME/.local/share/Trash. Empty when neither can be found.
    Any thread. */
std::string homeTrashFolder();

/** Moves the file at the absolute `path` into the home Trash, so that a desktop file manager can
    show it and put it back. False with a reason in `error` when nothing was moved (the file is
    then where it was). Any thread. */
bool moveToTrash (const std::string& path, std::string& error);

/** The same into the Trash at `trashFolder`: "files" and "info" (and the Trash folder itself,
    mode 0700) are created when missing; the file gets the first free name among its own name
    and that name with ".2", ".3" ... appended; "info/<name>.trashinfo" records its original
    path and the time of deletion and is written (created exclusively, forced to the disk)
    before the file is renamed into "files". A failed rename removes the record again. */
bool moveToTrashAt (const std::string& path, const std::string& trashFolder, std::string& error);

/** The "Path=" value of a record: every byte of the path except unreserved characters and '/'
    written as %XX. */
std::string trashInfoPath (const std::string& path);
} // namespace vantrel::platform
