// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/BatchQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch/PrintableName.h"
#include "batch/ProgressDisplay.h"
#include "common/Defaults.h"
#include "media/MediaReader.h"
#include "platform/wmf/StillImages.h"

extern char** environ;

namespace {

// The descriptor the child's CProgressPipe writes to.
constexpr int kChildProgressFd = 3;

// Reads what a non-blocking descriptor holds; false at its end (or on an error).
bool ReadAvailable(int nFd, std::string* pText) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(nFd, buffer, sizeof buffer);
        if (n > 0) {
            pText->append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void CloseFd(int& nFd) {
    if (nFd >= 0) ::close(nFd);
    nFd = -1;
}

}  // namespace

CBatchQueue::CBatchQueue(const BatchOptions& options, std::FILE* pOut, std::FILE* pErr,
                         const volatile std::sig_atomic_t* pInterrupted)
    : m_options(options), m_pOut(pOut), m_pErr(pErr), m_pInterrupted(pInterrupted) {}

int CBatchQueue::Run() {
    std::string strProblem;
    for (BatchJob& files : PlanJobs(m_options, &strProblem)) {
        m_jobs.emplace_back();
        m_jobs.back().files = std::move(files);
    }
    std::error_code error;
    std::filesystem::create_directories(m_options.strOutputDir, error);
    if (error || !std::filesystem::is_directory(m_options.strOutputDir)) {
        std::fprintf(m_pErr, "varnel-batch: could not make the output folder %s: %s\n",
                     QuotedName(m_options.strOutputDir).c_str(), error.message().c_str());
        return 1;
    }
    for (Job& job : m_jobs) {
        if (m_options.bSkipExisting && std::filesystem::exists(job.files.strOutput, error)) {
            job.state = State::kSkipped;
        }
    }

    CProgressDisplay progress(m_pErr, !m_options.bQuiet && isatty(fileno(m_pErr)) != 0);
    m_pProgress = &progress;
    if (!m_options.bQuiet && isatty(fileno(m_pErr)) != 0) ProbeExpectedFrames();
    bool bStopping = false;
    for (;;) {
        if (*m_pInterrupted != 0 && !bStopping) {
            // Each child stops its run and removes what it has staged; nothing more starts.
            bStopping = true;
            for (Job& job : m_jobs) {
                if (job.state == State::kRunning) ::kill(job.pid, SIGINT);
                if (job.state == State::kWaiting) job.state = State::kNotStarted;
            }
        }
        int nRunning = 0;
        for (const Job& job : m_jobs) nRunning += job.state == State::kRunning;
        for (Job& job : m_jobs) {
            if (bStopping || nRunning >= m_options.nJobs) break;
            if (job.state != State::kWaiting) continue;
            Start(job);
            nRunning += job.state == State::kRunning;
        }
        if (nRunning == 0) break;
        Pump(100);
        int nDone = 0;
        int nExpected = 0;
        for (const Job& job : m_jobs) {
            nDone += job.progress.nFrames;
            nExpected +=
                std::max({job.nProbedFrames, job.progress.nExpected, job.progress.nFrames});
        }
        progress.SetExpectedFrames(nExpected);
        progress.Update(nDone);
    }
    progress.Finish();
    m_pProgress = nullptr;

    std::string strFailed;
    int nFailed = 0;
    for (const Job& job : m_jobs) {
        if (job.state != State::kFailed) continue;
        strFailed += (nFailed++ == 0 ? "" : ", ") + QuotedName(job.files.strInput);
    }
    const bool bTable = m_options.bQuiet || WriteTable();
    if (!bTable) std::fprintf(m_pErr, "varnel-batch: could not write the summary\n");
    if (nFailed > 0) {
        std::fprintf(m_pErr, "varnel-batch: %d of %zu inputs failed: %s\n", nFailed, m_jobs.size(),
                     strFailed.c_str());
    }
    if (*m_pInterrupted != 0) return 128 + static_cast<int>(*m_pInterrupted);
    return nFailed > 0 || !bTable ? 1 : 0;
}

void CBatchQueue::ProbeExpectedFrames() {
    CoInitialize(nullptr);
    wmf::SetStillImageRate(m_options.bInputRateAuto ? varnel::kDefaultInputRate
                                                    : m_options.dInputRate);
    CMediaReader reader;
    for (Job& job : m_jobs) {
        if (job.state != State::kWaiting || *m_pInterrupted != 0) continue;
        if (SUCCEEDED(reader.OpenByName(job.files.strInput.c_str()))) {
            job.nProbedFrames = reader.GetExpectedFrameCount();
        }
    }
    reader.Close();
}

void CBatchQueue::Start(Job& job) {
    int errPipe[2] = {-1, -1};
    int progressPipe[2] = {-1, -1};
    if (::pipe2(errPipe, O_CLOEXEC) != 0 || ::pipe2(progressPipe, O_CLOEXEC) != 0) {
        const int nError = errno;
        for (int nFd : {errPipe[0], errPipe[1], progressPipe[0], progressPipe[1]}) CloseFd(nFd);
        std::fprintf(m_pErr, "varnel-batch: could not start the run of %s: %s\n",
                     QuotedName(job.files.strInput).c_str(), std::strerror(nError));
        job.state = State::kFailed;
        return;
    }
    std::vector<std::string> args = SingleRunArguments(m_options, job.files, kChildProgressFd);
    args.insert(args.begin(), "varnel-batch");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_adddup2(&actions, progressPipe[1], kChildProgressFd);
    pid_t pid = -1;
    const int nError = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errPipe[1]);
    ::close(progressPipe[1]);
    if (nError != 0) {
        ::close(errPipe[0]);
        ::close(progressPipe[0]);
        std::fprintf(m_pErr, "varnel-batch: could not start the run of %s: %s\n",
                     QuotedName(job.files.strInput).c_str(), std::strerror(nError));
        job.state = State::kFailed;
        return;
    }
    ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(progressPipe[0], F_SETFL, O_NONBLOCK);
    job.pid = pid;
    job.nErrFd = errPipe[0];
    job.nProgressFd = progressPipe[0];
    job.start = std::chrono::steady_clock::now();
    job.state = State::kRunning;
}

