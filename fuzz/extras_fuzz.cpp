// SPDX-License-Identifier: MIT
// The steps beside the package over an arbitrary byte image, against the fake platform: beyond
// memory safety, nothing is ever made or removed outside the install folder, whatever the
// records say, and a value goes only under the two roots a patch may write.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "extras/extras_run.h"
#include "fakes/extras_fake.h"

namespace {

const char INSTALL_DIR[] = "C:\\Apps\\Example";

void Fail(const char* what, const std::string& call) {
    std::fprintf(stderr, "extras: %s: %s\n", what, call.c_str());
    std::abort();
}

// The path names something below the install folder: each name after it neither empty, "."
// nor "..", and no drive or stream after the first.
bool Beneath(const std::string& path) {
    const std::string base = std::string(INSTALL_DIR) + "\\";
    if (path.compare(0, base.size(), base) != 0 || path.find(':', 2) != std::string::npos)
        return false;
    for (std::size_t begin = base.size();;) {
        std::size_t end = path.find('\\', begin);
        std::string name = path.substr(begin, end == std::string::npos ? end : end - begin);
        if (name.empty() || name == "." || name == "..") return false;
        if (end == std::string::npos) return true;
        begin = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    FakeExtrasReset();
    FakeExtras& fake = FakeExtrasState();
    // Exactly `size` bytes, so that ASan sees every read past the end.
    fake.resource.assign(data, data + size);
    fake.hasResource = true;
    fake.paths = {{INSTALL_DIR, PATH_FOLDER},
                  {"C:\\Apps\\Example\\bin", PATH_FOLDER},
                  {"C:\\Apps\\Example\\link", PATH_LINK},
                  {"C:\\Apps\\Example\\a.dll", PATH_FILE}};
    fake.keys = {"0:Software\\X@0", "1:Software\\X@0"};

    ExtrasRun run;
    OpenExtras(&run);
    CreateExtraFolders(&run, INSTALL_DIR);
    FinishExtras(&run, INSTALL_DIR, 0, 1);
    for (std::int32_t i = 0; i < run.folderCount + run.removalCount + run.registryCount; ++i)
        if (run.outcomes[i] < EXTRA_NOT_RUN || run.outcomes[i] > EXTRA_EARLIER_FAILED)
            Fail("an outcome out of range", std::to_string(run.outcomes[i]));
    CloseExtras(&run);

    for (const std::string& call : fake.calls) {
        std::size_t space = call.find(' ');
        std::string verb = call.substr(0, space), rest = call.substr(space + 1);
        if (verb == "SetValue") {
            if (rest.compare(0, 2, "0:") != 0 && rest.compare(0, 2, "1:") != 0)
                Fail("a value under another root", call);
            continue;
        }
        // "Mkdir <path>" (no folder is refused here), "Rmdir <path>", "Delete <path> <word>".
        std::string path = verb == "Delete" ? rest.substr(0, rest.rfind(' ')) : rest;
        if (!Beneath(path)) Fail("a change outside the install folder", call);
    }
    return 0;
}
