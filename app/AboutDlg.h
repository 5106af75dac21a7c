// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg: the About box.
#pragma once

#include "app/TemplateDlg.h"

// Shows the About template with the last status recorded through RecordLastError beside
// "Last Error: " ("access denied (0x80070005)"), or "(None)" when none has been. It has no state
// and no handlers of its own; "OK" and Escape close it. Each opening constructs a new box, run
// modally and destroyed when it closes.
class CAboutDlg : public CTemplateDlg {
    Q_OBJECT
  public:
    CAboutDlg();

  protected:
    bool OnInitDialog() override;
};
