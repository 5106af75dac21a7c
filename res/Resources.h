// SPDX-License-Identifier: GPL-3.0-or-later
// Loading Varnel's resources by id: the string table and the application icon.
//
// The icon files are embedded with the Qt resource system (varnel.qrc) under ":/varnel/"; every
// function here makes sure they are registered first, so a program that links the resources from
// a static library finds them without further set-up.
#pragma once

#include <QIcon>
#include <QString>

// The string of the given id (IDS_ABOUTBOX, IDS_CURVES, IDS_FIT_PREVIEW), or an empty string when
// the table has none.
QString LoadResourceString(int nId);

// The icon of the given id (IDR_MAINFRAME) with all its sizes (16, 32, 64 and 128 pixels), or a
// null icon when there is none.
QIcon LoadResourceIcon(int nId);

// The Qt resource path of the icon file (.ico, 32x32 and 16x16 images of 16 colours) of the given
// id, or an empty string when there is none.
QString ResourceIconFile(int nId);
