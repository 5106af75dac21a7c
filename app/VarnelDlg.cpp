// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VarnelDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>

#include "app/AboutDlg.h"
#include "app/CurvesWnd.h"
#include "common/Defaults.h"
#include "common/LastError.h"
#include "curves/CurveChart.h"
#include "curves/CurveData.h"
#include "curves/CurveRecorder.h"
#include "media/MediaReader.h"
#include "media/MediaWriter.h"
#include "platform/wmf/StillImages.h"
#include "platform/wmf/VideoFileTypes.h"
#include "processor/FrameProcessor.h"
#include "processor/SceneTarget.h"
#include "res/Resources.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"
#include "ui/PreviewPane.h"
#include "ui/ScaledSlider.h"

namespace {

// Scroll codes of a trackbar notification: a step of a drag, or the end of a move.
constexpr unsigned int kScrollThumbTrack = 5;
constexpr unsigned int kScrollEnd = 8;

// Where the "Fit Preview" choice is kept between runs.
constexpr char kFitPreviewKey[] = "preview/fit";
QSettings UserSettings() { return QSettings(QStringLiteral("Varnel"), QStringLiteral("Varnel")); }

// The control of id nId as a T. The template is fixed data, so a missing control is a defect
// of the build, not of anything the user does.
template <class T>
void BindControl(const QWidget* pDialog, int nId, T*& pMember) {
    pMember = GetDlgItem<T>(pDialog, nId);
    if (pMember == nullptr) qFatal("Varnel: the main dialog has no control %d", nId);
}

}  // namespace

CVarnelDlg::CVarnelDlg(QWidget* pParent)
    : CTemplateDlg(IDD_VARNEL_DIALOG, pParent),
      m_btnMarkMinPixel(nullptr),
      m_btnShowWrite(nullptr),
      m_editAfter(nullptr),
      m_editDark(nullptr),
      m_editMinPixvalMax(nullptr),
      m_sliderMinPixval(nullptr),
      m_editMinPixvalValue(nullptr),
      m_editMinPixvalMin(nullptr),
      m_editDarkFactorMax(nullptr),
      m_sliderDarkFactor(nullptr),
      m_editDarkFactorValue(nullptr),
      m_editDarkFactorMin(nullptr),
      m_editBrightnessMax(nullptr),
      m_editBrightnessMin(nullptr),
      m_editBrightnessValue(nullptr),
      m_sliderBrightness(nullptr),
      m_editBefore(nullptr),
      m_btnImageManipulation(nullptr),
      m_picture(nullptr),
      m_editFrameTime(nullptr),
      m_editFrameNumber(nullptr),
      m_editOutputName(nullptr),
      m_editInputName(nullptr),
      m_btnFollowScene(nullptr),
      m_editStatus(nullptr),
      m_hIcon(LoadResourceIcon(IDR_MAINFRAME)),
      m_bFreePlay(0),
      m_pCurveData(std::make_unique<CCurveData>()),
      m_pCurveRecorder(std::make_unique<CCurveRecorder>(m_pCurveData.get())),
      m_pCurvesWnd(nullptr),
      m_nExpectedFrames(0),
      m_bOutputCommitted(false),
      m_bFitPreview(false),
      m_pSysMenu(nullptr),
      m_pFitPreviewAction(nullptr) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(kPlayTimerInterval);
    connect(&m_timer, &QTimer::timeout, this, &CVarnelDlg::OnPlayTimerTimeout);
}

CVarnelDlg::~CVarnelDlg() {
    // Also when the window is destroyed without being closed first: QDialog hides it on the
    // way out, which takes the focus from a box after the media objects are gone.
    StopRouting();
    ReleaseMediaObjects();
    delete m_pCurvesWnd;  // before the data it reads
}

