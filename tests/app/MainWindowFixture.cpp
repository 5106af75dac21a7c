#include "tests/app/MainWindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <sstream>

#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

const std::filesystem::path& MainWindowTest::GreyClip() {
    static varnel_test::CTempDir s_clipDir;
    static const std::filesystem::path s_clip = [] {
        const std::filesystem::path clip = s_clipDir / "grey.mkv";
        varnel_test::MakeClip("-f lavfi -i color=c=0x808080:s=64x48:r=30000/1001 -frames:v " +
                                  std::to_string(kGreyFrames) + " -c:v ffv1",
                              clip);
        return clip;
    }();
    return s_clip;
}

void MainWindowTest::SetUp() {
    ASSERT_FALSE(m_workDir.Path().empty());
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
    TypeAndLeave(IDC_INPUT_NAME, GreyClipText());
    TypeAndLeave(IDC_OUTPUT_NAME, PathText(Output()));
}

QImage MainWindowTest::Picture() const {
    return GetDlgItem<CBitmapStatic>(m_pDlg.get(), IDC_PICTURE)->pixmap().toImage();
}

bool MainWindowTest::IsTestPattern(const QImage& picture) {
    // 256 x 256, blue = column, red = (512 - (row + column)) mod 256 with row 0 at the bottom.
    if (picture.size() != QSize(256, 256)) return false;
    const QRgb bottomLeft = picture.pixel(0, 255);
    const QRgb nextRight = picture.pixel(1, 255);
    const QRgb topRight = picture.pixel(255, 0);
    return qBlue(bottomLeft) == 0 && qRed(bottomLeft) == 0 && qBlue(nextRight) == 1 &&
           qRed(nextRight) == 255 && qBlue(topRight) == 255 && qRed(topRight) == 2;
}

bool MainWindowTest::WaitUntilPlayStops() {
    // A generous bound against a hang; the test asserts the outcome, not the time.
    return QTest::qWaitFor(
        [this] { return m_pDlg->GetFreePlay() == 0 && !m_pDlg->IsPlayTimerArmed(); }, 300000);
}

ProbedOutput ProbeOutput(const std::filesystem::path& file) {
    ProbedOutput probed;
    if (!std::filesystem::exists(file)) return probed;
    std::istringstream lines(varnel_test::RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets "
        "-of csv=p=0 " +
        varnel_test::Quoted(file)));
    std::string strLine;
    while (std::getline(lines, strLine)) {
        if (strLine.empty()) continue;
        ++probed.nStreams;
        const size_t nComma = strLine.find(',');
        probed.strCodec = strLine.substr(0, nComma);
        if (nComma != std::string::npos) {
            probed.nPackets = std::strtol(strLine.c_str() + nComma + 1, nullptr, 10);
        }
    }
    return probed;
}
