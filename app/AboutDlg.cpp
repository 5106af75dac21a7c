// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AboutDlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : CTemplateDlg(IDD_ABOUTBOX) {}
