// SPDX-License-Identifier: GPL-3.0-or-later
// The --plot picture: the brightness curves of the whole run.
#pragma once

#include <memory>
#include <string>

#include "platform/wmf/StagedFile.h"
#include "platform/wmf/wmsdk.h"

class CCurveData;
struct BatchOptions;

// Stages the picture when the run starts, so that a name that cannot be written fails before
// any frame is read, and draws and commits it when the run has ended: SVG or PNG by the name's
// extension (ParseBatchOptions lets no other through), 1600x900, with the input and output names
// and the options in its title, the input rate the run used (dInputRate), the speed-up and the
// output's quality setting among them. Drawing needs a QApplication; Finish makes one on Qt's
// offscreen platform for the time it draws when the program has none, so no display is needed.
//
// Open and Finish return S_OK or a failure status: those of wmf::CStagedFile, E_FAIL when the
// chart could not be drawn, or the errno status of a failed write. Destruction before Finish
// leaves the named file as it was.
class CPlotWriter {
  public:
    explicit CPlotWriter(std::string strPath);

    HRESULT Open();
    HRESULT Finish(const CCurveData& data, const BatchOptions& options, double dInputRate);

  private:
    std::string m_strPath;
    std::unique_ptr<wmf::CStagedFile> m_pStaged;
};
