// The dialog templates built into widgets: every control with its id, class, caption and
// geometry, the tab order, the default button, radio groups, trackbars and the About box.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include <gtest/gtest.h>

#include "res/DialogTemplate.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

namespace {

// One control as the main dialog must have it: id, class, caption, x, y, width, height in
// dialog units, and whether Tab reaches it.
struct ExpectedControl {
    int nId;
    const char* pszClass;
    const char* pszCaption;
    int x, y, cx, cy;
    bool bTabStop;
};

// clang-format off
const std::vector<ExpectedControl> kMainDialog = {
    {1028, "QPushButton",      "Innocuous",                 70, 389,  50,  14, true},
    {1,    "QPushButton",      "Exit",                       7, 389,  50,  14, true},
    {1000, "CBitmapStatic",    "",                         151,  93,  15,  13, false},
    {1001, "CEditBox",         "",                          83,  19, 198,  14, true},
    {-1,   "QLabel",           "Input File Name:",          29,  23,  52,   8, false},
    {1002, "CEditBox",         "",                          83,  41, 203,  14, true},
    {1003, "QPushButton",      "Browse...",                293,  20,  50,  14, true},
    {1004, "QPushButton",      "Browse...",                295,  43,  50,  14, true},
    {-1,   "QLabel",           "Output File Name:",         20,  44,  58,   8, false},
    {1005, "QPushButton",      "< Prev",                   353,  20,  50,  14, true},
    {1006, "QPushButton",      "Next >",                   410,  21,  50,  14, true},
    {1007, "CEditBox",         "",                         359,  39,  40,  14, true},
    {-1,   "QLabel",           "Frame #",                  365,  56,  27,   8, false},
    {1008, "CEditBox",         "",                         406,  39,  56,  14, true},
    {-1,   "QLabel",           "Frame Time",               411,  58,  38,   8, false},
    {1010, "QPushButton",      "FreePlay",                 470,  21,  50,  14, true},
    {1012, "QCheckBox",        "Image Manipulation On",     21,  70,  89,  10, true},
    {1013, "CEditBox",         "",                          43, 114,  82,  14, true},
    {-1,   "QLabel",           "Brightness:",               59, 102,  36,   8, false},
    {1014, "QPushButton",      "Skip 100",                 469,  41,  50,  14, true},
    {1015, "CTrackbar",        "",                          15, 193,  19, 120, true},
    {1016, "CEditBox",         "",                           7, 178,  40,  14, true},
    {1018, "CEditBox",         "",                           7, 314,  40,  14, true},
    {1019, "CEditBox",         "",                           7, 335,  40,  14, true},
    {1017, "CTrackbar",        "",                          66, 193,  19, 120, true},
    {1020, "CEditBox",         "",                          58, 178,  40,  14, true},
    {1021, "CEditBox",         "",                          58, 314,  40,  14, true},
    {1022, "CEditBox",         "",                          58, 335,  40,  14, true},
    {1023, "CTrackbar",        "",                         110, 193,  19, 120, true},
    {1024, "CEditBox",         "",                         102, 178,  40,  14, true},
    {1025, "CEditBox",         "",                         102, 315,  40,  14, true},
    {1026, "CEditBox",         "",                         102, 335,  40,  14, true},
    {-1,   "QLabel",           "Before:",                    7, 117,  24,   8, false},
    {1027, "CEditBox",         "",                          43, 129,  82,  14, true},
    {-1,   "QLabel",           "After:",                     7, 132,  18,   8, false},
    {-1,   "QLabel",           "Brightness",                 7, 167,  34,   8, false},
    {-1,   "QLabel",           "Min. Pixval",               61, 167,  35,   8, false},
    {-1,   "QLabel",           "Dark Factor",              103, 167,  38,   8, false},
    {1029, "CEditBox",         "",                          43, 145,  82,  14, true},
    {-1,   "QLabel",           "% Dark:",                    7, 148,  26,   8, false},
    {1030, "CAutoRadioButton", "Show Write",               535,  24,  53,  10, false},
    {1031, "CAutoRadioButton", "Show Read",                535,  38,  53,  10, false},
    {1032, "QCheckBox",        "Mark Min Pixel crossings",  19,  85,  93,  10, true},
    {1033, "QCheckBox",        "Follow the Scene",          19,  95,  93,   9, true},
};
// clang-format on

QString CaptionOf(const QWidget* pControl) {
    if (auto* pButton = qobject_cast<const QAbstractButton*>(pControl)) {
        return pButton->text();
    }
    if (auto* pLabel = qobject_cast<const QLabel*>(pControl)) {
        return pLabel->text();
    }
    if (auto* pEdit = qobject_cast<const QLineEdit*>(pControl)) {
        return pEdit->text();
    }
    return QString();
}

QRect Mapped(const QWidget* pDialog, int x, int y, int cx, int cy) {
    return CDialogBuilder::MapDialogRect(QRect(x, y, cx, cy),
                                         CDialogBuilder::BaseUnits(pDialog->font()));
}

}  // namespace

class MainDialogTemplateTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(CDialogBuilder::Build(&m_dialog, IDD_VARNEL_DIALOG)); }

    // Shows the dialog as the active window, so that keys and focus work as for a person.
    void ShowActive() {
        m_dialog.show();
        m_dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
    }

    QDialog m_dialog;
};

TEST_F(MainDialogTemplateTest, EveryControlHasItsIdClassCaptionAndGeometryInTemplateOrder) {
    const QList<QWidget*> controls = GetDlgItems(&m_dialog);
    ASSERT_EQ(controls.size(), static_cast<qsizetype>(kMainDialog.size()));
    for (size_t i = 0; i < kMainDialog.size(); ++i) {
        const ExpectedControl& expected = kMainDialog[i];
        const QWidget* pControl = controls[static_cast<qsizetype>(i)];
        SCOPED_TRACE(testing::Message() << "control " << i << " (" << expected.nId << ")");
        EXPECT_EQ(GetDlgCtrlID(pControl), expected.nId);
        EXPECT_STREQ(pControl->metaObject()->className(), expected.pszClass);
        EXPECT_EQ(CaptionOf(pControl), QString::fromLatin1(expected.pszCaption));
        EXPECT_EQ(pControl->geometry(),
                  Mapped(&m_dialog, expected.x, expected.y, expected.cx, expected.cy));
        EXPECT_EQ((pControl->focusPolicy() & Qt::TabFocus) != 0, expected.bTabStop);
    }
}

TEST_F(MainDialogTemplateTest, ControlsAreFoundByIdWithTheirType) {
    EXPECT_NE(GetDlgItem<QLineEdit>(&m_dialog, IDC_FRAME_NUMBER), nullptr);
    EXPECT_NE(GetDlgItem<CTrackbar>(&m_dialog, IDC_DARKFACTOR_SLIDER), nullptr);
    EXPECT_NE(GetDlgItem<QPushButton>(&m_dialog, IDOK), nullptr);
    // The wrong type, an absent id and the shared label id find nothing.
    EXPECT_EQ(GetDlgItem<QPushButton>(&m_dialog, IDC_INPUT_NAME), nullptr);
    EXPECT_EQ(GetDlgItem<QWidget>(&m_dialog, IDC_LAST_ERROR), nullptr);
    EXPECT_EQ(GetDlgItem<QLabel>(&m_dialog, IDC_STATIC), nullptr);
}

