// SPDX-License-Identifier: MIT
#include "fakes/engine_fake.h"

#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "package/package.h"
#include "rules/targets.h"
#include "rules/version.h"
#include "rules/version_image.h"
#include "shortcuts/shortcuts.h"

namespace {

FakeEngine& State() {
    static FakeEngine state;
    return state;
}

void Record(const std::string& call) { State().calls.push_back(call); }

// Stand-in handles: any non-null address serves, none is ever dereferenced.
int g_foundToken;
int g_loadedToken;

}  // namespace

FakeEngine& FakeEngineState() { return State(); }

void FakeEngineReset() {
    State() = FakeEngine();
    g_done = 0;
    g_unattended = 0;
    g_instance = nullptr;
}

std::vector<std::string> FakeEngineCalls(const std::string& prefix) {
    std::vector<std::string> matching;
    for (const std::string& call : State().calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
    }
    return matching;
}

// --- the dialog

void EnableUpdateButton(void*, int enable) {
    Record(enable ? "EnableUpdate 1 done=" + std::to_string(g_done) : "EnableUpdate 0");
}

void DisableCancelButton(void*) { Record("DisableCancel"); }

void FocusUpdateButton(void*) { Record("FocusUpdate"); }

int SetProgress(void*, int position) {
    Record("SetProgress " + std::to_string(position));
    return 1;
}

void ShowRunningAppMessage(void*, int, const char* message, const char* caption) {
    Record(std::string("MessageBox ") + message + "|" + caption);
}

void ShowFinishText(void*) { Record("FinishText"); }

void ShowSummary(void*, const RunRecord*, const char*) { Record("Summary"); }

void StampTime(char* text) { TextCopy(text, ITEM_TIME_SIZE, "2026-01-02T03:04:05"); }

int FolderExists(const char* path) { return State().missingFolders.count(path) == 0; }

int TargetsHeld(const char* const* paths, int count, char* holders) {
    Record("TargetsHeld " + std::to_string(count));
    holders[0] = '\0';
    for (int i = 0; i < count; ++i) {
        if (State().heldTargets.count(paths[i])) {
            TextCopy(holders, ITEM_DETAIL_SIZE, "held by Other.exe (pid 7)");
            return 1;
        }
    }
    return 0;
}

// As RmGetList reports them (learn.microsoft.com, "RmGetList function"): every process that
// holds one of the registered files, in any session, once each.
int ListTargetHolders(const char* const* paths, int count, TargetHolder* holders, int capacity) {
    Record("TargetsHeld " + std::to_string(count));
    std::vector<FakeEngine::Holder> all = State().holders;
    for (const std::string& target : State().heldTargets)
        all.push_back({7, "Other.exe", State().installDir + "\\Other.exe", target, ""});
    int listed = 0;
    for (const FakeEngine::Holder& holder : all) {
        bool holds = false;
        for (int i = 0; i < count; ++i) holds = holds || holder.target == paths[i];
        if (!holds) continue;
        if (listed < capacity) {
            holders[listed].pid = holder.pid;
            TextCopy(holders[listed].name, sizeof holders[listed].name, holder.name.c_str());
            TextCopy(holders[listed].image, sizeof holders[listed].image, holder.image.c_str());
        }
        ++listed;
    }
    return listed;
}

int ProcessHasWindowClass(unsigned long pid, const char* windowClass) {
    for (const FakeEngine::Holder& holder : State().holders)
        if (holder.pid == pid && windowClass[0] && holder.windowClass == windowClass) return 1;
    return 0;
}

int IsWindowClassRunning(const char* windowClass) {
    Record(std::string("FindWindow ") + windowClass);
    return windowClass[0] != '\0' && State().runningClasses.count(windowClass) > 0;
}

// --- the package resource

void* FindPackageResource() {
    Record("FindResource");
    return State().packageState == FAKE_PACKAGE_MISSING ? nullptr : &g_foundToken;
}

