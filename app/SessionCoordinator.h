#pragma once

#include "app/AppliedPreferences.h"
#include "app/CdImportIntake.h"
#include "app/JobPool.h"
#include "app/JobResults.h"
#include "app/LibraryCopies.h"
#include "app/LiveLock.h"
#include "app/MasterLevels.h"
#include "app/MixEdits.h"
#include "app/OutputChoice.h"
#include "app/PadAssets.h"
#include "app/PadBus.h"
#include "app/Playback.h"
#include "app/QuitProgress.h"
#include "app/SessionSaves.h"
#include "app/ViewState.h"
#include "app/cd/AudioCdImport.h"
#include "audio/output/JuceAudioAdapter.h"
#include "platform/ThreadContract.h"
#include "session/CatalogId.h"
#include "session/CatalogRecords.h"
#include "session/CatalogStore.h"
#include "session/CopyTransaction.h"
#include "session/transport/CueState.h"
#include "session/EditGuard.h"
#include "session/Library.h"
#include "session/transport/PadController.h"
#include "session/transport/PadTriggerState.h"
#include "session/Preferences.h"
#include "session/StoreResult.h"
#include "session/transport/TransportController.h"
#include "session/UndoHistory.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantrel
{
/** The bytes of a row's title that a wave lane is given: far more than one line shows. */
constexpr std::size_t laneTitleBytes = 4096;

/** One wave lane as the main view draws it. */
struct WaveLaneInfo
{
    std::string rowId;
    std::string title;                    // its first laneTitleBytes bytes (whole characters)
    std::shared_ptr<LoadedMedia> media;   // may be empty
    double position = 0.0;                // seconds
    double length = 0.0;                  // seconds
    bool active = false;                  // a voice plays the lane's row
    bool paused = false;
    bool cued = false;                    // the READY lane
    int rowNumber = 0;                    // 1-based place in its playlist; 0 when not found
};

/** The cue and the status line at one moment: what a click that made a row READY may have to
    give back when it turns out to be the first click of a double-click that edits. */
struct ReadyMark
{
    orvane::audio::CueState cue;
    juce::String status, alert;
    std::uint32_t statusTime = 0;
};

/** What a test changes of the coordinator's surroundings; the program takes the defaults. */
struct SessionCoordinatorOptions
{
    /** The status line's millisecond clock (32 bits, wrapping); empty: the system's. */
    std::function<std::uint32_t()> millisecondClock;
    /** The adapter's media loader, rack clock and rack options (see JuceAudioAdapter). */
    MediaLoader::LoadFunction loadMedia;
    RackClock rackClock;
    MasterVstRackOptions rackOptions;
    /** The rack's worker program; empty: the one beside this program. */
    juce::File workerExecutable;
    /** Makes the adapter's device types; empty: the adapter's own. */
    std::function<std::unique_ptr<juce::AudioIODeviceType> (const juce::String&)> createDeviceType;
    /** Runs on the pool thread after a pad copy was written and before it is verified. */
    std::function<void (const juce::File& source)> afterPadCopy;
    /** Runs on the pool thread after each library copy matched its source, before it is renamed. */
    std::function<void (const juce::File& source, const juce::File& temporaryCopy)> afterLibraryCopy;
    /** Where removed library files go; empty: the user's home Trash. */
    juce::File trashFolder;
    /** The CD importer's surroundings. Set, an importer is made even without audio (a test's
        drives); empty, the program's importer (this machine's drives) exists with audio only. */
    std::optional<CdImportSetup> cdImportSetup;
};

/** The single owner of the live session: the store, the library, the saved state, the undo
    history, the audio adapter with its engine and rack, and a pool of two job threads. Every
    operation of the operator is one method; each returns a plain result and reports in the
    status line (`status`, `alert`). The state is private: the view reads what it shows through the const
    accessors below and changes anything only through the operations.

    Message thread only (every public entry point checks it, popAnalyzerFrame excepted), except
    the pool jobs, which touch only their own files and post their results to `jobResults`.
    The rest are parts of their own that the operations delegate to: LIVE LOCK (LiveLock), the
    preferences in force (AppliedPreferences), the output device choice (OutputChoice), the
    view's layout (ViewState), the mix values with their drag and EQ clipboard (MixEdits), the
    master gain and limiter (MasterLevels), the pad bus (PadBus),
    what sounds and what is cued with the transport and pad controllers (Playback), the save
    worker (SessionSaves), the pads' audio files (PadAssets), the copies into the library
    (LibraryCopies), the CD importer with its playlists on their way in (CdImportIntake) and
    the quit in progress (QuitProgress). Members are built in declared order and torn down as
    the destructor describes. Not copyable. */
class SessionCoordinator
{
public:
    /** dataRoot: the profile's "music" folder; outputSettingsFile: its "local/device.json", whose
        siblings are "preferences.json", "master-vst.json" and "audio-diagnostics.json";
        audioEnabled false: no device, no rack, the engine rendered offline only when asked. */
    SessionCoordinator (const juce::File& dataRoot, const juce::File& outputSettingsFile, bool audioEnabled,
                        SessionCoordinatorOptions options = {});
    ~SessionCoordinator();

    SessionCoordinator (const SessionCoordinator&) = delete;
    SessionCoordinator& operator= (const SessionCoordinator&) = delete;

    // ---- status line, quit ---------------------------------------------------------------------
    /** The text of an operation that went as asked: status and its time; the alert is cleared. */
    void setStatus (const juce::String& text);
    /** The text of a refused or failed operation: status, its time and the alert. */
    void setAlert (const juce::String& text);
    /** A progress text: status and its time, the alert untouched. */
    void setProgress (const juce::String& text);
    juce::String statusText() const;
    bool statusIsWarning() const;
    bool needsQuitConfirmation() const;
    /** Polled by the view after the operator confirmed the quit, until it returns true. */
    bool prepareQuit();
    /** An output device is open and running (never in offline mode). */
    bool isOutputOpen() const;
    /** While no output is open (and not quitting): "OUT: 出力先なし — " and what was tried and why
        it failed, in the UI language, as the status line shows it; empty otherwise. */
    juce::String outputProblem() const;

    // ---- tick ----------------------------------------------------------------------------------
    void tick();
    /** Runs `action` now, or, while an output open waits for JACK to connect its channels, on
        the first tick after it connected or gave up. Message thread. */
    void whenOutputSettled (std::function<void()> action);
    void registerMedia (bool analyse);

    // ---- transport -----------------------------------------------------------------------------
    orvane::audio::GoResult go();
    orvane::audio::GoResult startGo();
    void togglePause();
    void stop (bool main);
    void seekMain (double seconds, bool fromWaveform);
    void updateReady();
    bool moveReady (int offset);
    bool selectReady (const std::string& rowId);
    /** The cue and the status line now (see restoreReady). */
    ReadyMark readyMark() const;
    /** Puts READY (with the anchor and the operator's choice) and the status line back as they
        were at `before`, when nothing but the selection that led to `after` changed them since:
        the cue is `after`'s in every part; the status line goes back only while it still says
        what it said at `after`. Nothing else is touched (READY is no edit: no history, no save);
        false, with nothing changed, when the cue moved on meanwhile. */
    bool restoreReady (const ReadyMark& before, const ReadyMark& after);
    void cycleRepeat();
    void toggleAutoCue();
    void toggleAutoReady();
    void preloadMedia();
    void dropStaleCueIds();
    WaveLaneInfo laneInfo (int lane);
    orvane::audio::MasterOutputMeters masterMeters() const;
    std::int64_t eqTargetPlayToken (const std::string& target);

    // ---- pads ------------------------------------------------------------------------------------
    void triggerPad (int pad);
    void stopAllPads();
    bool selectPadBank (int bank);
    void setPadMute (bool on);
    void setPadBusGain (float gainDb);
    bool setPadGain (int bank, int pad, float gainDb);
    bool setPadLabel (int bank, int pad, const std::string& name);
    std::optional<std::string> clearPad (int bank, int pad);
    bool movePad (int bank, int from, int to);
    void assignPad (int bank, int pad, const juce::File& source);
    bool isPadActive (int bank, int pad) const;
    void finishPadCopies();

    // ---- LIVE LOCK and guards ----------------------------------------------------------------------
    void toggleLiveLock();
    EditGuard editGuard() const;
    bool canEditPad (int bank, int pad);
    /** LIVE LOCK is on and protects this scope. */
    bool isLocked (LockScope scope) const;

    // ---- catalog edits and undo/redo -------------------------------------------------------------
    bool commitEdit (CatalogDocument candidate);
    void persist();
    bool undoRedo (bool redo);
    bool recoverStore();
    bool addTreeFolder (const std::string& name, const std::string& parentId);
    bool addPlaylist (const std::string& name, const std::string& folderId);
    bool removePlaylist (const std::string& id);
    bool removeRow (const std::string& rowId);
    bool setPlaylistMemo (const std::string& playlistId, const std::string& memo);
    bool setRowText (const std::string& rowId, const std::string& title, const std::string& note);
    bool moveTreeEntry (const std::string& id, bool isFolder, const std::string& folderId);
    bool movePlaylist (int from, int to);
    bool moveRow (int from, int to);
    bool renameTreeFolder (const std::string& id, const std::string& name);
    bool renamePlaylist (const std::string& id, const std::string& name);
    bool removeTreeFolder (const std::string& folderId);
    bool relinkRow (const std::string& rowId, const juce::File& file);
    bool openPlaylist (const std::string& id);

    // ---- mix edits -----------------------------------------------------------------------------
    bool canEditEq (const std::string& target) const;
    EqSettings* eqForTarget (const std::string& target);
    /** The same EQ read only: no live change of the document (its change count stays). */
    const EqSettings* eqForTarget (const std::string& target) const;
    juce::String eqTitle (const std::string& target) const;
    void beginEqEdit();
    void setLiveEq (const std::string& target, const EqSettings& eq);
    void setLiveRowGain (const std::string& rowId, float gainDb);
    void setLivePlaylistGain (const std::string& playlistId, float gainDb);
    bool commitEqEdit();
    bool commitEq (const std::string& target, const EqSettings& eq);
    bool commitRowGain (const std::string& rowId, float gainDb);
    bool commitPlaylistGain (const std::string& playlistId, float gainDb);
    bool commitMixEdit (CatalogDocument candidate);
    void applyEqs();
    void setMasterGain (float gainDb);
    void setLimiterParameter (int which, float value);
    void setLimiterEnabled (bool on);

    // ---- output device, VST rack, preferences ----------------------------------------------------
    bool canChangeOutput() const;
    bool applyOutputDevice (const OutputDeviceSettings& settings);
    bool addVstSearchFolder (const juce::File& folder);
    bool removeVstSearchFolder (const juce::String& folder);
    void rescanVst();
    bool chooseVstPlugin (int slot, const juce::String& classId);
    bool setVstSlotEnabled (int slot, bool enabled);
    bool openVstEditor (int slot);
    StoreResult applyPreferences (const Preferences& prefs);

    // ---- view state ------------------------------------------------------------------------------
    void togglePlaylistPanel();
    void togglePadPanel();
    void toggleMemoPanel();
    void setRowHeight (int height);
    void setZoom (int zoom);
    void toggleFolderCollapsed (const std::string& folderId);

    // ---- adding files, library copies ----------------------------------------------------------
    bool addFiles (const juce::StringArray& files, bool copy);
    bool addLibraryFiles (const juce::StringArray& files, const std::string& playlistId, bool copy);
    /** Takes finished copies in, merges them and deletes each journal once a save holds its rows. */
    void finishLibraryCopies();
    bool removeLibraryFile (const juce::String& path);

    // ---- audio CD import -------------------------------------------------------------------------
    /** Takes finished CD imports into the catalog and lets their recovery records go once a save
        holds them; an import waits while LIVE LOCK protects playlist editing. */
    void takeInCdImports();
    /** Rescans the library over copies of the working document and the pads. */
    void refreshLibrary();

    /** Hands the operating-system side of the preferences (power request, system-sound muting)
        to `apply`; the application sets it once after construction. */
    void setOsApply (std::function<StoreResult (const Preferences&)> apply);
    /** Waits until the save worker is idle; false when its last save failed. */
    bool waitForSaves();
    /** Closes every plug-in editor of the master rack (the VST window is going away). */
    void closeVstEditors();
    /** Opens the output driver's own settings window; false when it has none. */
    bool showDriverControlPanel();
    /** The EQ panel's analyser thread: the next spectrum frame of the engine, if any. */
    bool popAnalyzerFrame (orvane::audio::AnalyzerFrame& frame);
    /** Copies the live EQ of `target` into the EQ clipboard; false when the target is gone. */
    bool copyEq (const std::string& target);
    /** Commits the clipboard's EQ onto `target`, which keeps its own on/off; false when the
        clipboard is empty or the target cannot be edited. */
    bool pasteEq (const std::string& target);
    /** Renames a stored audio file's display name, with the status line's report. */
    bool renameLibraryFile (const juce::File& file, const juce::String& displayName);
    /** Starts a CD import; false without an importer, under LIVE LOCK over playlist editing or
        while the data needs recovery. */
    bool startCdImport (CdImportOptions importOptions);
    void cancelCdImport();

    // ---- what the view and the tests read (message thread only) ------------------------------------
    const SessionCoordinatorOptions& sessionOptions() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return options; }
    /** The profile's "music" folder, the store's root. */
    const juce::File& dataRoot() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return store.root; }
    /** The data needs a recovery: every change and save is refused until one succeeds. */
    bool needsRecovery() const  { VANTREL_ASSERT_MESSAGE_THREAD; return store.recoveryRequired.load(); }
    /** The data needs a recovery and a backup can be read to recover from: the recovery is offered. */
    bool canRecover() const  { VANTREL_ASSERT_MESSAGE_THREAD; return store.recoveryRequired.load() && store.hasRecoverySource(); }
    const Library& mediaLibrary() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return library; }
    /** The persistent state: its document part is the copy last handed to the save worker. */
    const CatalogState& catalogState() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return state; }
    const Preferences& currentPreferences() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return preferences.current(); }
    bool arePreferencesValid() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return preferences.isValid(); }
    /** Its current document is the working document. */
    const UndoHistory& undoHistory() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return history; }
    const JuceAudioAdapter& audioAdapter() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return audio; }
    /** The adapter for the program and the tests that drive the engine themselves (an offline
        render, a device clock); the view changes nothing through it. */
    JuceAudioAdapter& mutableAudioAdapter() noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return audio; }
    const orvane::audio::CueState& cueState() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return playback.cue(); }
    const orvane::audio::PadTriggerState& padTriggerState() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return playback.pads(); }
    bool hasAudio() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return audioEnabled; }
    bool isLiveLockOn() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return liveLock.isOn(); }
    bool isAutoCueOn() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return playback.isAutoCueOn(); }
    bool isPadMuteOn() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return padBus.isMuted(); }
    bool isLimiterOn() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return masterLevels.isLimiterOn(); }
    bool isQuitting() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return quit.isQuitting(); }
    float padBusGain() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return padBus.gain(); }
    float masterGain() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return masterLevels.masterGain(); }
    /** The limiter's threshold, ceiling, release and drive, in setLimiterParameter's order. */
    std::array<float, 4> limiterValues() const noexcept
    {
        VANTREL_ASSERT_MESSAGE_THREAD;
        return masterLevels.limiterValues();
    }
    /** An EQ drag is pending (beginEqEdit without its commit yet). */
    bool isEqEditPending() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return mix.isDragging(); }
    const std::optional<EqSettings>& eqClipboardValue() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return mix.clipboard(); }
    /** The text of the last operation and the alert beside it (statusText composes the line). */
    const juce::String& lastStatus() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return status; }
    const juce::String& alertText() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return alert; }
    std::uint64_t goCount() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return playback.goCount(); }
    /** Counts the states handed to the save worker. */
    std::uint64_t stateRevision() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return saves.revision(); }
    /** The ticket of the last state handed to the save worker. */
    std::int64_t lastSaveTicket() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return saves.lastTicket(); }
    StoreResult lastSaveResult() const  { VANTREL_ASSERT_MESSAGE_THREAD; return saves.lastResult(); }
    bool isSaving() const  { VANTREL_ASSERT_MESSAGE_THREAD; return saves.isBusy(); }
    /** The change counters of the 45 pads (index (bank - 1) * 9 + pad - 1). */
    const std::array<std::uint64_t, numPads>& padRevisions() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return padAssets.revisions(); }
    /** The pool's jobs (pad and library copies) not finished yet. */
    int runningJobs() const  { VANTREL_ASSERT_MESSAGE_THREAD; return pool.getNumJobs(); }
    /** Library copies posted by their jobs and not taken in by the tick yet. */
    std::size_t postedCopies() const;
    /** Library copies taken in and waiting for their merge or save. */
    std::size_t copiesAwaitingSave() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return libraryCopies.awaitingSave(); }
    bool hasCdImporter() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return cdImports.importer() != nullptr; }
    /** The CD importer's state; an empty state without an importer. */
    CdImportState cdImportSnapshot() const;
    /** The message of the last refused or failed output change. */
    const juce::String& outputMessage() const noexcept  { VANTREL_ASSERT_MESSAGE_THREAD; return outputChoice.message(); }

    static constexpr std::uint32_t statusShowMs = 3500;
    /** While the last save failed, the state is submitted again this often until one succeeds. */
    static constexpr std::uint32_t saveRetryMs = SessionSaves::retryMs;

