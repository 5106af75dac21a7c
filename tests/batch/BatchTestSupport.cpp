#include "tests/batch/BatchTestSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace batchtest {

int StartProcess(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                 const std::filesystem::path& outFile, const std::filesystem::path& errFile) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fdIn = open("/dev/null", O_RDONLY);
        const int fdOut = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fdErr = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0 || chdir(workDir.c_str()) != 0) _exit(126);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid > 0 ? static_cast<int>(pid) : -1;
}

namespace {

int ExitStatusOf(int nWaitStatus) {
    if (WIFEXITED(nWaitStatus)) return WEXITSTATUS(nWaitStatus);
    if (WIFSIGNALED(nWaitStatus)) return 128 + WTERMSIG(nWaitStatus);
    return -1;
}

}  // namespace

int WaitProcess(int nPid) {
    int nStatus = 0;
    if (waitpid(nPid, &nStatus, 0) < 0) return -1;
    return ExitStatusOf(nStatus);
}

int PollProcess(int nPid) {
    int nStatus = 0;
    const pid_t ended = waitpid(nPid, &nStatus, WNOHANG);
    if (ended == 0) return kStillRunning;
    return ended < 0 ? -1 : ExitStatusOf(nStatus);
}

ProcessResult RunProcess(const std::vector<std::string>& args,
                         const std::filesystem::path& workDir) {
    CTempDir capture;
    ProcessResult result;
    const int nPid = StartProcess(args, workDir, capture / "stdout", capture / "stderr");
    result.nExitStatus = nPid > 0 ? WaitProcess(nPid) : -1;
    result.strOut = ReadFile(capture / "stdout");
    result.strErr = ReadFile(capture / "stderr");
    return result;
}

bool HaveProgram(const std::string& strName) {
    return !RunCommand("command -v " + strName + " 2>/dev/null").empty();
}

bool HaveFfmpeg() { return HaveProgram("ffmpeg") && HaveProgram("ffprobe"); }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& strText) {
    std::ofstream(path, std::ios::binary) << strText;
}

std::vector<std::string> DirEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream stream(strText);
    std::string strLine;
    while (std::getline(stream, strLine)) {
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        if (!strLine.empty()) lines.push_back(strLine);
    }
    return lines;
}

std::vector<std::string> SplitFields(const std::string& strLine, char cSeparator) {
    std::vector<std::string> fields;
    std::string strField;
    std::istringstream stream(strLine);
    while (std::getline(stream, strField, cSeparator)) fields.push_back(strField);
    if (!strLine.empty() && strLine.back() == cSeparator) fields.emplace_back();
    return fields;
}

std::string BatchExecutable() { return VARNEL_BATCH_EXECUTABLE; }

}  // namespace batchtest