void* LoadPackageResource(void* found) {
    Record("LoadResource");
    if (found != &g_foundToken || State().packageState == FAKE_PACKAGE_NOT_LOADED) return nullptr;
    ++State().loadsHeld;
    return &g_loadedToken;
}

const unsigned char* LockPackageResource(void* loaded) {
    Record("LockResource");
    if (loaded != &g_loadedToken || State().packageState == FAKE_PACKAGE_NOT_LOCKED) return nullptr;
    // A non-null address even for an empty package, as a locked resource always has one.
    static const unsigned char empty = 0;
    return State().package.empty() ? &empty : State().package.data();
}

std::uint32_t PackageResourceSize(void*) {
    Record("SizeofResource");
    return static_cast<std::uint32_t>(State().package.size());
}

void FreePackageResource(void*) {
    Record("FreeResource");
    --State().loadsHeld;
}

// --- files

int GetTempFolder(char* folder) {
    Record("GetTempPath");
    if (!State().tempFolderResult) return 0;
    return TextCopy(folder, PATH_TEXT_SIZE, State().tempFolder.c_str());
}

// Recorded as the two steps the real one takes: naming the new file, then writing it.
int WriteTempFile(const char* folder, const void* data, std::uint32_t size, char* name,
                  RetryBudget*) {
    if (State().tempFileFails) {
        Record("GetTempFileName FAIL");
        return 0;
    }
    std::string made =
        std::string(folder) + "vq" + std::to_string(++State().tempFilesMade) + ".tmp";
    Record("GetTempFileName " + made);
    if (!TextCopy(name, PATH_TEXT_SIZE, made.c_str())) return 0;
    bool fails = State().failingWrites.count(made) > 0;
    Record("Write " + made + " " + std::to_string(size) + (fails ? " FAIL" : ""));
    // A failed write (a full disk) leaves no file: the real one removes what it wrote.
    if (fails) return 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::vector<unsigned char>& file = State().files[made];
    file.assign(bytes, bytes + size);
    // Another process rewrites the file the moment it is closed.
    if (State().swapTempFiles) file.assign({'s', 'w', 'a', 'p'});
    return 1;
}

// At once here; the real one may finish it on the pool.
void WriteTempFileLater(const char* folder, const void* data, std::uint32_t size,
                        std::atomic<int>* missed) {
    char name[PATH_TEXT_SIZE];
    if (!WriteTempFile(folder, data, size, name, nullptr)) ++*missed;
}

int InstalledFileExists(const char* path) {
    Record(std::string("Exists ") + path);
    return State().missingTargets.count(path) == 0;
}

void* HoldTempFile(const char* path, const void* data, std::uint32_t size, RetryBudget*) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    bool same = State().files[path] == std::vector<unsigned char>(bytes, bytes + size);
    Record(std::string("Hold ") + path + (same ? "" : " FAIL"));
    if (!same) return nullptr;
    ++State().tempFilesHeld;
    return &State().tempFilesHeld;
}

void ReleaseTempFile(void*) {
    Record("Release");
    --State().tempFilesHeld;
}

