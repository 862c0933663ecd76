// SPDX-License-Identifier: MIT
// Running programs on Linux and other POSIX systems: posix_spawn in a process group of its own.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "system/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// A pipe holding `text` whole, to read from; -1 with errno set when it cannot be made.
int PipeWith(const std::string& text) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    // Far below the pipe's capacity (a password or PIN), so this cannot block.
    bool written = write(ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int saved = errno;
    close(ends[1]);
    if (!written) {
        close(ends[0]);
        errno = saved;
        return -1;
    }
    return ends[0];
}

}  // namespace

// Runs `command.arguments` without a shell in a process group of its own, which is stopped whole
// when it runs out of time. On a terminal that group is in the foreground meanwhile, so that it
// can ask for a PIN and Ctrl-C reaches it.
RunResult Run(const Command& command) {
    RunResult result;
    std::vector<char*> argv;
    for (const std::string& argument : command.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> environment;
    std::string hidden = command.hidden + "=";
    for (char** variable = environ; *variable; ++variable)
        if (command.hidden.empty() || std::strncmp(*variable, hidden.c_str(), hidden.size()))
            environment.push_back(*variable);
    environment.push_back(nullptr);
    int ends[2];
    int input = command.hasInput ? PipeWith(command.input) : -1;
    if ((command.hasInput && input < 0) || pipe2(ends, O_CLOEXEC) != 0) {
        result.startError = std::strerror(errno);
        if (input >= 0) close(input);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else if (!command.terminal)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid;
    int spawned =
        posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    if (input >= 0) close(input);
    if (spawned != 0) {
        result.notFound = spawned == ENOENT;
        result.startError = std::strerror(spawned);
        close(ends[0]);
        return result;
    }
    bool foreground =
        command.terminal && isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
    if (foreground) {
        tcsetpgrp(STDIN_FILENO, pid);
        kill(-pid, SIGCONT);  // in case it read the terminal before it was given it
    }

    auto deadline = Clock::now() + std::chrono::seconds(command.timeoutSeconds);
    pollfd source{ends[0], POLLIN, 0};
    int status = 0;
    bool exited = false;
    char piece[4096];
    auto take = [&](ssize_t got) {
        if (command.echo) {
            std::fwrite(piece, 1, static_cast<std::size_t>(got), command.echo);
            std::fflush(command.echo);
        }
        result.output.append(piece, static_cast<std::size_t>(got));
        if (result.output.size() > (2u << 20))
            result.output.erase(0, result.output.size() - (1u << 20));
    };
    while (!exited) {
        // After end of file it may still run; poll then only waits.
        poll(&source, 1, 100);
        if (source.fd >= 0 && source.revents) {
            ssize_t got = read(source.fd, piece, sizeof piece);
            if (got > 0)
                take(got);
            else if (got == 0 || errno != EINTR)
                source.fd = -1;
        }
        exited = waitpid(pid, &status, WNOHANG) == pid;
        if (!exited && Clock::now() >= deadline) {
            result.timedOut = true;
            kill(-pid, SIGTERM);
            for (int k = 0; k < 20 && !exited; ++k) {
                usleep(100000);
                exited = waitpid(pid, &status, WNOHANG) == pid;
            }
            kill(-pid, SIGKILL);
            if (!exited) waitpid(pid, &status, 0);
            exited = true;
        }
    }
    // What it printed last, without waiting for what it left running in the background.
    if (source.fd >= 0 && fcntl(source.fd, F_SETFL, O_NONBLOCK) == 0) {
        ssize_t got;
        // Bounded: something it left behind may go on writing.
        for (int k = 0; k < 256 && (got = read(source.fd, piece, sizeof piece)) > 0; ++k) take(got);
    }
    close(ends[0]);
    if (foreground) {
        // Taking the terminal back from the background would otherwise stop tidepack.
        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGTTOU, &ignore, &previous);
        tcsetpgrp(STDIN_FILENO, getpgrp());
        sigaction(SIGTTOU, &previous, nullptr);
    }
    if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> ShellArguments(const std::string& line, const std::string& path) {
    return {"/bin/sh", "-c", ShellLine(Shell::Posix, line, path)};
}
