// Writes the seed corpus: small real packages of the shapes vendors ship.
#include <cstdio>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/package_writer.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

bool Write(const std::string& folder, const char* name, const WriterPackage& package) {
    std::vector<unsigned char> bytes;
    std::string error;
    if (!BuildPackage(package, &bytes, &error)) {
        std::fprintf(stderr, "make_seeds: %s: %s\n", name, error.c_str());
        return false;
    }
    std::string path = folder + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    WriterPackage base;
    base.title = "\x83\x65\x83\x43\x83\x68";  // CP932 text, as built-in packages carry
    base.versionText = "2.4.0.7";
    base.registryKey = "HKEY_LOCAL_MACHINE\\Software\\Example\\Suite";
    base.valueName = "InstallDir";
    base.defaultFolder = "C:\\Program Files\\Example";
    base.subFolder = "Bin";

    WriterPackage empty = base;
    WriterPackage one = base;
    one.entries = {{"tool.exe", "<InstallDir>", "", ENTRY_ALWAYS_REPLACE, Bytes("MZ tool"), {}}};
    WriterPackage full = base;
    full.runningApps = {{"ExampleMain", "Please close Example."}, {"", ""}, {"Other", "Close it"}};
    full.entries = {
        {"tool.exe", "<InstallDir>", "<Desktop>\\Tool;\r\n\"<ProgramMenu>\\Suite\\Tool\" ; \"-x\"",
         ENTRY_RUN_AFTER, Bytes("MZ tool bytes"), {}},
        {"shared.dll", "<SystemDir>", "", 0, Bytes(std::string(300, 'x')), {}},
        {"guide.txt", "<installdir>\\Help\\", "<QuickLaunch>App;a;b;", 0x21, {}, {}},
        {"w.ini", "<WindowsDir>", "<StartUpMenu>\\W", ENTRY_ALWAYS_REPLACE, Bytes("[w]"), {}},
    };
    full.moves = {{"<Desktop>\\Old", "<ProgramMenu>\\New"}, {"<StartMenu>\\Gone", ""}};
    WriterPackage shuffled = full;
    shuffled.streamOrder = {2, 0, 1, 3};
    bool ok = Write(folder, "empty.pkg", empty) && Write(folder, "one.pkg", one) &&
              Write(folder, "full.pkg", full) && Write(folder, "shuffled.pkg", shuffled);
    return ok ? 0 : 1;
}
