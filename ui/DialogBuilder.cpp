// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogBuilder.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QVariant>
#include <cstdint>

#include "res/Resources.h"
#include "res/resource.h"
#include "ui/DialogControls.h"

namespace {

// The property that holds a built control's id; its presence marks the widget as a control.
constexpr char kControlIdProperty[] = "varnelControlId";

// Families tried after the template's face. DejaVu Sans at 8 points has base units of 7 x 13
// at 96 dpi (MS Sans Serif has 6 x 13): the dialog comes out a little wider than on Windows, and
// every caption fits its control, which the narrower fonts at hand do not achieve.
const char* const kFallbackFamilies[] = {"Microsoft Sans Serif", "DejaVu Sans"};

// The size of an icon in an icon static (the system's large icon size).
constexpr int kIconSize = 32;

// a * b / c rounded to nearest, halves away from zero.
int MulDiv(int a, int b, int c) {
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

QWidget* CreateControl(const ControlTemplate& control, QWidget* pDialog) {
    const QString caption =
        control.pszCaption ? QString::fromLatin1(control.pszCaption) : QString();
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* pButton = new QPushButton(caption, pDialog);
            pButton->setAutoDefault(true);
            pButton->setDefault(control.kind == ControlKind::DefPushButton);
            if (auto* pQDialog = qobject_cast<QDialog*>(pDialog)) {
                if (control.nId == IDOK) {
                    QObject::connect(pButton, &QPushButton::clicked, pQDialog, &QDialog::accept);
                } else if (control.nId == IDCANCEL) {
                    QObject::connect(pButton, &QPushButton::clicked, pQDialog, &QDialog::reject);
                }
            }
            return pButton;
        }
        case ControlKind::AutoCheckBox:
            return new QCheckBox(caption, pDialog);
        case ControlKind::AutoRadioButton:
            return new CAutoRadioButton(caption, pDialog);
        case ControlKind::Edit: {
            auto* pEdit = new CEditBox(pDialog);
            pEdit->setFrame((control.dwStyle & WS_BORDER) != 0);
            pEdit->setReadOnly((control.dwStyle & ES_READONLY) != 0);
            return pEdit;
        }
        case ControlKind::Static: {
            auto* pLabel = new QLabel(pDialog);
            pLabel->setTextFormat(Qt::PlainText);
            pLabel->setText(caption);
            pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // Words wrap where the static has room for more than one line; a one-line static
            // shows what fits of its line rather than lose its last words to a hidden line.
            pLabel->setWordWrap(control.cy >= 16);
            if (control.dwExStyle & WS_EX_STATICEDGE) {
                pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                pLabel->setLineWidth(1);
            }
            return pLabel;
        }
        case ControlKind::IconStatic:
        case ControlKind::BitmapStatic:
            return new CBitmapStatic(pDialog);
        case ControlKind::Trackbar:
            return new CTrackbar((control.dwStyle & TBS_VERT) ? Qt::Vertical : Qt::Horizontal,
                                 pDialog);
    }
    return nullptr;
}

Qt::FocusPolicy FocusPolicyOf(const ControlTemplate& control) {
    if (control.kind == ControlKind::Static || control.kind == ControlKind::IconStatic ||
        control.kind == ControlKind::BitmapStatic) {
        return Qt::NoFocus;
    }
    return (control.dwStyle & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
}

Qt::WindowFlags WindowFlagsOf(const DialogTemplate& dlgTemplate) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((dlgTemplate.dwStyle & WS_CAPTION) == WS_CAPTION) {
        flags |= Qt::WindowTitleHint;
    }
    if (dlgTemplate.dwStyle & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (dlgTemplate.dwStyle & WS_MINIMIZEBOX) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (dlgTemplate.dwStyle & WS_MAXIMIZEBOX) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

// A static's mnemonic moves the focus to the next control that takes the focus.
void SetMnemonicBuddies(const QList<QWidget*>& controls, const DialogTemplate& dlgTemplate) {
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const ControlTemplate& control = dlgTemplate.controls[i];
        auto* pLabel = qobject_cast<QLabel*>(controls[i]);
        if (control.kind != ControlKind::Static || (control.dwStyle & SS_NOPREFIX) || !pLabel ||
            !pLabel->text().contains(QLatin1Char('&'))) {
            continue;
        }
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            if (controls[j]->focusPolicy() & Qt::TabFocus) {
                pLabel->setTextFormat(Qt::AutoText);
                pLabel->setBuddy(controls[j]);
                break;
            }
        }
    }
}

