// The fixture of the main-window tests: a CVarnelDlg opened and active on the offscreen
// platform, in a working folder of its own (where "lastprofile.xml" lands), with clips made by
// the ffmpeg command.
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
    static constexpr int kGreyWidth = 64;
    static constexpr int kGreyHeight = 48;
    static constexpr int kGreySamplesWritten = (kGreyFrames - 6) / 3 + 1;

    // A lossless clip of kGreyFrames mid-grey frames at 29.97 per second, and its path as text.
    static const std::filesystem::path& GreyClip();
    static QString GreyClipText() { return PathText(GreyClip()); }
    static QString PathText(const std::filesystem::path& path) {
        return QString::fromLocal8Bit(path.string().c_str());
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
    // The picture the preview shows now.
    QImage Picture() const;
    static bool IsTestPattern(const QImage& picture);
    // Spins the event loop until play is off and no tick is pending.
    bool WaitUntilPlayStops();

    std::filesystem::path Output() const { return m_workDir / "out.wmv"; }

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

// What ffprobe finds in a written file.
struct ProbedOutput {
    int nStreams = 0;
    std::string strCodec;
    long nPackets = -1;
};
ProbedOutput ProbeOutput(const std::filesystem::path& file);