TEST_F(MainDialogTemplateTest, DialogHasItsCaptionAndAFixedSize) {
    EXPECT_EQ(m_dialog.windowTitle(), QStringLiteral("Varnel"));
    const QSize size = Mapped(&m_dialog, 0, 0, 630, 410).size();
    EXPECT_EQ(m_dialog.minimumSize(), size);
    EXPECT_EQ(m_dialog.maximumSize(), size);
    EXPECT_FALSE(m_dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(MainDialogTemplateTest, ReadOnlyBoxesAreTheThreeReadouts) {
    for (const ExpectedControl& expected : kMainDialog) {
        if (auto* pEdit = GetDlgItem<QLineEdit>(&m_dialog, expected.nId)) {
            const bool bReadout =
                expected.nId == IDC_BEFORE || expected.nId == IDC_AFTER || expected.nId == IDC_DARK;
            EXPECT_EQ(pEdit->isReadOnly(), bReadout) << expected.nId;
            EXPECT_TRUE(pEdit->hasFrame()) << expected.nId;
        }
    }
}

TEST_F(MainDialogTemplateTest, TabVisitsTheTabStopsInTemplateOrder) {
    ShowActive();
    // The first tab stop has the focus when the window opens.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(GetDlgCtrlID(QApplication::focusWidget()), IDC_INNOCUOUS);

    std::vector<int> expectedOrder;
    for (const ExpectedControl& expected : kMainDialog) {
        if (expected.bTabStop) {
            expectedOrder.push_back(expected.nId);
        }
    }
    expectedOrder.push_back(IDC_INNOCUOUS);  // and round again

    std::vector<int> visited{GetDlgCtrlID(QApplication::focusWidget())};
    for (size_t i = 1; i < expectedOrder.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(GetDlgCtrlID(QApplication::focusWidget()));
    }
    EXPECT_EQ(visited, expectedOrder);
}

TEST_F(MainDialogTemplateTest, EnterClicksTheFocusedPushButtonElseInnocuousAndKeepsTheDialogOpen) {
    ShowActive();
    auto* pInnocuous = GetDlgItem<QPushButton>(&m_dialog, IDC_INNOCUOUS);
    auto* pNext = GetDlgItem<QPushButton>(&m_dialog, IDC_NEXT);
    auto* pInput = GetDlgItem<CEditBox>(&m_dialog, IDC_INPUT_NAME);
    auto* pCheck = GetDlgItem<QCheckBox>(&m_dialog, IDC_IMAGE_MANIPULATION);
    EXPECT_TRUE(pInnocuous->isDefault());
    QSignalSpy clicks(pInnocuous, &QPushButton::clicked);
    QSignalSpy nextClicks(pNext, &QPushButton::clicked);
    QSignalSpy killFocus(pInput, &CEditBox::killFocus);

    pInput->setFocus();
    QTest::keyClicks(pInput, QStringLiteral("clip.wmv"));
    QTest::keyClick(pInput, Qt::Key_Return);
    pCheck->setFocus();
    QTest::keyClick(pCheck, Qt::Key_Enter);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(killFocus.count(), 1);  // leaving the box, not Enter, commits it
    EXPECT_FALSE(pCheck->isChecked());

    pNext->setFocus();
    QTest::keyClick(pNext, Qt::Key_Return);
    EXPECT_EQ(nextClicks.count(), 1);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), 0);
}

TEST_F(MainDialogTemplateTest, ExitAcceptsTheDialog) {
    ShowActive();
    QTest::mouseClick(GetDlgItem<QPushButton>(&m_dialog, IDOK), Qt::LeftButton);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
}

TEST_F(MainDialogTemplateTest, ABoxReportsEveryFocusLossExceptToAPopup) {
    auto* pInput = GetDlgItem<CEditBox>(&m_dialog, IDC_INPUT_NAME);
    QSignalSpy killFocus(pInput, &CEditBox::killFocus);

    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(pInput, &popup);
    EXPECT_EQ(killFocus.count(), 0);

    for (Qt::FocusReason reason :
         {Qt::TabFocusReason, Qt::MouseFocusReason, Qt::ActiveWindowFocusReason}) {
        QFocusEvent focusOut(QEvent::FocusOut, reason);
        QApplication::sendEvent(pInput, &focusOut);
    }
    EXPECT_EQ(killFocus.count(), 3);
}

TEST_F(MainDialogTemplateTest, ShowWriteAndShowReadFormOneAutomaticGroup) {
    auto* pWrite = GetDlgItem<QRadioButton>(&m_dialog, IDC_SHOW_WRITE);
    auto* pRead = GetDlgItem<QRadioButton>(&m_dialog, IDC_SHOW_READ);
    EXPECT_FALSE(pWrite->isChecked() || pRead->isChecked());
    pRead->setChecked(true);
    QTest::mouseClick(pWrite, Qt::LeftButton);
    EXPECT_TRUE(pWrite->isChecked());
    EXPECT_FALSE(pRead->isChecked());
    // A click on the checked button keeps it checked; code may uncheck it.
    QTest::mouseClick(pWrite, Qt::LeftButton);
    EXPECT_TRUE(pWrite->isChecked());
    pWrite->setChecked(false);
    EXPECT_FALSE(pWrite->isChecked() || pRead->isChecked());
}

