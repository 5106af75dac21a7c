// The main window as the user meets it: the state it opens in, the two file names committed by
// leaving their boxes or by "Browse...", the sliders' boxes and trackbars, and closing.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "common/LastError.h"
#include "res/resource.h"
#include "tests/app/MainWindowFixture.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/NumberText.h"

namespace {

// Answers the next file dialog: selects `name` and confirms, or cancels when name is empty.
void AnswerFileDialog(const QString& name) {
    WhenOpen<QFileDialog>([name](QFileDialog* pDialog) {
        if (name.isEmpty()) {
            pDialog->reject();
        } else {
            // Typed into the dialog's file name box.
            auto* pNameBox = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(pNameBox, nullptr);
            pNameBox->setText(name);
            QMetaObject::invokeMethod(pDialog, "accept");  // as the "Open" button does
        }
    });
}

}  // namespace

TEST_F(MainWindowTest, OpensWithEmptyReadoutsShowReadAndTheSliderStartValues) {
    for (int nId : {IDC_FRAME_NUMBER, IDC_FRAME_TIME, IDC_BEFORE, IDC_AFTER, IDC_DARK}) {
        EXPECT_TRUE(Text(nId).isEmpty()) << nId;
    }
    EXPECT_TRUE(Button(IDC_SHOW_READ)->isChecked());
    EXPECT_FALSE(Button(IDC_SHOW_WRITE)->isChecked());
    EXPECT_FALSE(Button(IDC_IMAGE_MANIPULATION)->isChecked());
    EXPECT_FALSE(Button(IDC_MARK_MIN_PIXEL)->isChecked());

    const std::pair<int, const char*> sliderBoxes[] = {
        {IDC_BRIGHTNESS_MAX, "2.00e+02"},   {IDC_BRIGHTNESS_MIN, "1.00e+02"},
        {IDC_BRIGHTNESS_VALUE, "1.60e+02"}, {IDC_MINPIXVAL_MAX, "1.70e+02"},
        {IDC_MINPIXVAL_MIN, "2.00e+01"},    {IDC_MINPIXVAL_VALUE, "1.00e+02"},
        {IDC_DARKFACTOR_MAX, "1.00e+02"},   {IDC_DARKFACTOR_MIN, "0.00e+00"},
        {IDC_DARKFACTOR_VALUE, "1.00e+01"}};
    for (const auto& [nId, pszText] : sliderBoxes) EXPECT_EQ(Text(nId), pszText) << nId;

    EXPECT_TRUE(IsTestPattern(Picture()));
    EXPECT_EQ(m_pDlg->GetFreePlay(), 0);
    EXPECT_FALSE(m_pDlg->IsPlayTimerArmed());
    EXPECT_FALSE(m_pDlg->windowIcon().isNull());
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(GetDlgCtrlID(QApplication::focusWidget()), IDC_INNOCUOUS);
}

TEST_F(MainWindowTest, LeavingTheInputBoxOpensItNotEnterAndLeavingItUnchangedOpensItAgain) {
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(pInput, GreyClipText());
    QTest::keyClick(pInput, Qt::Key_Return);
    EXPECT_TRUE(m_pDlg->isVisible());
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "lastprofile.xml"));

    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(std::filesystem::exists(m_workDir / "lastprofile.xml"));
    ClickNext(1);
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
    EXPECT_FALSE(Text(IDC_BEFORE).isEmpty());
    EXPECT_EQ(Picture().size(), QSize(kGreyWidth, kGreyHeight));

    ClickNext(2);
    std::filesystem::remove(m_workDir / "lastprofile.xml");
    pInput->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(std::filesystem::exists(m_workDir / "lastprofile.xml"));
    ClickNext(1);  // the counter started again at 0
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
}

TEST_F(MainWindowTest, NamesWithAccentsReachTheMediaObjects) {
    const std::filesystem::path accented = m_workDir / "Überblick-é.mkv";
    std::filesystem::copy_file(GreyClip(), accented);
    TypeAndLeave(IDC_INPUT_NAME, QString::fromUtf8(accented.string().c_str()));
    TypeAndLeave(IDC_OUTPUT_NAME, QString::fromUtf8((m_workDir / "Ausgabe-ñ.wmv").c_str()));
    ClickNext(kGreyFrames + 1);
    EXPECT_EQ(ProbeOutput(m_workDir / "Ausgabe-ñ.wmv").nPackets, kGreySamplesWritten);
}

TEST_F(MainWindowTest, LeavingTheOutputBoxAgainEndsTheFileBeingWritten) {
    OpenGreyClipAndOutput();
    ClickNext(6);  // the first window: frame 1 is written
    EXPECT_FALSE(std::filesystem::exists(Output()));

    Edit(IDC_OUTPUT_NAME)->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(Edit(IDC_OUTPUT_NAME), Qt::Key_Tab);
    const ProbedOutput probed = ProbeOutput(Output());
    EXPECT_EQ(probed.nStreams, 1);
    EXPECT_EQ(probed.strCodec, "wmv2");
    EXPECT_EQ(probed.nPackets, 1);
}

