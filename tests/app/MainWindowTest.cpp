// The main window as the user meets it: the state it opens in, the two file names committed by
// leaving their boxes or by "Browse...", the sliders and switches reaching the processor, and
// closing.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>

#include "res/resource.h"
#include "tests/app/MainWindowFixture.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/NumberText.h"

namespace {

// Answers the next file dialog: types `name` into it and confirms, or cancels when name is empty.
void AnswerFileDialog(const QString& name) {
    WhenOpen<QFileDialog>([name](QFileDialog* pDialog) {
        if (name.isEmpty()) return pDialog->reject();
        auto* pNameBox = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(pNameBox, nullptr);
        pNameBox->setText(name);
        QMetaObject::invokeMethod(pDialog, "accept");  // as the "Open" button does
    });
}

}  // namespace

TEST_F(MainWindowTest, OpensOnTheTestPatternWithShowReadAndTheFocusOnInnocuousAndNextFails) {
    for (int nId : {IDC_FRAME_NUMBER, IDC_FRAME_TIME, IDC_BEFORE, IDC_AFTER, IDC_DARK}) {
        EXPECT_TRUE(Text(nId).isEmpty()) << nId;
    }
    EXPECT_TRUE(Button(IDC_SHOW_READ)->isChecked());
    EXPECT_FALSE(Button(IDC_SHOW_WRITE)->isChecked());
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.60e+02");
    EXPECT_EQ(PictureSize(), QSize(256, 256));
    EXPECT_FALSE(m_pDlg->windowIcon().isNull());
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(GetDlgCtrlID(QApplication::focusWidget()), IDC_INNOCUOUS);
    ClickNext(1);  // without an input: fails like the end of the input
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
    EXPECT_TRUE(Text(IDC_BEFORE).isEmpty());
    EXPECT_EQ(PictureSize(), QSize(256, 256));
}

TEST_F(MainWindowTest, LeavingTheInputBoxOpensItNotEnterAndLeavingItUnchangedOpensItAgain) {
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    pInput->insert(PathText(GreyClip()));  // typed, accents included
    QTest::keyClick(pInput, Qt::Key_Return);
    EXPECT_TRUE(m_pDlg->isVisible());
    EXPECT_FALSE(ProfileSaved());
    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(ProfileSaved());
    ClickNext(3);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "3");

    std::filesystem::remove(m_workDir / "lastprofile.xml");
    pInput->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(ProfileSaved());
    ClickNext(1);  // the counter started again at 0
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
}

TEST_F(MainWindowTest, LeavingTheOutputBoxAgainEndsTheFileAndEscapeBeginsNoOther) {
    OpenGreyClipAndOutput();
    ClickNext(6);  // the first window: frame 1 is written
    EXPECT_EQ(Written(Output()), -1);
    Edit(IDC_OUTPUT_NAME)->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(Edit(IDC_OUTPUT_NAME), Qt::Key_Tab);
    EXPECT_EQ(Written(Output()), 1);

    Edit(IDC_OUTPUT_NAME)->setFocus(Qt::MouseFocusReason);
    Edit(IDC_OUTPUT_NAME)->setText(PathText(m_workDir / "other.wmv"));
    QTest::keyClick(Edit(IDC_OUTPUT_NAME), Qt::Key_Escape);
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "other.wmv"));
}

TEST_F(MainWindowTest, BrowsePutsTheNameInTheBoxAndCommitsItOrOnCancelDoesNothing) {
    Edit(IDC_INPUT_NAME)->setText(QStringLiteral("typed.wmv"));
    AnswerFileDialog(QString());
    Click(IDC_BROWSE_INPUT);
    EXPECT_EQ(Text(IDC_INPUT_NAME), "typed.wmv");
    EXPECT_FALSE(ProfileSaved());
    AnswerFileDialog(PathText(GreyClip()));
    Click(IDC_BROWSE_INPUT);
    EXPECT_EQ(Text(IDC_INPUT_NAME), PathText(GreyClip()));
    EXPECT_TRUE(ProfileSaved());

    AnswerFileDialog(PathText(m_workDir / "fresh"));
    Click(IDC_BROWSE_OUTPUT);
    EXPECT_EQ(Text(IDC_OUTPUT_NAME), PathText(m_workDir / "fresh.wmv"));
    ClickNext(12);  // picks at frames 6, 9 and 12
    m_pDlg->reject();
    EXPECT_EQ(Written(m_workDir / "fresh.wmv"), 3);
}

TEST_F(MainWindowTest, ASliderBoxCommitsWhenLeftAndATrackbarRewritesItsBox) {
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QStringLiteral("250"));
    EXPECT_EQ(Text(IDC_BRIGHTNESS_MAX), "2.50e+02");  // the span widened to the value
    auto* pTrackbar = GetDlgItem<CTrackbar>(m_pDlg.get(), IDC_DARKFACTOR_SLIDER);
    pTrackbar->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pTrackbar, Qt::Key_Down);
    EXPECT_EQ(Text(IDC_DARKFACTOR_VALUE), "9.00e+00");
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "250");  // the other column is left alone
}

// Checked, "Image Manipulation On" brightens the written frames towards "Brightness"; an
// indeterminate check box counts as off.
TEST_F(MainWindowTest, ImageManipulationReachesTheProcessorOnlyWhenChecked) {
    OpenGreyClipAndOutput();
    auto* pManipulation = qobject_cast<QCheckBox*>(Button(IDC_IMAGE_MANIPULATION));
    pManipulation->setTristate(true);
    pManipulation->setCheckState(Qt::PartiallyChecked);
    m_pDlg->OnImageManipulation();
    Click(IDC_SHOW_WRITE);
    EXPECT_FALSE(Button(IDC_SHOW_READ)->isChecked());
    ClickNext(5);
    EXPECT_EQ(PictureSize(), QSize(256, 256));  // nothing written yet
    ClickNext(1);
    EXPECT_EQ(PictureSize(), QSize(64, 48));
    EXPECT_EQ(Text(IDC_AFTER), "0.000000e+00");
    pManipulation->setCheckState(Qt::Checked);
    m_pDlg->OnImageManipulation();
    ClickNext(3);
    EXPECT_GT(ReadNumber(Text(IDC_AFTER)), 140.0);
}

TEST_F(MainWindowTest, FollowTheSceneShowsTheLocalTargetInTheBrightnessBoxUntilCleared) {
    OpenGreyClipAndOutput();
    Click(IDC_FOLLOW_SCENE);
    ClickNext(3);
    // Every frame of the grey clip is 128, and so is the scene's target.
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.28e+02");
    auto* pTrackbar = GetDlgItem<CTrackbar>(m_pDlg.get(), IDC_BRIGHTNESS_SLIDER);
    EXPECT_FALSE(pTrackbar->isEnabled());
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QString());  // leaving the box adopts no level
    Click(IDC_FOLLOW_SCENE);
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.60e+02");
    EXPECT_TRUE(pTrackbar->isEnabled());
    EXPECT_FALSE(Edit(IDC_BRIGHTNESS_VALUE)->isReadOnly());
}

TEST_F(MainWindowTest, DestroyingTheWindowWhileABoxHasTheFocusCommitsNothing) {
    OpenGreyClipAndOutput();
    ClickNext(6);
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    pInput->setText(QStringLiteral("elsewhere.wmv"));
    std::filesystem::remove(m_workDir / "lastprofile.xml");
    m_pDlg.reset();
    EXPECT_FALSE(ProfileSaved());
    EXPECT_EQ(Written(Output()), 1);
}
