// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog templates built into widgets, tested by what the dialog's code and a person meet:
// the controls the code looks up, that everything fits, and the tab order.
#include <QDialog>
#include <QTest>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "res/DialogTemplate.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

// Every control lies inside the fixed client area, shows its whole caption and has an id of its
// own (labels share theirs). The main window binds most controls by id and class as it opens
// and fails loudly on a missing one; the buttons below it finds by id alone. An unknown template
// builds nothing.
TEST(DialogBuilderTest, EveryControlFitsWithItsCaptionAndTheButtonsTheCodeFindsExist) {
    for (int nTemplate : {IDD_VARNEL_DIALOG, IDD_ABOUTBOX}) {
        QDialog dialog;
        ASSERT_TRUE(CDialogBuilder::Build(&dialog, nTemplate));
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << nTemplate;
        const QRect client(QPoint(0, 0), dialog.minimumSize());
        std::set<int> ids;
        for (QWidget* pControl : GetDlgItems(&dialog)) {
            const int nId = GetDlgCtrlID(pControl);
            const QString caption = pControl->property("text").toString().remove('&');
            SCOPED_TRACE(testing::Message()
                         << nTemplate << " " << nId << " \"" << caption.toStdString() << "\"");
            EXPECT_TRUE(nId == IDC_STATIC || ids.insert(nId).second) << "the id is given twice";
            EXPECT_TRUE(client.contains(pControl->geometry()));
            if (caption.isEmpty()) continue;
            EXPECT_LE(pControl->fontMetrics().height(), pControl->height());
            if (qobject_cast<QAbstractButton*>(pControl) != nullptr) {
                EXPECT_LE(pControl->sizeHint().width(), pControl->width());
            } else {
                EXPECT_LE(pControl->fontMetrics().horizontalAdvance(caption), pControl->width());
            }
        }
        if (nTemplate != IDD_VARNEL_DIALOG) continue;
        for (int nId : {IDOK, IDC_INNOCUOUS, IDC_BROWSE_INPUT, IDC_BROWSE_OUTPUT, IDC_NEXT,
                        IDC_FREEPLAY, IDC_SKIP100, IDC_IMAGE_MANIPULATION, IDC_MARK_MIN_PIXEL,
                        IDC_FOLLOW_SCENE, IDC_SHOW_WRITE, IDC_SHOW_READ}) {
            EXPECT_NE(GetDlgItem<QAbstractButton>(&dialog, nId), nullptr) << nId;
        }
    }
    QDialog unknown;
    EXPECT_FALSE(CDialogBuilder::Build(&unknown, 4242));
    EXPECT_TRUE(GetDlgItems(&unknown).isEmpty());
}

TEST(DialogBuilderTest, TabVisitsTheTabStopsInTemplateOrderFromTheFirst) {
    QDialog dialog;
    ASSERT_TRUE(CDialogBuilder::Build(&dialog, IDD_VARNEL_DIALOG));
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    std::vector<int> expected, visited;
    for (const ControlTemplate& control : FindDialogTemplate(IDD_VARNEL_DIALOG)->controls) {
        if (control.dwStyle & WS_TABSTOP) expected.push_back(control.nId);
    }
    expected.push_back(expected.front());  // and round again
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        visited.push_back(GetDlgCtrlID(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);
}