void CVarnelDlg::DoDataExchange(bool bSaveAndValidate) {
    CTemplateDlg::DoDataExchange(bSaveAndValidate);
    BindControl(this, IDC_MARK_MIN_PIXEL, m_btnMarkMinPixel);
    BindControl(this, IDC_SHOW_WRITE, m_btnShowWrite);
    BindControl(this, IDC_AFTER, m_editAfter);
    BindControl(this, IDC_DARK, m_editDark);
    BindControl(this, IDC_MINPIXVAL_MAX, m_editMinPixvalMax);
    BindControl(this, IDC_MINPIXVAL_SLIDER, m_sliderMinPixval);
    BindControl(this, IDC_MINPIXVAL_VALUE, m_editMinPixvalValue);
    BindControl(this, IDC_MINPIXVAL_MIN, m_editMinPixvalMin);
    BindControl(this, IDC_DARKFACTOR_MAX, m_editDarkFactorMax);
    BindControl(this, IDC_DARKFACTOR_SLIDER, m_sliderDarkFactor);
    BindControl(this, IDC_DARKFACTOR_VALUE, m_editDarkFactorValue);
    BindControl(this, IDC_DARKFACTOR_MIN, m_editDarkFactorMin);
    BindControl(this, IDC_BRIGHTNESS_MAX, m_editBrightnessMax);
    BindControl(this, IDC_BRIGHTNESS_MIN, m_editBrightnessMin);
    BindControl(this, IDC_BRIGHTNESS_VALUE, m_editBrightnessValue);
    BindControl(this, IDC_BRIGHTNESS_SLIDER, m_sliderBrightness);
    BindControl(this, IDC_BEFORE, m_editBefore);
    BindControl(this, IDC_IMAGE_MANIPULATION, m_btnImageManipulation);
    BindControl(this, IDC_PICTURE, m_picture);
    BindControl(this, IDC_FRAME_TIME, m_editFrameTime);
    BindControl(this, IDC_FRAME_NUMBER, m_editFrameNumber);
    BindControl(this, IDC_OUTPUT_NAME, m_editOutputName);
    BindControl(this, IDC_INPUT_NAME, m_editInputName);
    BindControl(this, IDC_FOLLOW_SCENE, m_btnFollowScene);
    BindControl(this, IDC_STATUS, m_editStatus);
}

bool CVarnelDlg::OnInitDialog() {
    CTemplateDlg::OnInitDialog();
    ConnectControls();

    // The window menu, with the About item appended after a separator.
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addAction(tr("&Close"))->setData(kCloseCommand);
    const QString strAboutMenu = LoadResourceString(IDS_ABOUTBOX);
    if (!strAboutMenu.isEmpty()) {
        m_pSysMenu->addSeparator();
        m_pSysMenu->addAction(strAboutMenu)->setData(IDM_ABOUTBOX);
    }
    m_pSysMenu->addAction(LoadResourceString(IDS_CURVES))->setData(IDM_CURVES);
    m_pFitPreviewAction = m_pSysMenu->addAction(LoadResourceString(IDS_FIT_PREVIEW));
    m_pFitPreviewAction->setData(IDM_FIT_PREVIEW);
    m_pFitPreviewAction->setCheckable(true);
    connect(m_pSysMenu, &QMenu::triggered, this, &CVarnelDlg::OnWindowMenuTriggered);
    auto* pMenuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    connect(pMenuKey, &QShortcut::activated, this, &CVarnelDlg::OnMenuKey);

    setWindowIcon(m_hIcon);

    m_bFreePlay = 0;

    m_pReader = std::make_unique<CMediaReader>();
    m_pWriter = std::make_unique<CMediaWriter>();
    m_pProcessor = std::make_unique<CFrameProcessor>(m_pWriter.get());
    m_pPreview = std::make_unique<CPreviewPane>(this, m_picture);
    m_pBrightnessSlider = std::make_unique<CScaledSlider>();
    m_pMinPixvalSlider = std::make_unique<CScaledSlider>();
    m_pDarkFactorSlider = std::make_unique<CScaledSlider>();

    m_pBrightnessSlider->Init(m_editBrightnessMax, m_editBrightnessMin, m_editBrightnessValue,
                              m_sliderBrightness, 200.0, 100.0, varnel::kDefaultBrightness);
    m_pMinPixvalSlider->Init(m_editMinPixvalMax, m_editMinPixvalMin, m_editMinPixvalValue,
                             m_sliderMinPixval, 170.0, 20.0, varnel::kDefaultMinPixval);
    m_pDarkFactorSlider->Init(m_editDarkFactorMax, m_editDarkFactorMin, m_editDarkFactorValue,
                              m_sliderDarkFactor, 100.0, 0.0, varnel::kDefaultDarkFactor);

    GetDlgItem<QAbstractButton>(this, IDC_SHOW_READ)->setChecked(true);
    OnShowWrite();
    m_btnImageManipulation->setChecked(false);
    OnImageManipulation();
    PushSliderValues();
    m_bFitPreview = UserSettings().value(QLatin1String(kFitPreviewKey), false).toBool();
    m_pFitPreviewAction->setChecked(m_bFitPreview);
    m_pPreview->SetFitArea(m_bFitPreview ? PictureArea() : QSize());
    m_pPreview->ShowFrame(nullptr, nullptr);
    return true;
}

