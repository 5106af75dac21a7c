// SPDX-License-Identifier: GPL-3.0-or-later
// CAboutDlg: the About box.
#pragma once

#include "app/TemplateDlg.h"

// Shows the About template unchanged, with "(None)" beside "Last Error: ": the box does not
// read the last-error record. It has no state and no handlers of its own; "OK" and Escape close
// it. Each opening constructs a new box, run modally and destroyed when it closes.
class CAboutDlg : public CTemplateDlg {
    Q_OBJECT
  public:
    CAboutDlg();
};
