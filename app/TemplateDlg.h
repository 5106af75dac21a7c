// SPDX-License-Identifier: GPL-3.0-or-later
// CTemplateDlg: a modal dialog made from one of the dialog templates of res/.
#pragma once

#include <QDialog>

// Stands for the framework's dialog class. The object is constructed with a template id; its
// controls come into being only when the window is created (Create, or DoModal which creates
// and then runs it), after which OnInitDialog runs once. When OnInitDialog returns true the
// keyboard focus goes to the first control in tab order that takes it, as the framework does.
//
// The controls are children of the dialog (Qt parent) and die with it. A dialog is created at
// most once: Create and DoModal do nothing more on a second call than show/run it again.
class CTemplateDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CTemplateDlg(int nTemplateId, QWidget* pParent = nullptr);

    // Builds the controls from the template and runs OnInitDialog. Returns false when the
    // template does not exist (the window then has no controls).
    bool Create();
    // Create, then run the window modally; returns QDialog::Accepted ("OK", "Exit") or
    // QDialog::Rejected (Escape, closed by the window's frame).
    int DoModal();

  protected:
    // The window's own start-up; the default binds the controls (DoDataExchange) and asks for
    // the focus on the first tab stop.
    virtual bool OnInitDialog();
    // Binds control members to the controls of the window by id. The default binds nothing.
    virtual void DoDataExchange(bool bSaveAndValidate);

  private:
    void FocusFirstTabStop();

    int m_nTemplateId;
    bool m_bCreated;
};