TEST_F(MainDialogTemplateTest, TrackbarsAreVerticalWithoutTicksAndZeroAtTheTop) {
    ShowActive();
    auto* pTrackbar = GetDlgItem<CTrackbar>(&m_dialog, IDC_BRIGHTNESS_SLIDER);
    EXPECT_EQ(pTrackbar->orientation(), Qt::Vertical);
    EXPECT_EQ(pTrackbar->tickPosition(), QSlider::NoTicks);
    EXPECT_EQ(pTrackbar->minimum(), 0);
    EXPECT_EQ(pTrackbar->maximum(), 100);

    // A click on the groove near the top pages toward 0; Up moves toward 0 as well.
    pTrackbar->setValue(50);
    QTest::mouseClick(pTrackbar, Qt::LeftButton, {}, QPoint(pTrackbar->width() / 2, 1));
    EXPECT_LT(pTrackbar->value(), 50);
    const int nAfterClick = pTrackbar->value();
    pTrackbar->setFocus();
    QTest::keyClick(pTrackbar, Qt::Key_Up);
    EXPECT_EQ(pTrackbar->value(), nAfterClick - 1);
    QTest::mouseClick(pTrackbar, Qt::LeftButton, {},
                      QPoint(pTrackbar->width() / 2, pTrackbar->height() - 2));
    EXPECT_GT(pTrackbar->value(), nAfterClick - 1);
}

TEST_F(MainDialogTemplateTest, UserMovesAreScrollsAndMovesFromCodeUnderABlockerAreNot) {
    auto* pTrackbar = GetDlgItem<CTrackbar>(&m_dialog, IDC_MINPIXVAL_SLIDER);
    QSignalSpy scrolls(pTrackbar, &CTrackbar::scrolled);
    {
        const QSignalBlocker blocker(pTrackbar);
        pTrackbar->setValue(30);
    }
    EXPECT_EQ(scrolls.count(), 0);
    pTrackbar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(scrolls.count(), 1);
    EXPECT_EQ(pTrackbar->value(), 31);
}

TEST(DialogUnitsTest, MapDialogRectRoundsLikeWindows) {
    // MS Sans Serif 8 at 96 dpi has base units 6 x 13 on Windows.
    const QSize baseUnits(6, 13);
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(7, 389, 50, 14), baseUnits),
              QRect(11, 632, 75, 23));  // 10.5 -> 11, 632.1 -> 632, 85.5 -> 86, 654.9 -> 655
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(0, 0, 630, 410), baseUnits),
              QRect(0, 0, 945, 666));
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(1, 1, 1, 1), QSize(4, 8)), QRect(1, 1, 1, 1));
}

TEST(DialogUnitsTest, TheDialogFontIsAnEightPointSansSerifWithSensibleBaseUnits) {
    const QFont font = CDialogBuilder::DialogFont(*FindDialogTemplate(IDD_VARNEL_DIALOG));
    EXPECT_EQ(font.pointSize(), 8);
    const QSize baseUnits = CDialogBuilder::BaseUnits(font);
    EXPECT_GE(baseUnits.width(), 4);
    EXPECT_LE(baseUnits.width(), 9);
    EXPECT_GE(baseUnits.height(), 9);
    EXPECT_LE(baseUnits.height(), 18);
}

class AboutBoxTemplateTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(CDialogBuilder::Build(&m_dialog, IDD_ABOUTBOX)); }

    QDialog m_dialog;
};