void CBatchQueue::Pump(int nTimeoutMs) {
    std::vector<pollfd> fds;
    std::vector<Job*> owners;
    for (Job& job : m_jobs) {
        for (int nFd : {job.nErrFd, job.nProgressFd}) {
            if (nFd < 0) continue;
            fds.push_back({nFd, POLLIN, 0});
            owners.push_back(&job);
        }
    }
    if (::poll(fds.data(), fds.size(), nTimeoutMs) <= 0) return;  // a signal or nothing new
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        Job& job = *owners[i];
        std::string strText;
        const bool bOpen = ReadAvailable(fds[i].fd, &strText);
        if (fds[i].fd == job.nErrFd) {
            TakeErr(job, strText, !bOpen);
            if (!bOpen) CloseFd(job.nErrFd);
        } else {
            job.strProgressPending += strText;
            for (size_t nEnd; (nEnd = job.strProgressPending.find('\n')) != std::string::npos;) {
                job.progress.Take(job.strProgressPending.substr(0, nEnd));
                job.strProgressPending.erase(0, nEnd + 1);
            }
            if (!bOpen) CloseFd(job.nProgressFd);
        }
        if (job.nErrFd < 0 && job.nProgressFd < 0) Reap(job);
    }
}

void CBatchQueue::TakeErr(Job& job, const std::string& strText, bool bEnd) {
    job.strErrPending += strText;
    const size_t nLast = job.strErrPending.rfind('\n');
    std::string strLines;
    if (bEnd) {
        strLines = job.strErrPending;
        if (!strLines.empty() && strLines.back() != '\n') strLines += '\n';
        job.strErrPending.clear();
    } else if (nLast != std::string::npos) {
        strLines = job.strErrPending.substr(0, nLast + 1);
        job.strErrPending.erase(0, nLast + 1);
    }
    if (strLines.empty()) return;
    // Above the progress bar, which the next update draws again.
    if (m_pProgress != nullptr) m_pProgress->Finish();
    std::fputs(strLines.c_str(), m_pErr);
    std::fflush(m_pErr);
}