void CVarnelDlg::ConnectControls() {
    auto clicked = [this](int nId, void (CVarnelDlg::*pfnHandler)()) {
        connect(GetDlgItem<QAbstractButton>(this, nId), &QAbstractButton::clicked, this,
                pfnHandler);
    };
    clicked(IDC_BROWSE_INPUT, &CVarnelDlg::OnBrowseInput);
    clicked(IDC_BROWSE_OUTPUT, &CVarnelDlg::OnBrowseOutput);
    clicked(IDC_NEXT, &CVarnelDlg::OnNext);
    clicked(IDC_FREEPLAY, &CVarnelDlg::OnFreePlay);
    clicked(IDC_SKIP100, &CVarnelDlg::OnSkip100);
    clicked(IDC_SHOW_WRITE, &CVarnelDlg::OnShowWrite);
    clicked(IDC_SHOW_READ, &CVarnelDlg::OnShowRead);
    clicked(IDC_IMAGE_MANIPULATION, &CVarnelDlg::OnImageManipulation);
    clicked(IDC_MARK_MIN_PIXEL, &CVarnelDlg::OnMarkMinPixel);
    clicked(IDC_FOLLOW_SCENE, &CVarnelDlg::OnFollowScene);

    auto killFocus = [this](CEditBox* pEdit, void (CVarnelDlg::*pfnHandler)()) {
        connect(pEdit, &CEditBox::killFocus, this, pfnHandler);
    };
    killFocus(m_editInputName, &CVarnelDlg::OnKillFocusInputName);
    killFocus(m_editOutputName, &CVarnelDlg::OnKillFocusOutputName);
    killFocus(m_editBrightnessMax, &CVarnelDlg::OnKillFocusBrightnessMax);
    killFocus(m_editBrightnessMin, &CVarnelDlg::OnKillFocusBrightnessMin);
    killFocus(m_editBrightnessValue, &CVarnelDlg::OnKillFocusBrightnessValue);
    killFocus(m_editMinPixvalMax, &CVarnelDlg::OnKillFocusMinPixvalMax);
    killFocus(m_editMinPixvalMin, &CVarnelDlg::OnKillFocusMinPixvalMin);
    killFocus(m_editMinPixvalValue, &CVarnelDlg::OnKillFocusMinPixvalValue);
    killFocus(m_editDarkFactorMax, &CVarnelDlg::OnKillFocusDarkFactorMax);
    killFocus(m_editDarkFactorMin, &CVarnelDlg::OnKillFocusDarkFactorMin);
    killFocus(m_editDarkFactorValue, &CVarnelDlg::OnKillFocusDarkFactorValue);
    killFocus(m_editFrameNumber, &CVarnelDlg::OnKillFocusFrameNumber);
    connect(m_editFrameNumber, &QLineEdit::textChanged, this, &CVarnelDlg::OnChangeFrameNumber);

    for (CTrackbar* pTrackbar : {m_sliderBrightness, m_sliderMinPixval, m_sliderDarkFactor}) {
        connect(pTrackbar, &CTrackbar::scrolled, this, &CVarnelDlg::OnTrackbarScrolled);
    }
}

