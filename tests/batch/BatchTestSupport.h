// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the varnel-batch tests: the program run as a process, and its output read back.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace batchtest {

using namespace varnel_test;

// The fields of a line split at `cSeparator`, or with '\n' the non-empty lines.
inline std::vector<std::string> Split(const std::string& strText, char cSeparator = '\n') {
    std::vector<std::string> parts;
    std::istringstream stream(strText);
    for (std::string strPart; std::getline(stream, strPart, cSeparator);) {
        if (cSeparator != '\n' || !strPart.empty()) parts.push_back(strPart);
    }
    return parts;
}

// Starts varnel-batch with `args` in workDir, standard input /dev/null, its output to the two
// files (absolute paths), without waiting. The process id, or -1.
inline int StartBatch(std::vector<std::string> args, const std::filesystem::path& workDir,
                      const std::filesystem::path& outFile, const std::filesystem::path& errFile) {
    args.insert(args.begin(), VARNEL_BATCH_EXECUTABLE);  // the program under test
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = -1;
    const int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return nError == 0 ? static_cast<int>(pid) : -1;
}

// The exit status of a started process (128 + the signal that ended it), waiting for it unless
// bPoll is set; kStillRunning when polled while it runs.
constexpr int kStillRunning = -2;
inline int WaitProcess(int nPid, bool bPoll = false) {
    int nStatus = 0;
    const pid_t ended = waitpid(nPid, &nStatus, bPoll ? WNOHANG : 0);
    if (ended == 0) return kStillRunning;
    if (ended < 0) return -1;
    if (WIFEXITED(nStatus)) return WEXITSTATUS(nStatus);
    return WIFSIGNALED(nStatus) ? 128 + WTERMSIG(nStatus) : -1;
}

struct ProcessResult {
    int nExitStatus = -1;
    std::string strOut;
    std::string strErr;
};

// varnel-batch with the command line `strLine` split at each space, run in workDir to its end.
inline ProcessResult RunBatch(const std::string& strLine, const std::filesystem::path& workDir) {
    CTempDir capture;
    const int nPid =
        StartBatch(Split(strLine, ' '), workDir, capture / "stdout", capture / "stderr");
    return {nPid > 0 ? WaitProcess(nPid) : -1, ReadFile(capture / "stdout"),
            ReadFile(capture / "stderr")};
}

}  // namespace batchtest
