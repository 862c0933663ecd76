// A ready patch program in one command: the project's own Windows build, with the package as
// RCDATA 1 (language 1033) through the front end's TIDEWELL_PACKAGE, linked by mingw-w64.
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "manifest.h"
#include "package_file.h"
#include "tidepack.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Runs `arguments` (no shell) with its output appended to `log`. Returns its exit code, or -1.
int RunLogged(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsManifest(const std::string& path) {
    std::string extension = fs::u8path(path).extension().string();
    return extension == ".toml" || extension == ".TOML";
}

}  // namespace

int MakeProgram(const ProgramOptions& options, std::FILE* out, std::FILE* err) {
    std::error_code code;
    fs::path source = fs::absolute(fs::u8path(options.sourceDir), code);
    fs::path toolchain = source / "cmake" / ("mingw-" + options.arch + ".cmake");
    if (!fs::is_regular_file(source / "CMakeLists.txt", code) ||
        !fs::is_regular_file(toolchain, code)) {
        std::fprintf(err,
                     "tidepack: %s is not the update program's source tree with a toolchain "
                     "for %s (give it with --source)\n",
                     source.c_str(), options.arch.c_str());
        return EXIT_USAGE;
    }
    fs::path build = options.buildDir.empty() ? source / "build" / ("patch-" + options.arch)
                                              : fs::absolute(fs::u8path(options.buildDir), code);
    fs::create_directories(build, code);
    if (code) {
        std::fprintf(err, "tidepack: %s: %s\n", build.c_str(), code.message().c_str());
        return EXIT_FAULT;
    }

    // The package: built from the manifest, or taken as given once it verifies.
    fs::path package = build / "package.pkg";
    ListOptions check;
    if (IsManifest(options.input)) {
        BuildOptions buildOptions;
        buildOptions.manifest = options.input;
        buildOptions.output = package.string();
        buildOptions.compression = options.zopfli ? Compression::Best : Compression::Libdeflate;
        buildOptions.progress = options.progress;
        int built = BuildFromManifest(buildOptions, out, err);
        if (built != 0) return built;
    } else {
        std::vector<unsigned char> bytes;
        std::string error;
        check.path = options.input;
        if (VerifyPackage(check, out, err) != 0) return EXIT_FAULT;
        if (!ReadWholeFile(options.input, &bytes, &error) ||
            !WriteFileWhole(package.string(), bytes, &error)) {
            std::fprintf(err, "tidepack: %s: %s\n", options.input.c_str(), error.c_str());
            return EXIT_FAULT;
        }
    }

    std::string log = (build / "tidepack-program.log").string();
    fs::remove(log, code);
    unsigned jobs = std::thread::hardware_concurrency();
    std::vector<std::vector<std::string>> steps = {
        {"cmake", "-S", source.string(), "-B", build.string(),
         "-DCMAKE_TOOLCHAIN_FILE=" + toolchain.string(), "-DCMAKE_BUILD_TYPE=Release",
         "-DTIDEWELL_PACKAGE=" + package.string()},
        {"cmake", "--build", build.string(), "--target", "Tidewell", "-j",
         std::to_string(jobs ? jobs : 1)},
    };
    if (options.progress)
        std::fprintf(err, "building the %s program with mingw-w64 in %s ...\n",
                     options.arch.c_str(), build.c_str());
    for (const std::vector<std::string>& step : steps) {
        if (RunLogged(step, log) != 0) {
            std::fprintf(err, "tidepack: '%s %s' failed; its output is in %s\n", step[0].c_str(),
                         step[1].c_str(), log.c_str());
            return EXIT_FAULT;
        }
    }

    // The program must carry exactly this package before it takes the output's place.
    PackageFile program;
    std::vector<unsigned char> packageBytes;
    std::string error;
    fs::path built = build / "Tidewell.exe";
    if (!LoadPackageFile(built.string(), &program, &error) ||
        !ReadWholeFile(package.string(), &packageBytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", built.c_str(), error.c_str());
        return EXIT_FAULT;
    }
    if (program.origin.empty() ||
        !std::equal(packageBytes.begin(), packageBytes.end(), program.image.data,
                    program.image.data + program.image.size) ||
        packageBytes.size() != program.image.size) {
        std::fprintf(err, "tidepack: %s does not carry the package as RCDATA 1\n", built.c_str());
        return EXIT_FAULT;
    }
    if (!WriteFileWhole(options.output, program.bytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", options.output.c_str(), error.c_str());
        return EXIT_FAULT;
    }
    fs::permissions(fs::u8path(options.output),
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, code);
    std::fprintf(out, "%s: %s patch program, %zu bytes, package of %zu bytes as RCDATA 1\n",
                 options.output.c_str(), options.arch.c_str(), program.bytes.size(),
                 packageBytes.size());
    return 0;
}
