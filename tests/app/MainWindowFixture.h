// The fixture of the main-window tests: a CVarnelDlg opened and active on the offscreen
// platform, in a working folder of its own (where "lastprofile.xml" lands), with a grey clip
// made by the ffmpeg command. The clip's and the output's names carry accents, so every test also
// shows that typed names reach the media objects.
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/VarnelDlg.h"
#include "tests/support/TestSupport.h"

class CEditBox;
class QAbstractButton;

class MainWindowTest : public ::testing::Test {
  protected:
    // Frames of the grey clip: all equally bright, so the processor picks the first frame of
    // every window and writes frames 1, 4, 7, ... once each.
    static constexpr int kGreyFrames = 60;
    static constexpr int kGreySamplesWritten = (kGreyFrames - 6) / 3 + 1;

    // A lossless clip of kGreyFrames mid-grey (128) 64 x 48 frames at 29.97 per second.
    static const std::filesystem::path& GreyClip();
    static QString PathText(const std::filesystem::path& path) {
        return QString::fromUtf8(path.string().c_str());
    }

    void SetUp() override;
    void TearDown() override;

    CEditBox* Edit(int nId) const;
    QAbstractButton* Button(int nId) const;
    QString Text(int nId) const;
    // Types the text into the box, then moves the focus on with Tab: the box commits.
    void TypeAndLeave(int nId, const QString& text);
    void Click(int nId);
    void ClickNext(int nCount);
    // Commits the grey clip as input and Output() as output.
    void OpenGreyClipAndOutput();
    // The size of the picture the preview shows now; the test pattern is 256 x 256.
    QSize PictureSize() const;
    // Spins the event loop until play is off and no tick is pending.
    bool WaitUntilPlayStops();
    bool ProfileSaved() const { return std::filesystem::exists(m_workDir / "lastprofile.xml"); }

    std::filesystem::path Output() const { return m_workDir / "Ausgabe-ñ.wmv"; }
    // The frames ffprobe reads from a written file; -1 when there is none.
    static long Written(const std::filesystem::path& file) {
        return varnel_test::ProbeFrameCount(file);
    }

    varnel_test::CTempDir m_workDir;
    QString m_strPreviousDir;
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
    constexpr int kMaxLooks = 3000;
    auto* pTimer = new QTimer;
    auto pnLooks = std::make_shared<int>(0);
    QObject::connect(pTimer, &QTimer::timeout, [pTimer, pnLooks, fnAction] {
        QWidget* pPopup = QApplication::activePopupWidget();
        QWidget* pModal = QApplication::activeModalWidget();
        T* pWanted = qobject_cast<T*>(pPopup);
        if (pWanted == nullptr) pWanted = qobject_cast<T*>(pModal);
        if (pWanted == nullptr && ++*pnLooks < kMaxLooks) return;
        pTimer->stop();
        pTimer->deleteLater();
        if (pWanted != nullptr) {
            if (!QTest::qWaitForWindowExposed(pWanted)) ADD_FAILURE() << "the window never showed";
            fnAction(pWanted);
            return;
        }
        ADD_FAILURE() << "the expected window did not open";
        for (QWidget* pOpen : {pPopup, pModal}) {
            if (pOpen != nullptr) pOpen->close();
        }
    });
    pTimer->start(10);
}
