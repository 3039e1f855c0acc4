#pragma once

#include <juce_graphics/juce_graphics.h>

#include <vector>

namespace vantrel
{
/** The typeface family of the user interface's texts (Japanese and Latin). */
juce::String uiSansName();

/** The typeface family of the brand marks (drawn bold italic). */
juce::String brandFontName();

/** Makes the program's typefaces available and sets the user interface's family on the default
    look-and-feel (which every component's font lookup goes through). Called once at start, on the
    message thread, before any window exists; tests call it too. A later call does nothing until
    the GUI framework has been shut down, which also removes what the call set up. */
void installUiFonts();

/** One face of an installed font file (a collection file holds several, by index). */
struct FontFace
{
    juce::File file;
    int index = 0;
};

/** The faces that texts of the user interface's family are drawn from, in the order they are
    asked for a character: the UI face, then the face for the symbols it lacks. A face whose
    file is not installed is left out. Any thread. */
std::vector<FontFace> uiFaces (bool bold);
} // namespace vantrel
