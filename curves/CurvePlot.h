// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the brightness curves: SVG or PNG at 1600x900, drawn without a display.
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <memory>
#include <string>

class QApplication;
class QChart;

enum class CurvePlotFormat { kUnknown, kSvg, kPng };

// The size of every picture, in pixels.
inline constexpr QSize kCurvePlotSize(1600, 900);

// The format a file name asks for by its extension (".svg" or ".png", in any case).
CurvePlotFormat CurvePlotFormatOf(const std::string& strName);

// The chart drawn at kCurvePlotSize on white: SVG text (strDescription, printable and escaped,
// as its title) or PNG bytes; empty when it could not be drawn. The chart is laid out at that
// size on the way and left so; it must not be in a view, and a QApplication must exist.
QByteArray RenderCurvePlot(QChart& chart, CurvePlotFormat format, const QString& strDescription);

// A QApplication for a program that draws pictures but never shows a window (varnel-batch).
// When none exists, Make names Qt's offscreen platform (unless QT_QPA_PLATFORM names one
// already: a program that shows nothing needs no display, and a stale DISPLAY must not end a
// run), and makes one; the caller owns it. Null when one exists already. From then on only Qt's
// critical messages reach the error stream.
std::unique_ptr<QApplication> MakeHeadlessApplication();