// ---------------------------------------------------------------------------------------------
// Window menu, painting, closing

void CVarnelDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    ShowWindowMenu(pEvent->globalPos());
    pEvent->accept();
}

void CVarnelDlg::ShowWindowMenu(const QPoint& ptGlobal) {
    if (m_pSysMenu != nullptr) m_pSysMenu->exec(ptGlobal);
}

void CVarnelDlg::OnMenuKey() { ShowWindowMenu(mapToGlobal(QPoint(0, 0))); }

void CVarnelDlg::OnWindowMenuTriggered(QAction* pAction) {
    OnSysCommand(pAction->data().toUInt(), 0);
}

void CVarnelDlg::OnSysCommand(unsigned int nID, intptr_t /*lParam*/) {
    if ((nID & 0xFFF0) == kAboutCommand) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else if ((nID & 0xFFF0) == kCurvesCommand) {
        OnBrightnessCurves();
    } else if ((nID & 0xFFF0) == kFitPreviewCommand) {
        OnFitPreview();
    } else {
        DefaultSysCommand(nID);
    }
}

void CVarnelDlg::OnBrightnessCurves() {
    if (m_pCurvesWnd == nullptr) m_pCurvesWnd = new CCurvesWnd(m_pCurveData.get(), this);
    FollowCurves(m_pReader != nullptr ? m_pReader->GetFrameNumber() : 0);
    if (!m_pCurvesWnd->isVisible()) PlaceCurvesWnd();
    m_pCurvesWnd->show();
    m_pCurvesWnd->raise();
}

void CVarnelDlg::PlaceCurvesWnd() {
    // The frames of both windows are alike; the dialog's shows how much a frame adds.
    const QRect rcOwner = frameGeometry();
    const QSize frameExtra = rcOwner.size() - size();
    const QScreen* pScreen = screen();
    const QRect rcScreen = pScreen != nullptr ? pScreen->availableGeometry() : QRect();
    const QRect rcFrame =
        CCurvesWnd::PlaceBeside(rcOwner, m_pCurvesWnd->size() + frameExtra, rcScreen);
    m_pCurvesWnd->resize(rcFrame.size() - frameExtra);
    m_pCurvesWnd->move(rcFrame.topLeft());
}

void CVarnelDlg::OnFitPreview() {
    m_bFitPreview = !m_bFitPreview;
    if (m_pFitPreviewAction != nullptr) m_pFitPreviewAction->setChecked(m_bFitPreview);
    UserSettings().setValue(QLatin1String(kFitPreviewKey), m_bFitPreview);
    // From the next frame on; the picture now shown stays as it is.
    if (m_pPreview != nullptr) m_pPreview->SetFitArea(m_bFitPreview ? PictureArea() : QSize());
}

QSize CVarnelDlg::PictureArea() const {
    // The dialog's margin is that of its left column ("Exit").
    const QWidget* pExit = GetDlgItemWidget(this, IDOK);
    const int nMargin = pExit != nullptr ? pExit->x() : 0;
    return QSize(width() - nMargin - m_picture->x(),
                 m_editStatus->y() - nMargin / 2 - m_picture->y());
}

void CVarnelDlg::FollowCurves(int nFrame) {
    if (m_pCurvesWnd == nullptr || m_pProcessor == nullptr) return;
    const bool bManipulate = m_btnImageManipulation->isChecked();
    m_pCurvesWnd->SetHeadline(
        CurveTitleNames(m_editInputName->text(), m_editOutputName->text()),
        CurveTitleOptions(m_pBrightnessSlider->GetValue(), m_pMinPixvalSlider->GetValue(),
                          m_pDarkFactorSlider->GetValue(), bManipulate,
                          m_btnMarkMinPixel->isChecked(),
                          IsFollowingScene() ? kDefaultSceneSpan : 0.0));
    m_pCurvesWnd->Follow(nFrame);
}

void CVarnelDlg::DefaultSysCommand(unsigned int nID) {
    if ((nID & 0xFFF0) == kCloseCommand) close();
}

