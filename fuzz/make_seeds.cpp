// SPDX-License-Identifier: MIT
// Writes the seed corpus of every fuzz target: small real packages of the shapes vendors ship,
// and the texts and version blocks that such packages and machines hold.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include <zlib.h>

#include "extras/extras.h"
#include "extras/extras_writer.h"
#include "package/unicode_texts_writer.h"
#include "package/package.h"
#include "package/package_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

bool WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool Build(const char* name, const WriterPackage& package, Bytes* bytes) {
    std::string error;
    if (BuildPackage(package, bytes, &error)) return true;
    std::fprintf(stderr, "make_seeds: %s: %s\n", name, error.c_str());
    return false;
}

// NUL-separated parts behind `head`, the input shape of the text targets.
Bytes Parts(const Bytes& head, std::initializer_list<std::string> parts) {
    Bytes bytes = head;
    bool first = true;
    for (const std::string& part : parts) {
        if (!first) bytes.push_back(0);
        first = false;
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: make_seeds FOLDER\n"
                     "writes FOLDER/<target>/ for every fuzz target\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (const char* target : {"package_reader", "apply_run", "targets", "shortcut_text",
                               "version_rule", "inflate", "extras", "unicode_texts"}) {
        std::string path = folder + "/" + target;
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "make_seeds: cannot make %s\n", path.c_str());
            return 1;
        }
    }

    WriterPackage base;
    base.title = "\x83\x65\x83\x43\x83\x68";  // CP932 text, as built-in packages carry
    base.versionText = "2.4.0.7";
    base.registryKey = "HKEY_LOCAL_MACHINE\\Software\\Example\\Suite";
    base.valueName = "InstallDir";
    base.defaultFolder = "C:\\Program Files\\Example";
    base.subFolder = "Bin";

    WriterPackage empty = base;
    WriterPackage one = base;
    one.entries = {{"tool.exe", "<InstallDir>", "", ENTRY_ALWAYS_REPLACE, BytesOf("MZ tool"), {}}};
    WriterPackage full = base;
    full.runningApps = {{"ExampleMain", "Please close Example."}, {"", ""}, {"Other", "Close it"}};
    full.entries = {
        {"tool.exe",
         "<InstallDir>",
         "<Desktop>\\Tool;\r\n\"<ProgramMenu>\\Suite\\Tool\" ; \"-x\"",
         ENTRY_RUN_AFTER,
         BytesOf("MZ tool bytes"),
         {}},
        {"shared.dll", "<SystemDir>", "", 0, BytesOf(std::string(300, 'x')), {}},
        {"guide.txt", "<installdir>\\Help\\", "<QuickLaunch>App;a;b;", 0x21, {}, {}},
        {"w.ini", "<WindowsDir>", "<StartUpMenu>\\W", ENTRY_ALWAYS_REPLACE, BytesOf("[w]"), {}},
    };
    full.moves = {{"<Desktop>\\Old", "<ProgramMenu>\\New"}, {"<StartMenu>\\Gone", ""}};
    WriterPackage shuffled = full;
    shuffled.streamOrder = {2, 0, 1, 3};
    WriterPackage blocked = full;
    blocked.runningApps = {{"", ""}, {"Busy", "Close Busy first."}};
    WriterPackage hkcu = one;
    hkcu.registryKey = "hkey_current_user\\Software\\Example";
    hkcu.subFolder = "";
    WriterPackage rooted = one;
    rooted.registryKey = "Software\\Example\\Suite\\Without\\Root";

    const struct {
        const char* name;
        const WriterPackage* package;
    } packages[] = {{"empty.pkg", &empty},       {"one.pkg", &one},         {"full.pkg", &full},
                    {"shuffled.pkg", &shuffled}, {"blocked.pkg", &blocked}, {"hkcu.pkg", &hkcu},
                    {"rooted.pkg", &rooted}};
    bool ok = true;
    for (const auto& seed : packages) {
        Bytes bytes;
        if (!Build(seed.name, *seed.package, &bytes)) return 1;
        ok = ok && WriteFile(folder + "/package_reader/" + seed.name, bytes) &&
             WriteFile(folder + "/apply_run/" + seed.name, bytes);
        // The targets input: choices, the registry value's length and data, the package.
        for (const std::string& value :
             {std::string("D:\\Apps\\Example") + '\0', std::string("D:\\NoTerminator"),
              std::string(), std::string(259, 'p') + '\0'}) {
            Bytes input = {0, static_cast<unsigned char>(value.size() & 0xFF),
                           static_cast<unsigned char>(value.size() >> 8)};
            input.insert(input.end(), value.begin(), value.end());
            input.insert(input.end(), bytes.begin(), bytes.end());
            std::string name =
                folder + "/targets/" + std::to_string(value.size()) + "-" + seed.name;
            ok = ok && WriteFile(name, input);
        }
    }

    // The steps beside a package: each kind of record, one refused.
    WriterExtras extras;
    extras.folders = {"<InstallDir>\\plugins\\new", "<InstallDir>\\bin", "<InstallDir>\\..\\x"};
    extras.removals = {{"<InstallDir>\\a.dll", REMOVAL_EMPTY_FOLDER},
                       {"<InstallDir>\\link\\b.dll", 0}};
    extras.values = {{"HKEY_LOCAL_MACHINE\\Software\\X", "DisplayVersion", 1, "3.1", 0},
                     {"HKEY_CURRENT_USER\\Software\\Y", "Build", 4, "", 139}};
    Bytes steps;
    std::string stepsError;
    if (!BuildExtras(extras, &steps, &stepsError)) {
        std::fprintf(stderr, "make_seeds: steps: %s\n", stepsError.c_str());
        return 1;
    }
    ok = ok && WriteFile(folder + "/extras/steps.bin", steps);

    // The texts as UTF-16: each kind, both dialog languages.
    Bytes texts;
    if (!BuildUnicodeTexts({{UTEXT_TITLE, 0, 0, u"家計簿マネージャー"},
                            {UTEXT_VERSION, 0, 0, u"3.2"},
                            {UTEXT_MESSAGE, 1, 0, u"終了してください。\r\nClose it."},
                            {UTEXT_WELCOME, 0, 1033, u"Welcome to\r%s"},
                            {UTEXT_EXPLAIN, 0, 1041, u"%s に更新します。"}},
                           &texts, &stepsError)) {
        std::fprintf(stderr, "make_seeds: texts: %s\n", stepsError.c_str());
        return 1;
    }
    ok = ok && WriteFile(folder + "/unicode_texts/texts.bin", texts);

    // The shortcut text input: release, folders, target, text, move from, move to, AppData.
    const struct {
        const char* name;
        Bytes bytes;
    } shortcutSeeds[] = {
        {"lines",
         Parts({5, 0x0F}, {"C:\\Apps\\Example\\tool.exe",
                           "<Desktop>\\Tool;\r\n\"<ProgramMenu>\\Suite\\Tool\" ; \"-x\"\r\n"
                           "<StartMenu>\\A;\r\n<StartUpMenu>\\B;arg",
                           "<Desktop>\\Tool", "<ProgramMenu>\\Moved", "C:\\Ann\\AppData"})},
        {"quicklaunch-xp", Parts({5, 0x6F}, {"C:\\tool.exe", "<QuickLaunch>\\Tool;", "", "",
                                             std::string("C:\\Ann\\AppData") + '\0'})},
        {"quicklaunch-98", Parts({1, 0x2F}, {"C:\\tool.exe", "<quicklaunch>Tool; ;\r\n", "", ""})},
        {"no-semicolon", Parts({7, 0x0F}, {"C:\\x\\y.exe", "<Desktop>\\A\r\n<Desktop>\\B;\r\n"})},
        {"long-desktop",
         Parts({5, 0x1F}, {"C:\\x\\y.exe", "<Desktop>\\" + std::string(20, 'n') + ";",
                           "<Desktop>\\Old", "<Desktop>\\" + std::string(30, 'm')})},
        {"delete", Parts({6, 0x0F}, {"C:\\t.exe", "", "<StartMenu>\\Gone", "<Nowhere>\\X"})},
        {"full-field", Parts({5, 0x0F}, {"C:\\t.exe", std::string(4095, ';')})},
    };
    for (const auto& seed : shortcutSeeds)
        ok = ok && WriteFile(folder + "/shortcut_text/" + seed.name, seed.bytes);

    // The version input: choices, pair count, pairs, new text, installed text, a number text.
    const struct {
        const char* name;
        Bytes bytes;
    } versionSeeds[] = {
        {"same-pair", Parts({0x44, 1, 0x09, 0x04, 0xB0, 0x04}, {"2.4.0.7", "2.3.9.1", "1.10"})},
        {"japanese", Parts({0x44, 2, 0x11, 0x04, 0xA4, 0x03, 0x09, 0x04, 0xB0, 0x04},
                           {"3.0", "10.0", "v3, build 7"})},
        {"unterminated", Parts({0x00, 1, 0x09, 0x04, 0xB0, 0x04}, {std::string(80, '9'), "1"})},
        {"second-pair",
         Parts({0x66, 2, 0x09, 0x04, 0xB0, 0x04, 0x11, 0x04, 0xA4, 0x03}, {"5", "6", ""})},
        {"no-list", Parts({0x11, 0}, {"1.0", "2.0", "4294967296"})},
    };
    for (const auto& seed : versionSeeds)
        ok = ok && WriteFile(folder + "/version_rule/" + seed.name, seed.bytes);

    // The inflate input: the expected size in two bytes, then a zlib stream, at the levels and
    // with the data that packages hold (empty, text, runs, noise), some with the size off by one.
    const struct {
        const char* name;
        std::string data;
        int level;
        int sizeDelta;
    } inflateSeeds[] = {
        {"empty", "", 9, 0},
        {"text-9", std::string("[Settings]\r\nLanguage=ja\r\n") + std::string(200, 'x'), 9, 0},
        {"text-short", "the size says one byte more", 9, 1},
        {"text-long", "the size says one byte less", 6, -1},
        {"stored", std::string(1000, '\x7f'), 0, 0},
        {"noise-1", std::string(3000, '\0'), 1, 0},
    };
    for (const auto& seed : inflateSeeds) {
        std::string data = seed.data;
        if (std::string(seed.name) == "noise-1")
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<char>(i * 131 % 251);
        uLongf streamLength = compressBound(data.size());
        Bytes stream(streamLength);
        if (compress2(stream.data(), &streamLength, reinterpret_cast<const Bytef*>(data.data()),
                      data.size(), seed.level) != Z_OK)
            return 1;
        std::size_t size = data.size() + seed.sizeDelta;
        Bytes input = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8)};
        input.insert(input.end(), stream.begin(), stream.begin() + streamLength);
        ok = ok && WriteFile(folder + "/inflate/" + seed.name, input);
    }
    return ok ? 0 : 1;
}
