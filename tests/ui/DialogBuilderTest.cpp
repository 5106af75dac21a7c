// The dialog templates built into widgets, tested by what the dialog's code and a person meet:
// the controls the code looks up, that everything fits, the tab order, Enter and Exit, and the
// focus loss that commits a box.
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
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

    // Shows the dialog as the active window, so that keys and focus work as for a person.
    void ShowActive() {
        m_dialog.show();
        m_dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
    }

    template <class T>
    T* Item(int nId) {
        return GetDlgItem<T>(&m_dialog, nId);
    }

    QDialog m_dialog;
};

TEST_F(MainDialogTemplateTest, EveryControlTheCodeUsesExistsOnceWithItsClass) {
    const std::pair<const char*, std::vector<int>> kinds[] = {
        {"CEditBox",
         {IDC_INPUT_NAME, IDC_OUTPUT_NAME, IDC_FRAME_NUMBER, IDC_FRAME_TIME, IDC_BEFORE, IDC_AFTER,
          IDC_DARK, IDC_BRIGHTNESS_MAX, IDC_BRIGHTNESS_MIN, IDC_BRIGHTNESS_VALUE, IDC_MINPIXVAL_MAX,
          IDC_MINPIXVAL_MIN, IDC_MINPIXVAL_VALUE, IDC_DARKFACTOR_MAX, IDC_DARKFACTOR_MIN,
          IDC_DARKFACTOR_VALUE}},
        {"QAbstractButton",
         {IDOK, IDC_INNOCUOUS, IDC_BROWSE_INPUT, IDC_BROWSE_OUTPUT, IDC_NEXT, IDC_FREEPLAY,
          IDC_SKIP100, IDC_IMAGE_MANIPULATION, IDC_MARK_MIN_PIXEL, IDC_FOLLOW_SCENE, IDC_SHOW_WRITE,
          IDC_SHOW_READ}},
        {"CTrackbar", {IDC_BRIGHTNESS_SLIDER, IDC_MINPIXVAL_SLIDER, IDC_DARKFACTOR_SLIDER}},
        {"CBitmapStatic", {IDC_PICTURE}},
    };
    std::set<int> ids;
    for (QWidget* pControl : GetDlgItems(&m_dialog)) {
        const int nId = GetDlgCtrlID(pControl);
        EXPECT_TRUE(nId == IDC_STATIC || ids.insert(nId).second) << "id " << nId << " twice";
    }
    for (const auto& [pszClass, idsOfKind] : kinds) {
        for (int nId : idsOfKind) {
            QWidget* pControl = Item<QWidget>(nId);
            ASSERT_NE(pControl, nullptr) << nId;
            EXPECT_TRUE(pControl->inherits(pszClass)) << nId << " is no " << pszClass;
        }
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
    ShowActive();
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

TEST_F(MainDialogTemplateTest, EnterClicksTheFocusedPushButtonElseTheDefaultAndExitAccepts) {
    ShowActive();
    auto* pInnocuous = Item<QPushButton>(IDC_INNOCUOUS);
    auto* pNext = Item<QPushButton>(IDC_NEXT);
    auto* pInput = Item<CEditBox>(IDC_INPUT_NAME);
    auto* pCheck = Item<QCheckBox>(IDC_IMAGE_MANIPULATION);
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

    QTest::mouseClick(Item<QPushButton>(IDOK), Qt::LeftButton);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
}

TEST_F(MainDialogTemplateTest, ABoxReportsEveryFocusLossExceptToAPopup) {
    auto* pInput = Item<CEditBox>(IDC_INPUT_NAME);
    QSignalSpy killFocus(pInput, &CEditBox::killFocus);
    for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::TabFocusReason, Qt::MouseFocusReason,
                                   Qt::ActiveWindowFocusReason}) {
        QFocusEvent focusOut(QEvent::FocusOut, reason);
        QApplication::sendEvent(pInput, &focusOut);
    }
    EXPECT_EQ(killFocus.count(), 3);
}

TEST(DialogUnitsTest, MapDialogRectRoundsLikeWindows) {
    // MS Sans Serif 8 at 96 dpi has base units 6 x 13 on Windows.
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(7, 389, 50, 14), QSize(6, 13)),
              QRect(11, 632, 75, 23));  // 10.5 -> 11, 632.1 -> 632, 85.5 -> 86, 654.9 -> 655
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(1, 1, 1, 1), QSize(4, 8)), QRect(1, 1, 1, 1));
}