void CVarnelDlg::paintEvent(QPaintEvent* pEvent) { OnPaint(pEvent); }

void CVarnelDlg::OnPaint(QPaintEvent* pEvent) {
    if (!isMinimized()) {
        CTemplateDlg::paintEvent(pEvent);
        return;
    }
    // A minimised window that still paints shows the icon centred on an erased background.
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const int cxIcon = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const int cyIcon = cxIcon;
    const int x = (width() - cxIcon + 1) / 2;
    const int y = (height() - cyIcon + 1) / 2;
    m_hIcon.paint(&painter, x, y, cxIcon, cyIcon);
}

QIcon CVarnelDlg::OnQueryDragIcon() const { return m_hIcon; }

void CVarnelDlg::done(int nResult) {
    StopRouting();
    if (m_pCurvesWnd != nullptr) m_pCurvesWnd->close();
    CTemplateDlg::done(nResult);
    ReleaseMediaObjects();
}

void CVarnelDlg::StopRouting() {
    // No control event is routed once the window closes: hiding it takes the focus from the
    // box that has it, and that must not commit a name (and begin a new file) on the way out.
    for (QWidget* pControl : GetDlgItems(this)) pControl->disconnect(this);
    KillTimer();
    m_bFreePlay = 0;
}

void CVarnelDlg::ReleaseMediaObjects() {
    // The processor first: it writes the picks that deflicker holds, releases its queued samples
    // and refers to the writer. Releasing the writer then ends an output still being written, so
    // the file is finished with every pick made.
    if (m_pProcessor && m_pWriter && m_pWriter->IsWriting()) {
        while (m_pProcessor->FlushHeld()) {
        }
    }
    m_pProcessor.reset();
    m_pWriter.reset();
    m_pReader.reset();
    m_pPreview.reset();
    m_pBrightnessSlider.reset();
    m_pMinPixvalSlider.reset();
    m_pDarkFactorSlider.reset();
}

// ---------------------------------------------------------------------------------------------
// File names

