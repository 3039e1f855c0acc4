# The JUCE modules, compiled once into one static library that every target links.
# Debian's JUCE strips the bundled codecs, so the system libraries are linked here.
find_package(JUCE CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(JUCE_DEB_LIBS REQUIRED IMPORTED_TARGET flac vorbis vorbisenc vorbisfile ogg zlib)

add_library(juce_static STATIC)
target_link_libraries(juce_static
  PRIVATE
    juce::juce_core juce::juce_events juce::juce_data_structures
    juce::juce_audio_basics juce::juce_audio_formats juce::juce_audio_devices
    juce::juce_graphics juce::juce_gui_basics
  PUBLIC
    PkgConfig::JUCE_DEB_LIBS juce::pkgconfig_JUCE_IMG_LINUX_DEPS
    juce::juce_recommended_config_flags)
target_compile_definitions(juce_static
  PUBLIC
    JUCE_STANDALONE_APPLICATION=1 JUCE_WEB_BROWSER=0 JUCE_USE_CURL=0
    JUCE_JACK=1 JUCE_ALSA=1 JUCE_USE_MP3AUDIOFORMAT=1 JUCE_USE_FLAC=1 JUCE_USE_OGGVORBIS=1
    JUCE_DISPLAY_SPLASH_SCREEN=0 JUCE_REPORT_APP_USAGE=0
    # The program's name in every JACK patchbay (the framework's default is its own name).
    JUCE_JACK_CLIENT_NAME="Vantrel"
  INTERFACE
    $<TARGET_PROPERTY:juce_static,COMPILE_DEFINITIONS>)
target_include_directories(juce_static SYSTEM INTERFACE $<TARGET_PROPERTY:juce_static,INCLUDE_DIRECTORIES>)
# JUCE's own sources are not ours: no warnings from them.
target_compile_options(juce_static PRIVATE -w)
