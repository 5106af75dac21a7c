// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/BatchJobs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "batch/PrintableName.h"
#include "platform/wmf/ThreadBudget.h"

namespace {

// A double in the shortest form that reads back as the same value.
std::string Exact(double dValue) {
    char szText[32];
    std::snprintf(szText, sizeof szText, "%.17g", dValue);
    return szText;
}

}  // namespace

std::string OutputStem(const std::string& strInput) {
    std::filesystem::path input = std::filesystem::path(strInput).lexically_normal();
    if (input.filename().empty()) input = input.parent_path();  // a folder named with its '/'
    if (std::filesystem::is_directory(input)) {
        const std::string strName = std::filesystem::absolute(input).lexically_normal().filename();
        return strName.empty() ? "root" : strName;
    }
    std::string strStem = input.stem().string();
    if (strInput.find('*') != std::string::npos) {
        std::erase(strStem, '*');
        if (strStem.empty())
            return OutputStem(input.parent_path().empty() ? "." : input.parent_path().string());
    }
    return strStem;
}

std::vector<BatchJob> PlanJobs(const BatchOptions& options, std::string* pProblem) {
    std::string strIgnored;
    if (pProblem == nullptr) pProblem = &strIgnored;
    for (const std::string* pSuffix : {&options.strReport, &options.strPlot}) {
        if (pSuffix->find('/') != std::string::npos) {
            *pProblem =
                "with --output-dir, --report and --plot give suffixes such as .csv and "
                ".png, not " +
                QuotedName(*pSuffix);
            return {};
        }
    }
    std::vector<BatchJob> jobs;
    std::map<std::string, std::string> owners;  // file -> the input that writes it
    const std::filesystem::path dir(options.strOutputDir);
    for (const std::string& strInput : options.inputs) {
        const std::string strBase = (dir / OutputStem(strInput)).string();
        BatchJob job{strInput, strBase + "." + options.strFormat, "", ""};
        if (!options.strReport.empty()) job.strReport = strBase + options.strReport;
        if (!options.strPlot.empty()) job.strPlot = strBase + options.strPlot;
        for (const std::string* pFile : {&job.strOutput, &job.strReport, &job.strPlot}) {
            if (pFile->empty()) continue;
            const auto [it, bNew] = owners.emplace(*pFile, strInput);
            if (!bNew) {
                *pProblem = "inputs " + QuotedName(it->second) + " and " + QuotedName(strInput) +
                            " would both write " + QuotedName(*pFile);
                return {};
            }
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::vector<std::string> SingleRunArguments(const BatchOptions& options, const BatchJob& job,
                                            int nProgressFd) {
    std::vector<std::string> args = {
        "--brightness",  Exact(options.dBrightness),
        "--min-pixval",  Exact(options.dMinPixval),
        "--dark-factor", Exact(options.dDarkFactor),
        "--speedup",     Exact(options.dSpeedup),
        "--input-rate",  options.bInputRateAuto ? "auto" : Exact(options.dInputRate)};
    if (options.bManipulate) args.push_back("--manipulate");
    if (options.bMarkCrossings) args.push_back("--mark-crossings");
    if (options.dDeflicker > 0.0) args.push_back("--deflicker=" + Exact(options.dDeflicker));
    if (options.nQuality >= 0) args.insert(args.end(), {"--crf", std::to_string(options.nQuality)});
    if (options.bBitRate) {
        args.insert(args.end(),
                    {"--bitrate", options.dwBitRate == 0 ? std::string("auto")
                                                         : std::to_string(options.dwBitRate)});
    }
    if (!job.strReport.empty()) args.insert(args.end(), {"--report", job.strReport});
    if (!job.strPlot.empty()) args.insert(args.end(), {"--plot", job.strPlot});
    // Each of the runs at once gets its share of the cores: frame threads beyond the cores cost
    // time in every frame while several runs keep them all busy anyway.
    const int nThreads = std::max(1, wmf::ThreadBudget() / std::max(1, options.nJobs));
    args.insert(args.end(), {"--quiet", "--threads", std::to_string(nThreads), "--progress-fd",
                             std::to_string(nProgressFd), "--", job.strInput, job.strOutput});
    return args;
}
