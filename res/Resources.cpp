// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/Resources.h"

#include "res/resource.h"

// Registers the embedded files of varnel.qrc. Q_INIT_RESOURCE must stand outside any namespace.
static void RegisterEmbeddedFiles() {
    static const bool bRegistered = [] {
        Q_INIT_RESOURCE(varnel);
        return true;
    }();
    (void)bRegistered;
}

QString LoadResourceString(int nId) {
    switch (nId) {
        case IDS_ABOUTBOX:
            return QStringLiteral("&About Varnel...");
        case IDS_CURVES:
            return QStringLiteral("Brightness C&urves...");
        case IDS_FIT_PREVIEW:
            return QStringLiteral("&Fit Preview");
        default:
            return QString();
    }
}

QString ResourceIconFile(int nId) {
    RegisterEmbeddedFiles();
    return nId == IDR_MAINFRAME ? QStringLiteral(":/varnel/varnel.ico") : QString();
}

QIcon LoadResourceIcon(int nId) {
    RegisterEmbeddedFiles();
    if (nId != IDR_MAINFRAME) {
        return QIcon();
    }
    QIcon icon;
    for (int nSize : {16, 32, 64, 128}) {
        icon.addFile(QStringLiteral(":/varnel/varnel-%1.png").arg(nSize), QSize(nSize, nSize));
    }
    return icon;
}
