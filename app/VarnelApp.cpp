// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VarnelApp.h"

#include <QApplication>
#include <clocale>

#include "app/VarnelDlg.h"
#include "platform/wmf/wmsdk.h"
#include "res/Resources.h"
#include "res/resource.h"

CVarnelApp g_theApp;

int CVarnelApp::Run(int argc, char** argv) {
    QApplication application(argc, argv);
    InitInstance();
    return 0;
}

bool CVarnelApp::InitInstance() {
    // The framework's start-up for a dialog program. Qt takes the user's locale for the C
    // library; numbers are shown with "%d"/"%e" and typed ones read with atof in the C locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setWindowIcon(LoadResourceIcon(IDR_MAINFRAME));

    CVarnelDlg dlg;
    CoInitialize(nullptr);
    dlg.DoModal();
    return false;
}
