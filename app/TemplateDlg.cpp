// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TemplateDlg.h"

#include "ui/DialogBuilder.h"

CTemplateDlg::CTemplateDlg(int nTemplateId, QWidget* pParent)
    : QDialog(pParent), m_nTemplateId(nTemplateId), m_bCreated(false) {}

bool CTemplateDlg::Create() {
    if (m_bCreated) return true;
    if (!CDialogBuilder::Build(this, m_nTemplateId)) return false;
    m_bCreated = true;
    if (OnInitDialog()) FocusFirstTabStop();
    return true;
}

int CTemplateDlg::DoModal() {
    Create();
    return exec();
}

bool CTemplateDlg::OnInitDialog() {
    DoDataExchange(false);
    return true;
}

void CTemplateDlg::DoDataExchange(bool /*bSaveAndValidate*/) {}

void CTemplateDlg::FocusFirstTabStop() {
    for (QWidget* pControl : GetDlgItems(this)) {
        if ((pControl->focusPolicy() & Qt::TabFocus) && pControl->isEnabled()) {
            pControl->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}