private:
    /** Tests set up cases that no operation makes (a store that needs recovery mid-run, a
        catalog deeper than the rules allow) through this one named door. */
    friend class SessionCoordinatorTestAccess;

    // ---- members, in the order they are built ------------------------------------------------------
    const SessionCoordinatorOptions options;
    CatalogStore store;
    Library library;
    CatalogState state;
    AppliedPreferences preferences;
    LiveLock liveLock { preferences.current() };
    UndoHistory history;
    ViewState viewState { state, store, history };
    JuceAudioAdapter audio;
    MasterLevels masterLevels { audio };
    PadBus padBus { audio };
    Playback playback { audio };
    SessionSaves saves { store };
    OutputChoice outputChoice;
    const bool audioEnabled;
    QuitProgress quit;
    MixEdits mix { history, audio };
    juce::String status;
    juce::String alert;
    std::uint32_t statusTime = 0;
    std::vector<std::function<void()>> afterOutputSettles;
    JobPool pool { 2 };
    JobResults jobResults;   // the pool jobs' finished pad and library copies
    PadAssets padAssets { store.root, options.afterPadCopy, pool, jobResults };
    LibraryCopies libraryCopies { store.root, options.afterLibraryCopy, pool, jobResults, saves };
    CdImportIntake cdImports { saves };
    /** The history's change count at which every row of every playlist had its duration: the
        tick's search for durations to record is skipped while the document stays unchanged. */
    std::optional<std::uint64_t> durationsCompleteAt;

    std::uint32_t now() const;
    /** commitEdit without its status text: the history step and what follows it. */
    bool applyEdit (CatalogDocument candidate);
    /** The document as it is saved: during an EQ drag, the values from before the drag. */
    CatalogDocument documentToSave() const;
    /** Hands the state with the document to save to the save worker. */
    void submitState();
    /** Takes a state that a recovery restored in place of the one shown: the document, the pads,
        the limiter and the layout, the media and READY, then a save of it. */
    void reloadState (CatalogState recovered);
    bool copyFiles (const juce::StringArray& files, const std::string& playlistId);
    /** Takes a finished copy's rows into the catalog; false when it must wait. */
    bool mergeLibraryCopy (const CopyResult& copy);
};

/** The CD importer's state as the view shows it; an empty state when there is no importer. */
CdImportState cdImportState (const SessionCoordinator& session);
} // namespace vantrel
