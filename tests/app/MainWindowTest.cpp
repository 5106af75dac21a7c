// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the user meets it: the two file names committed by leaving their boxes or
// by "Browse...", the sliders and switches reaching the processor, and closing.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>

#include "tests/app/MainWindowFixture.h"
#include "ui/NumberText.h"

TEST_F(MainWindowTest, LeavingTheInputBoxOpensItNotEnterAndLeavingItUnchangedOpensItAgain) {
    Click(IDC_NEXT);  // without an input, as at its end: the counter moves, nothing else
    EXPECT_TRUE(Text(IDC_BEFORE).isEmpty());
    EXPECT_EQ(PictureSize(), QSize(256, 256));  // the test pattern
    CEditBox* pInput = Edit(IDC_INPUT_NAME);
    pInput->setFocus(Qt::MouseFocusReason);
    pInput->insert(PathText(GreyClip()));
    QTest::keyClick(pInput, Qt::Key_Return);
    EXPECT_TRUE(m_pDlg->isVisible());
    EXPECT_FALSE(ProfileSaved());
    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(ProfileSaved());
    Click(IDC_NEXT, 3);
    std::filesystem::remove(m_workDir.Path() / "lastprofile.xml");
    pInput->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pInput, Qt::Key_Tab);
    EXPECT_TRUE(ProfileSaved());
    Click(IDC_NEXT);  // the counter started again at 0
    EXPECT_EQ(Text(IDC_FRAME_NUMBER), "1");
}

TEST_F(MainWindowTest, BrowsePutsTheNameInTheBoxAndCommitsItOrOnCancelDoesNothing) {
    // Answers the next file dialog: types `name` into it and confirms, or cancels when empty.
    const auto answer = [](const QString& name) {
        WhenOpen<QFileDialog>([name](QFileDialog* pDialog) {
            if (name.isEmpty()) return pDialog->reject();
            pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
            QMetaObject::invokeMethod(pDialog, "accept");  // as the "Open" button does
        });
    };
    answer(QString());
    Click(IDC_BROWSE_INPUT);
    EXPECT_FALSE(ProfileSaved());
    answer(PathText(GreyClip()));
    Click(IDC_BROWSE_INPUT);
    EXPECT_TRUE(ProfileSaved());

    answer(PathText(m_workDir.Path() / "fresh"));
    Click(IDC_BROWSE_OUTPUT);
    EXPECT_EQ(Text(IDC_OUTPUT_NAME), PathText(m_workDir.Path() / "fresh.wmv"));
    Click(IDC_NEXT, 12);  // picks at frames 6, 9 and 12
    m_pDlg->reject();
    EXPECT_EQ(ProbeFrameCount(m_workDir.Path() / "fresh.wmv"), 3);
}

TEST_F(MainWindowTest, ASliderBoxCommitsWhenLeftAndATrackbarRewritesItsBox) {
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QStringLiteral("abc"));  // put back; the span stays
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.60e+02");
    EXPECT_EQ(Text(IDC_BRIGHTNESS_MIN), "1.00e+02");
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QStringLiteral("250"));
    EXPECT_EQ(Text(IDC_BRIGHTNESS_MAX), "2.50e+02");  // the span widened to the value
    auto* pTrackbar = GetDlgItem<CTrackbar>(m_pDlg.get(), IDC_DARKFACTOR_SLIDER);
    pTrackbar->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(pTrackbar, Qt::Key_Down);
    EXPECT_EQ(Text(IDC_DARKFACTOR_VALUE), "9.00e+00");
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "250");  // the other column is left alone
}

// Checked, "Image Manipulation On" brightens the written frames towards "Brightness"; an
// indeterminate check box counts as off. "Show Write" shows the test pattern until a write.
TEST_F(MainWindowTest, ImageManipulationReachesTheProcessorOnlyWhenChecked) {
    OpenGreyClipAndOutput();
    auto* pManipulation = GetDlgItem<QCheckBox>(m_pDlg.get(), IDC_IMAGE_MANIPULATION);
    pManipulation->setTristate(true);
    pManipulation->setCheckState(Qt::PartiallyChecked);
    m_pDlg->OnImageManipulation();
    Click(IDC_SHOW_WRITE);
    Click(IDC_NEXT, 5);
    EXPECT_EQ(PictureSize(), QSize(256, 256));
    Click(IDC_NEXT);
    EXPECT_EQ(PictureSize(), QSize(64, 48));
    EXPECT_EQ(Text(IDC_AFTER), "0.000000e+00");
    pManipulation->setCheckState(Qt::Checked);
    m_pDlg->OnImageManipulation();
    Click(IDC_NEXT, 3);
    EXPECT_GT(ReadNumber(Text(IDC_AFTER)), 140.0);
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(Output()));  // left again: the file is finished
    EXPECT_EQ(ProbeFrameCount(Output()), 2);
}

TEST_F(MainWindowTest, FollowTheSceneShowsTheLocalTargetInTheBrightnessBoxUntilCleared) {
    OpenGreyClipAndOutput();
    Click(IDC_FOLLOW_SCENE);
    Click(IDC_NEXT, 3);
    // Every frame of the grey clip is 128, and so is the scene's target.
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.28e+02");
    EXPECT_TRUE(Edit(IDC_BRIGHTNESS_VALUE)->isReadOnly());
    TypeAndLeave(IDC_BRIGHTNESS_VALUE, QString());  // leaving the box adopts no level
    Click(IDC_FOLLOW_SCENE);
    EXPECT_EQ(Text(IDC_BRIGHTNESS_VALUE), "1.60e+02");
    EXPECT_FALSE(Edit(IDC_BRIGHTNESS_VALUE)->isReadOnly());
}

