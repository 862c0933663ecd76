// SPDX-License-Identifier: MIT
// Host stand-in for the apply run's surroundings (engine/engine_seam.h), and recording
// stand-ins of the rules and shortcut operations that the run calls. Every call is recorded,
// in order, as one line of text, so a test can check the order of a whole run.
//
// Recorded lines:
//   "EnableUpdate 0", "EnableUpdate 1 done=<g_done>", "DisableCancel", "FocusUpdate", "SetProgress
//   <n>", "MessageBox <message>|<caption>", "FinishText", "FindWindow <class>", "TargetsHeld
//   <count>", "FindResource", "LoadResource", "LockResource", "SizeofResource", "FreeResource",
//   "GetTempPath", "GetTempFileName <name or FAIL>", "Write <path> <size> [FAIL]", "Hold <path>
//   [FAIL]", "Release", "Replace <target> [FAIL]", "Summary", "FinishReplaces", "Alloc <bytes>
//   [FAIL]", "Free", "RunAndWait <path>", "ResolveInstallDir", "ResolveTargetPath
//   <fileName>|<folder>", "IsNewerOrSame <new> > <installed>", "IsNewerOrSameImage <size> >
//   <installed>", "Shortcuts <text> > <target>", "Move <from> > <to>"
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

enum FakePackageState {
    FAKE_PACKAGE_PRESENT,
    FAKE_PACKAGE_MISSING,     // FindResource finds none
    FAKE_PACKAGE_NOT_LOADED,  // LoadResource gives none
    FAKE_PACKAGE_NOT_LOCKED,  // LockResource gives none
};

struct FakeEngine {
    std::vector<std::string> calls;

    FakePackageState packageState = FAKE_PACKAGE_PRESENT;
    std::vector<unsigned char> package;  // the resource's bytes; SizeofResource gives their count
    int loadsHeld = 0;                   // LoadResource minus FreeResource

    std::set<std::string> runningClasses;
    // Restart Manager's answer: what holds which target. A target in heldTargets is held by
    // Other.exe (pid 7) from the install folder.
    struct Holder {
        unsigned long pid;
        std::string name, image, target, windowClass;
    };
    std::vector<Holder> holders;
    std::set<std::string> heldTargets;

    std::string installDir = "C:\\Apps\\Example";
    int installDirResult = 1;
    unsigned installDirView = 0;  // the registry view ResolveInstallDirView names
    std::string tempFolder = "C:\\Temp\\";
    int tempFolderResult = 1;
    int tempFileFails = 0;                  // GetTempFileName fails
    int tempFilesMade = 0;                  // names vq1.tmp, vq2.tmp, ... in tempFolder
    std::set<std::string> failingWrites;    // paths whose write does not complete
    int swapTempFiles = 0;                  // each written temporary file is rewritten at once
    std::set<std::string> missingTargets;   // targets with no installed file; others exist
    std::set<std::string> missingFolders;   // folders that do not exist; others do
    int tempFilesHeld = 0;                  // HoldTempFile minus ReleaseTempFile
    std::set<std::string> failingReplaces;  // targets that cannot be replaced
    std::set<std::string> failingLater;     // handed on, then failed on the pool
    std::set<std::string> waitingTargets;   // targets whose new copy waits for the restart
    std::set<std::size_t> failingAllocs;    // block sizes that cannot be allocated
    int buffersHeld = 0;
    std::map<std::string, int> newerOrSame;  // by installed path; 1 when not listed

    // The fake file system: what was written or replaced, by path.
    std::map<std::string, std::vector<unsigned char>> files;
};

// The state the next run sees and records into; reset by FakeEngineReset.
FakeEngine& FakeEngineState();
// A fresh state, and g_done and g_instance cleared.
void FakeEngineReset();
// The recorded calls that begin with `prefix`, in order.
std::vector<std::string> FakeEngineCalls(const std::string& prefix);