QString CVarnelDlg::BrowseForFile(const QStringList& filters) {
    QFileDialog dlgFile(this);
    dlgFile.setAcceptMode(QFileDialog::AcceptOpen);
    dlgFile.setFileMode(QFileDialog::AnyFile);  // a new output name may not exist yet
    dlgFile.setDefaultSuffix(QStringLiteral("wmv"));
    dlgFile.setNameFilters(filters);
    // A name typed without an extension takes the first one of the chosen filter (.wmv for
    // "All Files").
    connect(&dlgFile, &QFileDialog::filterSelected, &dlgFile, [&dlgFile](const QString& filter) {
        static const QRegularExpression s_firstSuffix(QStringLiteral("\\(\\*\\.(\\w+)"));
        const QRegularExpressionMatch match = s_firstSuffix.match(filter);
        dlgFile.setDefaultSuffix(match.hasMatch() ? match.captured(1) : QStringLiteral("wmv"));
    });
    if (dlgFile.exec() != QDialog::Accepted) return QString();
    const QStringList files = dlgFile.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CVarnelDlg::OnBrowseInput() {
    // Every kind of video the runtime reads, the Windows Media ones first.
    QStringList patterns;
    for (const std::string& extension : wmf::ReadableVideoExtensions()) {
        patterns << QStringLiteral("*.") + QString::fromStdString(extension);
    }
    // A still image stands for the folder of stills it is in, read as one video.
    QStringList stills;
    for (const std::string& extension : wmf::StillImageExtensions()) {
        stills << QStringLiteral("*.") + QString::fromStdString(extension);
    }
    const QString strPath = BrowseForFile(
        {QStringLiteral("Video files (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'),
         QStringLiteral("Still images, read as their folder (") + stills.join(QLatin1Char(' ')) +
             QLatin1Char(')'),
         QStringLiteral("All Files (*.*)")});
    if (strPath.isEmpty()) return;
    const QFileInfo file(strPath);
    const bool bStill = stills.contains(QStringLiteral("*.") + file.suffix().toLower());
    m_editInputName->setText(bStill ? file.absolutePath() : strPath);
    OnKillFocusInputName();
}

void CVarnelDlg::OnBrowseOutput() {
    // The writer picks the container and codec by the name's extension.
    const QString strPath = BrowseForFile(
        {QStringLiteral("Windows Media (*.wmv *.asf)"), QStringLiteral("MP4 (*.mp4 *.m4v *.mov)"),
         QStringLiteral("Matroska (*.mkv)"), QStringLiteral("WebM (*.webm)"),
         QStringLiteral("All Files (*.*)")});
    if (strPath.isEmpty()) return;
    m_editOutputName->setText(strPath);
    OnKillFocusOutputName();
}

void CVarnelDlg::OnKillFocusInputName() {
    const QByteArray name = m_editInputName->text().toLocal8Bit();
    ClearLastError();
    m_pReader->OpenByName(name.constData());
    const QString strOpen = RecordedFailure();
    ClearLastError();
    m_pWriter->DeriveOutputProfile(m_pReader->GetProfile());
    m_strInputFailure = strOpen;
    // Without an input the derivation's complaint says nothing new. With an output name
    // committed it begins writing, so what fails then is the output's.
    if (strOpen.isEmpty()) {
        QString& strFailure = m_bOutputCommitted ? m_strOutputFailure : m_strInputFailure;
        strFailure = RecordedFailure();
    }
    m_strStepFailure.clear();
    m_strProgress.clear();
    m_nExpectedFrames = m_pReader->GetExpectedFrameCount();
    ShowStatus();
    // A new run: its frames count from the start again.
    m_pCurveData->Clear();
    FollowCurves(m_pReader->GetFrameNumber());
}

void CVarnelDlg::OnKillFocusOutputName() {
    // Committing a name ends the file under way: the line tells how it ended.
    const bool bEnding = m_pWriter->IsWriting();
    const QByteArray name = m_editOutputName->text().toLocal8Bit();
    ClearLastError();
    // The picks that deflicker holds belong to the file under way.
    if (bEnding) {
        while (m_pProcessor->FlushHeld()) {
        }
    }
    const int nSamples = m_pWriter->GetFileSampleCount();
    const double dDuration = m_pWriter->GetFileDuration();
    m_pWriter->OpenOutput(name.constData());
    m_strOutputFailure = RecordedFailure();
    m_strStepFailure.clear();
    m_strProgress.clear();
    if (bEnding && nSamples > 0 && m_strOutputFailure.isEmpty()) {
        m_strProgress = FinishedText(nSamples, dDuration);
    }
    m_strOutputName = m_editOutputName->text();
    m_bOutputCommitted = true;
    ShowStatus();
}

// ---------------------------------------------------------------------------------------------
// Status line

QString CVarnelDlg::RecordedFailure() { return QString::fromLocal8Bit(DescribeLastError()); }

void CVarnelDlg::NoteFailure() {
    if (m_strStepFailure.isEmpty()) m_strStepFailure = RecordedFailure();
}

void CVarnelDlg::ShowStatus() {
    QString text = m_strProgress;
    for (const QString* pFailure : {&m_strStepFailure, &m_strOutputFailure, &m_strInputFailure}) {
        if (!pFailure->isEmpty()) text = *pFailure;
    }
    if (m_editStatus->text() == text) return;
    m_editStatus->setText(text);
    m_editStatus->setCursorPosition(0);
}

QString CVarnelDlg::FinishedText(int nSamples, double dDuration) const {
    if (nSamples == 0) {
        return tr("Finished: no picture written; %1 left as it was").arg(m_strOutputName);
    }
    return tr("Finished: %1 %2 written to %3 (%4 s)")
        .arg(nSamples)
        .arg(nSamples == 1 ? tr("picture") : tr("pictures"))
        .arg(m_strOutputName)
        .arg(dDuration, 0, 'f', 3);
}

QString CVarnelDlg::ProgressText(int nFrame) const {
    if (m_nExpectedFrames <= 0 || nFrame > m_nExpectedFrames) return tr("Frame %1").arg(nFrame);
    return tr("Frame %1 of about %2").arg(nFrame).arg(m_nExpectedFrames);
}

// ---------------------------------------------------------------------------------------------
// Sliders

void CVarnelDlg::PushSliderValues() {
    m_pProcessor->SetParameters(m_pBrightnessSlider->GetValue(), m_pMinPixvalSlider->GetValue(),
                                m_pDarkFactorSlider->GetValue());
}

void CVarnelDlg::CommitSliderRange(CScaledSlider& slider) {
    slider.OnRangeEdited();
    if (slider.EditRejected()) return;  // the box shows its last number again
    PushSliderValues();
    ShowSceneTarget();
}

void CVarnelDlg::CommitSliderValue(CScaledSlider& slider) {
    // The box shows the scene's target, not a level typed by the user.
    if (&slider == m_pBrightnessSlider.get() && IsFollowingScene()) return;
    slider.OnValueEdited();
    if (slider.EditRejected()) return;
    PushSliderValues();
}

void CVarnelDlg::OnFollowScene() {
    const bool bFollow = IsFollowingScene();
    m_pProcessor->SetDeflicker(bFollow ? kDefaultSceneSpan : 0.0);
    m_sliderBrightness->setEnabled(!bFollow);
    m_editBrightnessValue->setReadOnly(bFollow);
    if (bFollow) {
        ShowSceneTarget();
    } else {
        m_pBrightnessSlider->ShowOwnValue();
    }
}

bool CVarnelDlg::IsFollowingScene() const {
    // Checked, not indeterminate, as for the other switches.
    const auto* pCheckBox = qobject_cast<const QCheckBox*>(m_btnFollowScene);
    return pCheckBox != nullptr ? pCheckBox->checkState() == Qt::Checked
                                : m_btnFollowScene->isChecked();
}

void CVarnelDlg::ShowSceneTarget() {
    if (IsFollowingScene()) m_pBrightnessSlider->ShowInstead(m_pProcessor->GetTarget());
}

void CVarnelDlg::OnKillFocusBrightnessMax() { CommitSliderRange(*m_pBrightnessSlider); }

void CVarnelDlg::OnKillFocusBrightnessMin() { CommitSliderRange(*m_pBrightnessSlider); }

void CVarnelDlg::OnKillFocusBrightnessValue() { CommitSliderValue(*m_pBrightnessSlider); }

void CVarnelDlg::OnKillFocusMinPixvalMax() { CommitSliderRange(*m_pMinPixvalSlider); }

void CVarnelDlg::OnKillFocusMinPixvalMin() { CommitSliderRange(*m_pMinPixvalSlider); }

void CVarnelDlg::OnKillFocusMinPixvalValue() { CommitSliderValue(*m_pMinPixvalSlider); }

void CVarnelDlg::OnKillFocusDarkFactorMax() { CommitSliderRange(*m_pDarkFactorSlider); }

void CVarnelDlg::OnKillFocusDarkFactorMin() { CommitSliderRange(*m_pDarkFactorSlider); }

void CVarnelDlg::OnKillFocusDarkFactorValue() { CommitSliderValue(*m_pDarkFactorSlider); }

void CVarnelDlg::OnTrackbarScrolled() {
    auto* pTrackbar = qobject_cast<CTrackbar*>(sender());
    if (pTrackbar == nullptr) return;
    const unsigned int nCode = pTrackbar->isSliderDown() ? kScrollThumbTrack : kScrollEnd;
    OnVScroll(nCode, static_cast<unsigned int>(pTrackbar->value()), pTrackbar);
}

void CVarnelDlg::OnVScroll(unsigned int /*nSBCode*/, unsigned int /*nPos*/, CTrackbar* pScrollBar) {
    if (pScrollBar == m_sliderBrightness) {
        m_pBrightnessSlider->OnScrolled();
    } else if (pScrollBar == m_sliderMinPixval) {
        m_pMinPixvalSlider->OnScrolled();
    } else if (pScrollBar == m_sliderDarkFactor) {
        m_pDarkFactorSlider->OnScrolled();
    } else {
        return;  // the default handling of other senders does nothing here
    }
    PushSliderValues();
}
