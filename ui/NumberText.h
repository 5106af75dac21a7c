// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers in the dialog's boxes, shown with C formats and read with atof as the C library does
// in its "C" locale, whatever locale the process runs in: QApplication adopts the user's locale,
// and a decimal comma there would make "1.5e+02" unreadable and "%e" print commas.
#pragma once

#include <QString>

// `dValue` formatted with a printf format that takes one double ("%3.2e", "%e").
QString FormatNumber(const char* pszFormat, double dValue);

// atof of the text: a leading number counts (leading white space skipped), anything else reads
// as 0. Characters beyond Latin-1 end the number like any other non-digit.
double ReadNumber(const QString& text);

// The text as a finite number: the whole text, white space around it aside, must read as one
// (in the "C" locale, as strtod reads it). Returns false, leaving *pdValue alone, for empty text,
// letters, a number followed by anything else, and infinities or NaN.
bool ReadFiniteNumber(const QString& text, double* pdValue);
