// Helpers of the varnel-batch tests: running programs and reading back what they wrote. Temporary
// folders and clips made with the ffmpeg command come from the runtime tests' helpers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

namespace batchtest {

using varnel_test::CTempDir;
using varnel_test::MakeClip;
using varnel_test::ProbeFrameCount;
using varnel_test::Quoted;
using varnel_test::RunCommand;

struct ProcessResult {
    int nExitStatus = -1;  // the exit status, or 128 + the signal that ended the process
    std::string strOut;
    std::string strErr;
};

// Runs args[0] (a path) with the other arguments in workDir and waits for it. Standard input is
// /dev/null; standard output and standard error are collected.
ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::filesystem::path& workDir);

// Starts the process as RunProcess does, without waiting; its output goes to the two files.
// The process id, or -1.
int StartProcess(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                 const std::filesystem::path& outFile, const std::filesystem::path& errFile);
// Waits for a started process; the exit status as in ProcessResult.
int WaitProcess(int nPid);
// The exit status of a started process that has ended, else kStillRunning.
constexpr int kStillRunning = -2;
int PollProcess(int nPid);

// Whether a program of that name can be found on the search path.
bool HaveProgram(const std::string& strName);
// Whether ffmpeg and ffprobe can be run.
bool HaveFfmpeg();

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& strText);
// Names of the entries of a folder, sorted.
std::vector<std::string> DirEntries(const std::filesystem::path& folder);
// Non-empty lines, without their line ends (a carriage return before the line feed included).
std::vector<std::string> SplitLines(const std::string& strText);
std::vector<std::string> SplitFields(const std::string& strLine, char cSeparator);

// The path of varnel-batch under test.
std::string BatchExecutable();

}  // namespace batchtest
