#include "tests/app/MainWindowFixture.h"

#include <QAbstractButton>
#include <QDir>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

const std::filesystem::path& MainWindowTest::GreyClip() {
    static varnel_test::CTempDir s_clipDir;
    static const std::filesystem::path s_clip = [] {
        const std::filesystem::path clip = s_clipDir / "Überblick-é.mkv";
        varnel_test::MakeClip("-f lavfi -i color=c=0x808080:s=64x48:r=30000/1001 -frames:v " +
                                  std::to_string(kGreyFrames) + " -c:v ffv1",
                              clip);
        return clip;
    }();
    return s_clip;
}

void MainWindowTest::SetUp() {
    ASSERT_TRUE(std::filesystem::exists(GreyClip())) << "ffmpeg could not make the test clip";
    m_strPreviousDir = QDir::currentPath();
    QDir::setCurrent(PathText(m_workDir.Path()));
    m_pDlg = std::make_unique<CVarnelDlg>();
    ASSERT_TRUE(m_pDlg->Create());
    m_pDlg->show();
    m_pDlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pDlg.get()));
}

void MainWindowTest::TearDown() {
    m_pDlg.reset();
    QDir::setCurrent(m_strPreviousDir);
}

CEditBox* MainWindowTest::Edit(int nId) const { return GetDlgItem<CEditBox>(m_pDlg.get(), nId); }

QAbstractButton* MainWindowTest::Button(int nId) const {
    return GetDlgItem<QAbstractButton>(m_pDlg.get(), nId);
}

QString MainWindowTest::Text(int nId) const { return Edit(nId)->text(); }

void MainWindowTest::TypeAndLeave(int nId, const QString& text) {
    CEditBox* pEdit = Edit(nId);
    pEdit->setFocus(Qt::MouseFocusReason);
    pEdit->selectAll();
    pEdit->insert(text);  // typed text, accents included
    QTest::keyClick(pEdit, Qt::Key_Tab);
}

void MainWindowTest::Click(int nId) { QTest::mouseClick(Button(nId), Qt::LeftButton); }

void MainWindowTest::ClickNext(int nCount) {
    for (int i = 0; i < nCount; ++i) Click(IDC_NEXT);
}

void MainWindowTest::OpenGreyClipAndOutput() {
    TypeAndLeave(IDC_INPUT_NAME, PathText(GreyClip()));
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(Output()));
}

QSize MainWindowTest::PictureSize() const {
    return GetDlgItem<CBitmapStatic>(m_pDlg.get(), IDC_PICTURE)->pixmap().size();
}

bool MainWindowTest::WaitUntilPlayStops() {
    // A generous bound against a hang; the test asserts the outcome, not the time.
    return QTest::qWaitFor(
        [this] { return m_pDlg->GetFreePlay() == 0 && !m_pDlg->IsPlayTimerArmed(); }, 300000);
}