TEST_F(MainWindowTest, EscapeInAnEditedOutputBoxClosesWithoutBeginningAnotherFile) {
    OpenGreyClipAndOutput();
    ClickNext(6);
    CEditBox* pOutput = Edit(IDC_OUTPUT_NAME);
    pOutput->setFocus(Qt::MouseFocusReason);
    pOutput->setText(PathText(m_workDir / "other.wmv"));
    QTest::keyClick(pOutput, Qt::Key_Escape);

    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(ProbeOutput(Output()).nPackets, 1);
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "other.wmv"));
}

TEST_F(MainWindowTest, BrowseForTheInputPutsThePathInTheBoxAndOpensItOrOnCancelDoesNothing) {
    Edit(IDC_INPUT_NAME)->setText(QStringLiteral("typed.wmv"));
    AnswerFileDialog(QString());
    Click(IDC_BROWSE_INPUT);
    EXPECT_EQ(Text(IDC_INPUT_NAME), "typed.wmv");
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "lastprofile.xml"));

    AnswerFileDialog(GreyClipText());
    Click(IDC_BROWSE_INPUT);
    EXPECT_EQ(Text(IDC_INPUT_NAME), GreyClipText());
    EXPECT_TRUE(std::filesystem::exists(m_workDir / "lastprofile.xml"));
}

TEST_F(MainWindowTest, BrowseForTheOutputAddsTheExtensionAndClosingTheWindowFinishesTheFile) {
    TypeAndLeave(IDC_INPUT_NAME, GreyClipText());
    AnswerFileDialog(PathText(m_workDir / "fresh"));
    Click(IDC_BROWSE_OUTPUT);
    EXPECT_EQ(Text(IDC_OUTPUT_NAME), PathText(m_workDir / "fresh.wmv"));

    ClickNext(12);  // picks at frames 6, 9 and 12
    m_pDlg->reject();
    EXPECT_FALSE(m_pDlg->isVisible());
    EXPECT_EQ(ProbeOutput(m_workDir / "fresh.wmv").nPackets, 3);
}

TEST_F(MainWindowTest, ASliderBoxCommitsWhenItLosesTheFocusAndATrackbarRewritesItsBox) {
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QStringLiteral("250"));
    // The value widens the span: the maximum box is rewritten and the trackbar goes to the top.
    EXPECT_EQ(Text(IDC_BRIGHTNESS_MAX), "2.50e+02");
    EXPECT_EQ(GetDlgItem<CTrackbar>(m_pDlg.get(), IDC_BRIGHTNESS_SLIDER)->value(), 0);

    auto* pTrackbar = GetDlgItem<CTrackbar>(m_pDlg.get(), IDC_DARKFACTOR_SLIDER);
    pTrackbar->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pTrackbar, Qt::Key_Down);
    EXPECT_EQ(Text(IDC_DARKFACTOR_VALUE), "9.00e+00");
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "250");  // the other column is left alone
}

TEST_F(MainWindowTest, ImageManipulationChangesTheAfterReadoutFromTheNextStep) {
    OpenGreyClipAndOutput();
    ClickNext(5);
    Click(IDC_IMAGE_MANIPULATION);
    ASSERT_TRUE(Button(IDC_IMAGE_MANIPULATION)->isChecked());
    EXPECT_EQ(Text(IDC_AFTER), "0.000000e+00");  // nothing redrawn on the click
    Click(IDC_SHOW_WRITE);
    ASSERT_TRUE(Button(IDC_SHOW_WRITE)->isChecked());
    ClickNext(1);  // frame 1 is picked, brightened towards 160 and written
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

TEST_F(MainWindowTest, AnIndeterminateCheckBoxCountsAsOff) {
    OpenGreyClipAndOutput();
    auto* pManipulation = qobject_cast<QCheckBox*>(Button(IDC_IMAGE_MANIPULATION));
    ASSERT_NE(pManipulation, nullptr);
    pManipulation->setTristate(true);
    pManipulation->setCheckState(Qt::PartiallyChecked);
    m_pDlg->OnImageManipulation();
    Click(IDC_SHOW_WRITE);
    ClickNext(6);
    EXPECT_EQ(Text(IDC_AFTER), "0.000000e+00");
}

TEST_F(MainWindowTest, DestroyingTheWindowWhileABoxHasTheFocusCommitsNothing) {
    OpenGreyClipAndOutput();
    ClickNext(6);
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    pInput->setText(QStringLiteral("elsewhere.wmv"));
    std::filesystem::remove(m_workDir / "lastprofile.xml");

    m_pDlg.reset();
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "lastprofile.xml"));
    EXPECT_EQ(ProbeOutput(Output()).nPackets, 1);
}
