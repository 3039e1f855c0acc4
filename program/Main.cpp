// The main program: the application object under JUCE's own main routine.

#include "program/Application.h"

#include "platform/X11Window.h"

juce::JUCEApplicationBase* juce_CreateApplication();
juce::JUCEApplicationBase* juce_CreateApplication() { return new vantrel::Application(); }

int main (int argc, char* argv[])
{
    // X errors are recorded rather than ending the program (plug-in editors and bare X servers
    // raise them); Xlib's threads are set up before JUCE opens its connection.
    vantrel::platform::prepareX11();
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