// Closing must not commit the box with the focus, though hiding the window takes the focus
// from it: the input box would open the clip again and save its profile, the output box would
// begin another file.
TEST_F(MainWindowTest, ClosingOrDestroyingTheWindowWhileABoxHasTheFocusCommitsNothing) {
    for (int nBox : {IDC_INPUT_NAME, IDC_OUTPUT_NAME}) {
        SCOPED_TRACE(nBox);
        if (m_pDlg == nullptr) OpenWindow();
        OpenGreyClipAndOutput();
        Click(IDC_NEXT, 6);  // the first window: frame 1 is queued for writing
        Edit(nBox)->setFocus(Qt::MouseFocusReason);
        if (nBox == IDC_OUTPUT_NAME) Edit(nBox)->setText(PathText(m_workDir.Path() / "other.wmv"));
        std::filesystem::remove(m_workDir.Path() / "lastprofile.xml");
        if (nBox == IDC_OUTPUT_NAME) {
            QTest::keyClick(Edit(nBox), Qt::Key_Escape);
            EXPECT_FALSE(m_pDlg->isVisible());
        }
        m_pDlg.reset();
        EXPECT_FALSE(ProfileSaved());
        EXPECT_FALSE(std::filesystem::exists(m_workDir.Path() / "other.wmv"));
        EXPECT_EQ(ProbeFrameCount(Output()), 1);
        std::filesystem::remove(Output());
    }
}

// The first pts of a file's first video frame, in seconds; -1 when there is none.
static double FirstFrameTime(const std::filesystem::path& file) {
    const std::string text = varnel_test::RunCommand(
        "ffprobe -v error -select_streams v -show_entries frame=pts_time -read_intervals %+#1 "
        "-of csv=p=0 " +
        varnel_test::Quoted(file));
    return text.empty() ? -1.0 : std::stod(text);
}

// An output that ends without a picture is dropped: the file of its name stays as it was. Each
// output of a session starts at its own first frame, and failures show on the status line.
TEST_F(MainWindowTest, NoFileIsReplacedByNothingEachStartsAtZeroAndFailuresShow) {
    const std::filesystem::path kept = m_workDir.Path() / "kept.wmv";
    const std::filesystem::path second = m_workDir.Path() / "second.wmv";
    varnel_test::WriteFile(kept, "precious");
    TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(kept));
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(Output()));
    EXPECT_EQ(varnel_test::ReadFile(kept), "precious");
    TypeAndLeave(IDC_FRAME_NUMBER, QStringLiteral("1e9"));
    Click(IDC_NEXT);
    EXPECT_FALSE(std::filesystem::exists(Output()));
    EXPECT_EQ(Text(IDC_STATUS),
              "Finished: no picture written; " + PathText(Output()) + " left as it was");

    TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));  // writing begins again
    Click(IDC_NEXT, kGreyFrames + 1);
    const std::string first = varnel_test::ReadFile(Output());
    TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(second));
    Click(IDC_NEXT, kGreyFrames + 1);
    EXPECT_EQ(varnel_test::ReadFile(Output()), first);
    EXPECT_GE(ProbeFrameCount(second), 19);  // the processor's queue ran on from the first
    EXPECT_NEAR(FirstFrameTime(second), 0.033, 0.0005);  // milliseconds in ASF

    const std::filesystem::path text = m_workDir.Path() / "notes.txt";
    varnel_test::WriteFile(text, "not a video");
    const struct {
        int nBox;
        QString name;
        QString status;
    } failures[] = {
        {IDC_OUTPUT_NAME, "/proc/x.mp4", ": "},  // access denied, or not found for root
        {IDC_OUTPUT_NAME, "/no/such/folder/x.wmv", ": NS_E_FILE_NOT_FOUND (0xC00D001A)"},
        {IDC_OUTPUT_NAME, PathText(GreyClip()), ": sharing violation (0x80070020)"},
        {IDC_INPUT_NAME, PathText(text), ": NS_E_INVALID_INPUT_FORMAT (0xC00D0BB8)"},
        {IDC_INPUT_NAME, "missing.wmv", ": NS_E_FILE_NOT_FOUND (0xC00D001A)"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.name.toStdString());
        TypeAndLeave(f.nBox, f.name);
        const QString expected = (f.nBox == IDC_INPUT_NAME ? "Could not open input file "
                                                           : "Could not begin writing file ") +
                                 f.name + f.status;
        EXPECT_TRUE(Text(IDC_STATUS).startsWith(expected)) << Text(IDC_STATUS).toStdString();
        const QString shown = Text(IDC_STATUS);
        Click(IDC_NEXT, 2);  // the stepping shows no progress over the failure
        EXPECT_EQ(Text(IDC_STATUS), shown);
    }
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(second));
    TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));  // all well again
    EXPECT_EQ(Text(IDC_STATUS), "");
    m_pDlg.reset();  // the output ends with no picture
    EXPECT_GE(ProbeFrameCount(second), 19);
}
