// Helpers of the varnel-batch tests: a scratch folder, running programs, making clips with the
// ffmpeg command and reading the report back.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace batchtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class CScratchDir {
  public:
    CScratchDir();
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string operator/(const std::string& strName) const { return (m_path / strName).string(); }
    // Names of the entries of the folder, sorted.
    std::vector<std::string> Entries() const;

  private:
    std::filesystem::path m_path;
};

struct ProcessResult {
    int nExitStatus = -1;  // the exit status, or 128 + the signal that ended the process
    std::string strOut;
    std::string strErr;
};

// Runs argv[0] (a path) with the arguments in strWorkDir and waits for it. Standard input is
// /dev/null; standard output and standard error are collected.
ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& strWorkDir);

// Starts the process as RunProcess does, without waiting; its output goes to the two files.
int StartProcess(const std::vector<std::string>& args, const std::string& strWorkDir,
                 const std::string& strOutFile, const std::string& strErrFile);
// Waits for a started process; the exit status as in ProcessResult.
int WaitProcess(int nPid);

// Runs a shell command line; true when it exits with 0.
bool RunShell(const std::string& strCommand);
// Runs a shell command line and gives its standard output; empty when it fails.
std::string CaptureShell(const std::string& strCommand);
// Whether ffmpeg and ffprobe can be run.
bool HaveFfmpeg();

std::string ReadFile(const std::string& strPath);
std::vector<std::string> SplitLines(const std::string& strText);
std::vector<std::string> SplitFields(const std::string& strLine, char cSeparator);

// The path of varnel-batch under test.
std::string BatchExecutable();

}  // namespace batchtest