// Automatic radio buttons between two group styles uncheck each other.
void GroupRadioButtons(const QList<QWidget*>& controls, const DialogTemplate& dlgTemplate,
                       QWidget* pDialog) {
    CRadioGroup* pGroup = nullptr;
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const ControlTemplate& control = dlgTemplate.controls[i];
        if (control.dwStyle & WS_GROUP) {
            pGroup = nullptr;
        }
        auto* pRadio = qobject_cast<CAutoRadioButton*>(controls[i]);
        if (!pRadio) {
            continue;
        }
        if (!pGroup) {
            pGroup = new CRadioGroup(pDialog);
        }
        pGroup->addButton(pRadio);
    }
}

}  // namespace

QFont CDialogBuilder::DialogFont(const DialogTemplate& dlgTemplate) {
    QStringList families{QString::fromLatin1(dlgTemplate.pszFaceName)};
    for (const char* pszFamily : kFallbackFamilies) {
        families << QString::fromLatin1(pszFamily);
    }
    // The first installed family; Qt's own substitution when none is.
    QFont font;
    for (const QString& family : families) {
        if (QFontDatabase::hasFamily(family)) {
            font.setFamily(family);
            break;
        }
    }
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(dlgTemplate.nPointSize);
    return font;
}

QSize CDialogBuilder::BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int nWidth = metrics.horizontalAdvance(
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    return QSize((nWidth / 26 + 1) / 2, metrics.height());
}

QRect CDialogBuilder::MapDialogRect(const QRect& rcUnits, const QSize& baseUnits) {
    const int nLeft = MulDiv(rcUnits.x(), baseUnits.width(), 4);
    const int nTop = MulDiv(rcUnits.y(), baseUnits.height(), 8);
    const int nRight = MulDiv(rcUnits.x() + rcUnits.width(), baseUnits.width(), 4);
    const int nBottom = MulDiv(rcUnits.y() + rcUnits.height(), baseUnits.height(), 8);
    return QRect(nLeft, nTop, nRight - nLeft, nBottom - nTop);
}

bool CDialogBuilder::Build(QWidget* pDialog, int nTemplateId) {
    const DialogTemplate* pTemplate = FindDialogTemplate(nTemplateId);
    if (!pTemplate) {
        return false;
    }
    Build(pDialog, *pTemplate);
    return true;
}

void CDialogBuilder::Build(QWidget* pDialog, const DialogTemplate& dlgTemplate) {
    const QFont font = DialogFont(dlgTemplate);
    const QSize baseUnits = BaseUnits(font);

    pDialog->setFont(font);
    pDialog->setWindowTitle(QString::fromLatin1(dlgTemplate.pszCaption));
    if (pDialog->isWindow()) {
        pDialog->setWindowFlags(WindowFlagsOf(dlgTemplate));
    }
    pDialog->setFixedSize(
        MapDialogRect(QRect(0, 0, dlgTemplate.cx, dlgTemplate.cy), baseUnits).size());

    QList<QWidget*> controls;
    for (const ControlTemplate& control : dlgTemplate.controls) {
        QWidget* pControl = CreateControl(control, pDialog);
        pControl->setProperty(kControlIdProperty, control.nId);
        pControl->setFocusPolicy(FocusPolicyOf(control));
        pControl->setGeometry(
            MapDialogRect(QRect(control.x, control.y, control.cx, control.cy), baseUnits));
        if (control.kind == ControlKind::IconStatic) {
            // The icon at its own size, from the template's top-left corner.
            static_cast<CBitmapStatic*>(pControl)->SetBitmap(
                LoadResourceIcon(control.nImage).pixmap(kIconSize, kIconSize));
        }
        if (!controls.isEmpty()) {
            QWidget::setTabOrder(controls.last(), pControl);
        }
        controls << pControl;
    }
    SetMnemonicBuddies(controls, dlgTemplate);
    GroupRadioButtons(controls, dlgTemplate, pDialog);
}

QList<QWidget*> GetDlgItems(const QWidget* pDialog) {
    QList<QWidget*> controls;
    for (QWidget* pChild : pDialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (pChild->property(kControlIdProperty).isValid()) {
            controls << pChild;
        }
    }
    return controls;
}

int GetDlgCtrlID(const QWidget* pControl) {
    const QVariant id = pControl->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : IDC_STATIC;
}

QWidget* GetDlgItemWidget(const QWidget* pDialog, int nId) {
    if (nId == IDC_STATIC) {
        return nullptr;
    }
    for (QWidget* pControl : GetDlgItems(pDialog)) {
        if (GetDlgCtrlID(pControl) == nId) {
            return pControl;
        }
    }
    return nullptr;
}