void CBatchQueue::Reap(Job& job) {
    int nStatus = 0;
    while (::waitpid(job.pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    job.dWallTime =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - job.start).count();
    const bool bSignalled = WIFSIGNALED(nStatus);
    const int nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    if (nExit == 0 && job.progress.bDone) {
        job.state = State::kDone;
    } else if ((bSignalled && WTERMSIG(nStatus) == SIGINT) || nExit == 128 + SIGINT ||
               nExit == 128 + SIGTERM || (*m_pInterrupted != 0 && nExit != 1)) {
        job.state = State::kInterrupted;
    } else {
        job.state = State::kFailed;
        // A run that ended without a word (killed, crashed) is named here.
        if (bSignalled) {
            if (m_pProgress != nullptr) m_pProgress->Finish();
            std::fprintf(m_pErr, "varnel-batch: the run of %s ended by signal %d\n",
                         QuotedName(job.files.strInput).c_str(), WTERMSIG(nStatus));
        }
    }
}

bool CBatchQueue::WriteTable() const {
    std::string strTable;
    char szLine[512];
    size_t nWidth = 5;
    for (const Job& job : m_jobs)
        nWidth = std::max(nWidth, PrintableName(job.files.strInput).size());
    nWidth = std::min<size_t>(nWidth, 60);
    std::snprintf(szLine, sizeof szLine, "%-*s  %-11s %8s %10s %9s\n", static_cast<int>(nWidth),
                  "input", "status", "frames", "output s", "wall s");
    strTable += szLine;
    int nDone = 0, nFailed = 0, nSkipped = 0, nOther = 0, nFrames = 0;
    double dOutput = 0.0;
    for (const Job& job : m_jobs) {
        const char* pszState = "not started";
        switch (job.state) {
            case State::kDone:
                pszState = "done";
                ++nDone;
                break;
            case State::kFailed:
                pszState = "failed";
                ++nFailed;
                break;
            case State::kSkipped:
                pszState = "skipped";
                ++nSkipped;
                break;
            case State::kInterrupted:
                pszState = "interrupted";
                ++nOther;
                break;
            default:
                ++nOther;
                break;
        }
        const std::string strName = PrintableName(job.files.strInput);
        if (job.state == State::kDone) {
            nFrames += job.progress.summary.nFramesRead;
            dOutput += job.progress.summary.dOutputDuration;
            std::snprintf(szLine, sizeof szLine, "%-*s  %-11s %8d %10.3f %9.2f\n",
                          static_cast<int>(nWidth), strName.c_str(), pszState,
                          job.progress.summary.nFramesRead, job.progress.summary.dOutputDuration,
                          job.dWallTime);
        } else {
            std::snprintf(szLine, sizeof szLine, "%-*s  %-11s %8s %10s %9s\n",
                          static_cast<int>(nWidth), strName.c_str(), pszState, "-", "-", "-");
        }
        strTable += szLine;
    }
    std::snprintf(szLine, sizeof szLine,
                  "total: %zu inputs, %d done, %d failed, %d skipped, %d not finished; %d frames "
                  "read, %.3f s of output\n",
                  m_jobs.size(), nDone, nFailed, nSkipped, nOther, nFrames, dOutput);
    strTable += szLine;
    return std::fputs(strTable.c_str(), m_pOut) != EOF && std::fflush(m_pOut) == 0;
}
