// SPDX-License-Identifier: GPL-3.0-or-later
// The window menu on the dialog's background: the About box, the brightness curves and closing.
// Every popup and dialog is acted on only once it is on screen (WhenOpen).
#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>

#include "app/AboutDlg.h"
#include "app/CurvesWnd.h"
#include "common/LastError.h"
#include "curves/CurveChart.h"
#include "tests/app/MainWindowFixture.h"

class WindowMenuTest : public MainWindowTest {
  protected:
    // Opens the menu as a right click on the background does and picks the item `item`.
    void PickFromMenu(const QString& item) {
        WhenOpen<QMenu>([item](QMenu* pMenu) {
            for (QAction* pAction : pMenu->actions()) {
                if (pAction->text() == item) pMenu->setActiveAction(pAction);
            }
            QTest::keyClick(pMenu, Qt::Key_Return);
        });
        const QPoint ptLocal(m_pDlg->width() - 10, m_pDlg->height() - 10);
        QContextMenuEvent event(QContextMenuEvent::Mouse, ptLocal, m_pDlg->mapToGlobal(ptLocal));
        QApplication::sendEvent(m_pDlg.get(), &event);
    }
};

TEST_F(WindowMenuTest, ShiftF10OpensTheMenuWithoutCommittingTheBoxWithTheFocus) {
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    pInput->insert(PathText(GreyClip()));  // typed, accents included
    bool bOpened = false;
    WhenOpen<QMenu>([&bOpened](QMenu* pMenu) {
        bOpened = true;
        QTest::keyClick(pMenu, Qt::Key_Escape);  // closed again without a choice
    });
    QTest::keyClick(pInput, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(bOpened);
    EXPECT_FALSE(ProfileSaved());
}

TEST_F(WindowMenuTest, TheItemsOpenTheCurvesAndTheAboutBoxAndCloseClosesThemAll) {
    OpenGreyClipAndOutput();
    PickFromMenu(QStringLiteral("Brightness C&urves..."));
    CCurvesWnd* pCurves = m_pDlg->GetCurvesWnd();
    ASSERT_NE(pCurves, nullptr);
    EXPECT_TRUE(pCurves->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    Click(IDC_NEXT, 10);  // drawn together, a moment later
    ASSERT_TRUE(QTest::qWaitFor([pCurves] { return !pCurves->IsRedrawPending(); }, 5000));
    EXPECT_EQ(pCurves->Chart()->BeforeSeries()->count(), 10);

    // A failure on record does not show in the About box.
    TypeAndLeave(IDC_INPUT_NAME, QStringLiteral("no-such-file.wmv"));
    ASSERT_LT(g_lastErrorCode, 0);
    QString lastError;
    WhenOpen<CAboutDlg>([&lastError](CAboutDlg* pAbout) {
        lastError = GetDlgItem<QLabel>(pAbout, IDC_LAST_ERROR)->text();
        QTest::mouseClick(GetDlgItem<QAbstractButton>(pAbout, IDOK), Qt::LeftButton);
    });
    PickFromMenu(QStringLiteral("&About Varnel..."));
    EXPECT_EQ(lastError, "(None)");
    PickFromMenu(QStringLiteral("&Close"));
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_FALSE(pCurves->isVisible());
}
