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

    // The last failure on record shows in the About box: deriving from no input.
    TypeAndLeave(IDC_INPUT_NAME, QStringLiteral("no-such-file.wmv"));
    ASSERT_LT(g_lastErrorCode, 0);
    QString lastError;
    WhenOpen<CAboutDlg>([&lastError](CAboutDlg* pAbout) {
        lastError = GetDlgItem<QLabel>(pAbout, IDC_LAST_ERROR)->text();
        QTest::mouseClick(GetDlgItem<QAbstractButton>(pAbout, IDOK), Qt::LeftButton);
    });
    PickFromMenu(QStringLiteral("&About Varnel..."));
    EXPECT_EQ(lastError, "E_POINTER (0x80004003)");
    PickFromMenu(QStringLiteral("&Close"));
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_FALSE(pCurves->isVisible());
}

// "Fit Preview" scales the next frames to the picture area, and the choice outlasts the window.
TEST_F(WindowMenuTest, FitPreviewScalesTheFrameKeepingItsAspectAndIsKept) {
    OpenGreyClipAndOutput();
    PickFromMenu(QStringLiteral("&Fit Preview"));
    Click(IDC_NEXT);
    const QSize fitted = PictureSize();
    EXPECT_GT(fitted.width(), 64 * 5);
    EXPECT_NEAR(fitted.width() * 48.0 / fitted.height(), 64.0, 0.5);
    const QRect rcPicture = GetDlgItem<CBitmapStatic>(m_pDlg.get(), IDC_PICTURE)->geometry();
    EXPECT_LE(rcPicture.bottom(), Edit(IDC_STATUS)->geometry().top());
    EXPECT_LE(rcPicture.right(), m_pDlg->width());
    OpenWindow();
    EXPECT_TRUE(m_pDlg->IsFitPreview());
    m_pDlg->OnSysCommand(CVarnelDlg::kFitPreviewCommand, 0);
    OpenGreyClipAndOutput();
    Click(IDC_NEXT);
    EXPECT_EQ(PictureSize(), QSize(64, 48));
}

// The curves window opens beside the dialog, never over it.
TEST(CurvesPlacementTest, BesideTheOwnerWhereTheScreenAllowsNeverOverIt) {
    const QRect rcScreen(0, 0, 1920, 1080);
    const struct {
        QRect rcOwner;
        QRect rcPlaced;
    } cases[] = {
        {{100, 50, 800, 600}, {900, 50, 900, 520}},   // right
        {{1000, 50, 800, 600}, {100, 50, 900, 520}},  // left
        {{500, 50, 1000, 600}, {0, 50, 500, 520}},    // the wider side, narrowed
        {{0, 100, 1800, 600}, {0, 700, 900, 380}},    // below, shortened
    };
    for (const auto& c : cases) {
        const QRect rc = CCurvesWnd::PlaceBeside(c.rcOwner, QSize(900, 520), rcScreen);
        EXPECT_EQ(rc, c.rcPlaced);
        EXPECT_FALSE(rc.intersects(c.rcOwner));
    }
}