TEST_F(AboutBoxTemplateTest, ShowsTheVersionTheIconAndNoneAsLastError) {
    EXPECT_EQ(m_dialog.windowTitle(), QStringLiteral("About Varnel"));
    EXPECT_EQ(m_dialog.minimumSize(), Mapped(&m_dialog, 0, 0, 235, 82).size());

    auto* pLastError = GetDlgItem<QLabel>(&m_dialog, IDC_LAST_ERROR);
    ASSERT_NE(pLastError, nullptr);
    EXPECT_EQ(pLastError->text(), QStringLiteral("(None)"));
    EXPECT_EQ(pLastError->frameShape(), QFrame::Panel);
    EXPECT_EQ(pLastError->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(pLastError->geometry(), Mapped(&m_dialog, 43, 48, 185, 11));

    const QList<QWidget*> controls = GetDlgItems(&m_dialog);
    ASSERT_EQ(controls.size(), 6);
    auto* pIcon = qobject_cast<CBitmapStatic*>(controls[0]);
    ASSERT_NE(pIcon, nullptr);
    EXPECT_FALSE(pIcon->pixmap().isNull());
    EXPECT_EQ(pIcon->geometry(), QRect(Mapped(&m_dialog, 11, 17, 21, 20).topLeft(), QSize(32, 32)));

    auto* pVersion = qobject_cast<QLabel*>(controls[1]);
    ASSERT_NE(pVersion, nullptr);
    EXPECT_EQ(pVersion->text(), QStringLiteral("Varnel Version 1.0"));
    EXPECT_EQ(pVersion->textFormat(), Qt::PlainText);
    EXPECT_EQ(pVersion->buddy(), nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(controls[4])->text(), QStringLiteral("Last Error: "));
}

TEST_F(AboutBoxTemplateTest, OkIsTheDefaultAndClosesTheBox) {
    auto* pOk = GetDlgItem<QPushButton>(&m_dialog, IDOK);
    ASSERT_NE(pOk, nullptr);
    EXPECT_EQ(pOk->text(), QStringLiteral("OK"));
    EXPECT_TRUE(pOk->isDefault());
    m_dialog.show();
    QTest::mouseClick(pOk, Qt::LeftButton);
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(m_dialog.isVisible());
}

TEST(MnemonicTest, AmpersandsMarkMnemonicsExceptWithoutPrefixProcessing) {
    const ControlTemplate controls[] = {
        {-1, ControlKind::Static, "&Name:", 0, 0, 40, 8, WS_GROUP, 0, 0},
        {-1, ControlKind::Static, "Fish & Chips", 0, 10, 40, 8, SS_NOPREFIX | WS_GROUP, 0, 0},
        {10, ControlKind::Edit, nullptr, 0, 20, 40, 14, WS_TABSTOP | WS_BORDER, 0, 0},
        {11, ControlKind::PushButton, "&Go", 0, 40, 40, 14, WS_TABSTOP, 0, 0},
    };
    const DialogTemplate dlgTemplate = {
        999, "Test", 100, 60, "MS Sans Serif", 8, WS_POPUP | WS_CAPTION, 0, controls};
    QDialog dialog;
    CDialogBuilder::Build(&dialog, dlgTemplate);
    const QList<QWidget*> built = GetDlgItems(&dialog);
    ASSERT_EQ(built.size(), 4);

    auto* pName = qobject_cast<QLabel*>(built[0]);
    EXPECT_EQ(pName->buddy(), built[2]);  // the next control that takes the focus
    auto* pChips = qobject_cast<QLabel*>(built[1]);
    EXPECT_EQ(pChips->buddy(), nullptr);
    EXPECT_EQ(pChips->textFormat(), Qt::PlainText);
    EXPECT_EQ(pChips->text(), QStringLiteral("Fish & Chips"));
    auto* pGo = qobject_cast<QPushButton*>(built[3]);
    EXPECT_EQ(pGo->shortcut(), QKeySequence(Qt::ALT | Qt::Key_G));
    // No system menu asked for: no close button either.
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(MnemonicTest, AnUnknownTemplateBuildsNothing) {
    QDialog dialog;
    EXPECT_FALSE(CDialogBuilder::Build(&dialog, 4242));
    EXPECT_TRUE(GetDlgItems(&dialog).isEmpty());
}
