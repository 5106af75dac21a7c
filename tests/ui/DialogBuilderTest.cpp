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

class MainDialogTemplateTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(CDialogBuilder::Build(&m_dialog, IDD_VARNEL_DIALOG)); }

    QDialog m_dialog;
};

// The window binds most controls by id and class as it opens and fails loudly on a missing one;
// the buttons below it finds by id alone, with Exit and the default button. No id but the
// labels' is given twice.
TEST_F(MainDialogTemplateTest, EveryControlTheCodeFindsByIdExistsOnce) {
    std::set<int> ids;
    for (QWidget* pControl : GetDlgItems(&m_dialog)) {
        const int nId = GetDlgCtrlID(pControl);
        EXPECT_TRUE(nId == IDC_STATIC || ids.insert(nId).second) << "id " << nId << " twice";
    }
    for (int nId : {IDOK, IDC_INNOCUOUS, IDC_BROWSE_INPUT, IDC_BROWSE_OUTPUT, IDC_NEXT,
                    IDC_FREEPLAY, IDC_SKIP100, IDC_IMAGE_MANIPULATION, IDC_MARK_MIN_PIXEL,
                    IDC_FOLLOW_SCENE, IDC_SHOW_WRITE, IDC_SHOW_READ}) {
        EXPECT_NE(GetDlgItem<QAbstractButton>(&m_dialog, nId), nullptr) << nId;
    }
}

// Every control lies inside the fixed client area and shows its whole caption; an unknown
// template builds nothing.
TEST(DialogFitTest, EveryControlAndItsCaptionFitInTheDialogAndUnknownIdsBuildNothing) {
    for (int nTemplate : {IDD_VARNEL_DIALOG, IDD_ABOUTBOX}) {
        QDialog dialog;
        ASSERT_TRUE(CDialogBuilder::Build(&dialog, nTemplate));
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << nTemplate;
        const QRect client(QPoint(0, 0), dialog.minimumSize());
        for (QWidget* pControl : GetDlgItems(&dialog)) {
            const QString caption = pControl->property("text").toString().remove('&');
            SCOPED_TRACE(testing::Message() << nTemplate << " " << GetDlgCtrlID(pControl) << " \""
                                            << caption.toStdString() << "\"");
            EXPECT_TRUE(client.contains(pControl->geometry()));
            if (caption.isEmpty()) continue;
            EXPECT_LE(pControl->fontMetrics().height(), pControl->height());
            if (qobject_cast<QAbstractButton*>(pControl) != nullptr) {
                EXPECT_LE(pControl->sizeHint().width(), pControl->width());
            } else {
                EXPECT_LE(pControl->fontMetrics().horizontalAdvance(caption), pControl->width());
            }
        }
    }
    QDialog unknown;
    EXPECT_FALSE(CDialogBuilder::Build(&unknown, 4242));
    EXPECT_TRUE(GetDlgItems(&unknown).isEmpty());
}

TEST_F(MainDialogTemplateTest, TabVisitsTheTabStopsInTemplateOrderFromTheFirst) {
    m_dialog.show();
    m_dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
    std::vector<int> expected;
    for (const ControlTemplate& control : FindDialogTemplate(IDD_VARNEL_DIALOG)->controls) {
        if (control.dwStyle & WS_TABSTOP) expected.push_back(control.nId);
    }
    expected.push_back(expected.front());  // and round again
    std::vector<int> visited;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        visited.push_back(GetDlgCtrlID(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);
}
