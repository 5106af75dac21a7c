// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AboutDlg.h"

#include <QLabel>

#include "common/LastError.h"
#include "common/StatusText.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"

CAboutDlg::CAboutDlg() : CTemplateDlg(IDD_ABOUTBOX) {}

bool CAboutDlg::OnInitDialog() {
    const bool bFocus = CTemplateDlg::OnInitDialog();
    if (auto* pLastError = GetDlgItem<QLabel>(this, IDC_LAST_ERROR); pLastError != nullptr) {
        if (g_lastErrorCode != S_OK) {
            pLastError->setText(QString::fromStdString(DescribeStatus(g_lastErrorCode)));
        }
    }
    return bFocus;
}