int ReplaceTargetFile(const void* data, std::uint32_t size, const char* target, RetryBudget*,
                      RunItem* item) {
    // Windows answers ERROR_PATH_NOT_FOUND for a target whose folder is missing.
    std::string folder = target;
    folder = folder.substr(0, folder.rfind('\\'));
    if (State().missingFolders.count(folder)) {
        Record(std::string("Replace ") + target + " FAIL");
        if (item) {
            item->error = 3;
            item->outcome = OUTCOME_SKIPPED_NO_FOLDER;
        }
        return 0;
    }
    bool fails = State().failingReplaces.count(target) > 0;
    Record(std::string("Replace ") + target + (fails ? " FAIL" : ""));
    if (item)
        item->outcome = fails                                  ? OUTCOME_IN_USE
                        : State().missingTargets.count(target) ? OUTCOME_ADDED
                                                               : OUTCOME_REPLACED;
    if (fails) return 0;
    // Handed on to the pool, which then fails it.
    if (State().failingLater.count(target)) {
        if (item) item->outcome = OUTCOME_IN_USE;
        return 1;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    State().files[target].assign(bytes, bytes + size);
    return 1;
}

void FinishReplaces() { Record("FinishReplaces"); }

int WaitsForRestart(const char* target, const void*, std::uint32_t) {
    return State().waitingTargets.count(target) > 0;
}

void* AllocEntryBuffer(std::size_t bytes) {
    bool fails = State().failingAllocs.count(bytes) > 0;
    Record("Alloc " + std::to_string(bytes) + (fails ? " FAIL" : ""));
    if (fails) return nullptr;
    void* block = std::calloc(bytes, 1);
    if (block) ++State().buffersHeld;
    return block;
}

void FreeEntryBuffer(void* buffer) {
    Record("Free");
    --State().buffersHeld;
    std::free(buffer);
}

RunAfterResult RunAndWait(const char* path, unsigned long, unsigned long* exitCode) {
    Record(std::string("RunAndWait ") + path);
    *exitCode = 0;
    return RUN_ENDED;
}

// --- the rules and shortcuts, as the run sees them

int ResolveInstallDirView(const PackageImage& image, const PackageHeader& header, char* installDir,
                          unsigned* view, InstallDirSource* source) {
    *view = State().installDirView;
    if (source) {
        source->fromRegistry = 1;
        source->view = *view;
    }
    return ResolveInstallDir(image, header, installDir);
}

int ResolveInstallDir(const PackageImage&, const PackageHeader&, char* installDir) {
    Record("ResolveInstallDir");
    if (!State().installDirResult) {
        installDir[0] = '\0';
        return 0;
    }
    return TextCopy(installDir, PATH_TEXT_SIZE, State().installDir.c_str());
}

int ResolveTargetPath(const char* fileName, const char* folder, const char* installDir,
                      char* targetPath) {
    Record(std::string("ResolveTargetPath ") + fileName + "|" + folder);
    static const struct {
        const char* name;
        const char* base;
    } placeholders[] = {{"<InstallDir>", nullptr},
                        {"<WindowsDir>", "C:\\WINDOWS"},
                        {"<SystemDir>", "C:\\WINDOWS\\system32"}};
    for (const auto& placeholder : placeholders) {
        if (!BeginsWithName(folder, placeholder.name)) continue;
        const char* base = placeholder.base ? placeholder.base : installDir;
        if (!base) return 0;
        char path[PATH_TEXT_SIZE];
        if (!TextFormat(path, sizeof path, "%s%s\\%s", base, folder + std::strlen(placeholder.name),
                        fileName))
            return 0;
        return TextCopy(targetPath, PATH_TEXT_SIZE, path);
    }
    return 0;
}

int IsNewerOrSameWithVersions(const char* newFile, const char* installedFile, char* versions,
                              std::size_t capacity) {
    if (versions) TextCopy(versions, capacity, "packaged 2.0, installed 1.0");
    return IsNewerOrSame(newFile, installedFile);
}

int IsNewerOrSame(const char* newFile, const char* installedFile) {
    Record(std::string("IsNewerOrSame ") + newFile + " > " + installedFile);
    auto rule = State().newerOrSame.find(installedFile);
    return rule == State().newerOrSame.end() ? 1 : rule->second;
}

int IsNewerOrSameImage(const unsigned char*, std::uint32_t size, const char* installedFile, char*,
                       std::size_t) {
    Record("IsNewerOrSameImage " + std::to_string(size) + " > " + installedFile);
    auto rule = State().newerOrSame.find(installedFile);
    return rule == State().newerOrSame.end() ? 1 : rule->second;
}

int ApplyShortcutSpecs(const char* shortcutText, const char* targetPath, const ShortcutReport*) {
    Record(std::string("Shortcuts ") + shortcutText + " > " + targetPath);
    return shortcutText[0] != '\0';
}

int MoveShortcut(const char* from, const char* to, const ShortcutReport*) {
    Record(std::string("Move ") + from + " > " + to);
    return 1;
}
