// SPDX-License-Identifier: GPL-3.0-or-later
// The fixture of the main-window tests: a CVarnelDlg opened and active on the offscreen
// platform, in a working folder of its own (where "lastprofile.xml" lands), with a grey clip
// made by the ffmpeg command. The clip's and the output's names carry accents, so every test also
// shows that typed names reach the media objects.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/VarnelDlg.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* pOut) { *pOut << text.toStdString(); }

// The frames ffprobe reads from a written file; -1 when there is none.
using varnel_test::ProbeFrameCount;

class MainWindowTest : public ::testing::Test {
  protected:
    // Frames of the grey clip: all equally bright, so the processor picks the first frame of
    // every window and writes frames 1, 4, 7, ... 55 once each, 19 in all.
    static constexpr int kGreyFrames = 60;

    // A lossless clip of kGreyFrames mid-grey (128) 64 x 48 frames at 29.97 per second.
    static const std::filesystem::path& GreyClip() {
        static varnel_test::CTempDir s_clipDir;
        static const std::filesystem::path s_clip = s_clipDir / "Überblick-é.mkv";
        static const bool s_bMade = varnel_test::MakeClip(
            "-f lavfi -i color=c=0x808080:s=64x48:r=30000/1001 -c:v ffv1 -frames:v " +
                std::to_string(kGreyFrames),
            s_clip);
        return s_bMade ? s_clip : s_clipDir.Path();
    }
    static QString PathText(const std::filesystem::path& path) {
        return QString::fromUtf8(path.string().c_str());
    }

    void SetUp() override {
        ASSERT_TRUE(std::filesystem::is_regular_file(GreyClip())) << "ffmpeg made no test clip";
        OpenWindow();
    }
    void OpenWindow() {
        m_pDlg = std::make_unique<CVarnelDlg>();
        ASSERT_TRUE(m_pDlg->Create());
        m_pDlg->show();
        m_pDlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pDlg.get()));
    }

    CEditBox* Edit(int nId) const { return GetDlgItem<CEditBox>(m_pDlg.get(), nId); }
    QString Text(int nId) const { return Edit(nId)->text(); }
    // Types the text into the box (accents included), then moves the focus on with Tab: the box
    // commits.
    void TypeAndLeave(int nId, const QString& text) {
        Edit(nId)->setFocus(Qt::MouseFocusReason);
        Edit(nId)->selectAll();
        Edit(nId)->insert(text);
        QTest::keyClick(Edit(nId), Qt::Key_Tab);
    }
    void Click(int nId, int nTimes = 1) {
        for (int i = 0; i < nTimes; ++i)
            QTest::mouseClick(GetDlgItem<QAbstractButton>(m_pDlg.get(), nId), Qt::LeftButton);
    }
    void OpenGreyClipAndOutput() {
        TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));
        TypeAndLeave(IDC_OUTPUT_NAME, PathText(Output()));
    }
    // The size of the picture the preview shows now; the test pattern is 256 x 256.
    QSize PictureSize() const {
        return GetDlgItem<CBitmapStatic>(m_pDlg.get(), IDC_PICTURE)->Image().size();
    }
    bool ProfileSaved() const {
        return std::filesystem::exists(m_workDir.Path() / "lastprofile.xml");
    }
    std::filesystem::path Output() const { return m_workDir.Path() / "Ausgabe-ñ.wmv"; }

    // The working folder outlives the window, which is destroyed first.
    varnel_test::CScopedWorkingDir m_workDir;
    std::unique_ptr<CVarnelDlg> m_pDlg;
};

// Runs fnAction on the popup or modal window of class T once it is open and exposed, looking for
// it every few milliseconds from whichever event loop runs then (a menu's, a dialog's). Gives up
// after a bound, with a failure, and closes what is open instead, so that no test can hang on a
// window that did not open or was of another class.
//
// Waiting for the exposure delivers the platform's events of the opening while the window is
// open: the offscreen platform also activates a popup, and an activation that arrived only after
// the popup had closed would take the activation from the dialog and commit the box with the
// focus (a look that came due before the menu's loop first ran made that happen under load).
template <class T>
void WhenOpen(std::function<void(T*)> fnAction) {
    auto* pTimer = new QTimer;
    auto pnLooks = std::make_shared<int>(0);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, pnLooks, fnAction] {
        QWidget* pPopup = QApplication::activePopupWidget();
        QWidget* pModal = QApplication::activeModalWidget();
        T* pWanted = qobject_cast<T*>(pPopup);
        if (pWanted == nullptr) pWanted = qobject_cast<T*>(pModal);
        if (pWanted == nullptr && ++*pnLooks < 3000) return;
        pTimer->stop();
        pTimer->deleteLater();
        if (pWanted != nullptr) {
            if (!QTest::qWaitForWindowExposed(pWanted)) ADD_FAILURE() << "the window never showed";
            return fnAction(pWanted);
        }
        ADD_FAILURE() << "the expected window did not open";
        if (pPopup != nullptr) pPopup->close();
        if (pModal != nullptr) pModal->close();
    });
    pTimer->start(10);
}
