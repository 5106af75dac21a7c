#include "tests/batch/BatchTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace batchtest {

CScratchDir::CScratchDir() {
    std::string strTemplate =
        (std::filesystem::temp_directory_path() / "varnel-batch-test-XXXXXX").string();
    if (mkdtemp(strTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = strTemplate;
}

CScratchDir::~CScratchDir() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::vector<std::string> CScratchDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int StartProcess(const std::vector<std::string>& args, const std::string& strWorkDir,
                 const std::string& strOutFile, const std::string& strErrFile) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fdIn = open("/dev/null", O_RDONLY);
        const int fdOut = open(strOutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fdErr = open(strErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0 || chdir(strWorkDir.c_str()) != 0) _exit(126);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return static_cast<int>(pid);
}

int WaitProcess(int nPid) {
    int nStatus = 0;
    if (waitpid(nPid, &nStatus, 0) < 0) return -1;
    if (WIFEXITED(nStatus)) return WEXITSTATUS(nStatus);
    if (WIFSIGNALED(nStatus)) return 128 + WTERMSIG(nStatus);
    return -1;
}

ProcessResult RunProcess(const std::vector<std::string>& args, const std::string& strWorkDir) {
    CScratchDir capture;
    const std::string strOut = capture / "stdout";
    const std::string strErr = capture / "stderr";
    ProcessResult result;
    const int nPid = StartProcess(args, strWorkDir, strOut, strErr);
    result.nExitStatus = nPid > 0 ? WaitProcess(nPid) : -1;
    result.strOut = ReadFile(strOut);
    result.strErr = ReadFile(strErr);
    return result;
}

bool RunShell(const std::string& strCommand) { return std::system(strCommand.c_str()) == 0; }

std::string CaptureShell(const std::string& strCommand) {
    struct PipeCloser {
        void operator()(std::FILE* pPipe) const { pclose(pPipe); }
    };
    std::unique_ptr<std::FILE, PipeCloser> pPipe(popen(strCommand.c_str(), "r"));
    if (!pPipe) return {};
    std::string strText;
    char buffer[4096];
    size_t nRead = 0;
    while ((nRead = std::fread(buffer, 1, sizeof buffer, pPipe.get())) > 0) {
        strText.append(buffer, nRead);
    }
    return strText;
}

bool HaveFfmpeg() {
    return RunShell("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1");
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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
