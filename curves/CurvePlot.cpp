// SPDX-License-Identifier: GPL-3.0-or-later
#include "curves/CurvePlot.h"

#include <QApplication>
#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "curves/CurveChart.h"

namespace {

// Draws the chart, laid out at the picture's size, onto pDevice.
bool PaintChart(QChart& chart, QPaintDevice* pDevice) {
    QGraphicsScene scene;
    scene.addItem(&chart);
    const QRectF rect(QPointF(0.0, 0.0), QSizeF(kCurvePlotSize));
    chart.setGeometry(rect);
    scene.setSceneRect(rect);
    // The chart lays itself out on its next layout request; have it now.
    QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QPainter painter;
    const bool bPainted = painter.begin(pDevice);
    if (bPainted) {
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, rect, rect);
        painter.end();
    }
    scene.removeItem(&chart);  // the scene must not delete the caller's chart
    return bPainted;
}

// Text as SVG's character data: QSvgGenerator writes its title as given.
QString SvgText(const QString& strText) { return PrintableText(strText).toHtmlEscaped(); }

}  // namespace

CurvePlotFormat CurvePlotFormatOf(const std::string& strName) {
    const size_t nDot = strName.find_last_of('.');
    const size_t nSlash = strName.find_last_of('/');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) {
        return CurvePlotFormat::kUnknown;
    }
    std::string strExtension = strName.substr(nDot + 1);
    std::transform(strExtension.begin(), strExtension.end(), strExtension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (strExtension == "svg") return CurvePlotFormat::kSvg;
    if (strExtension == "png") return CurvePlotFormat::kPng;
    return CurvePlotFormat::kUnknown;
}

QByteArray RenderCurvePlot(QChart& chart, CurvePlotFormat format, const QString& strDescription) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (format == CurvePlotFormat::kSvg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(kCurvePlotSize);
        generator.setViewBox(QRect(QPoint(0, 0), kCurvePlotSize));
        generator.setTitle(SvgText(strDescription));
        chart.setBackgroundBrush(Qt::white);
        if (!PaintChart(chart, &generator)) return {};
        return bytes;
    }
    if (format == CurvePlotFormat::kPng) {
        QImage image(kCurvePlotSize, QImage::Format_RGB32);
        image.fill(Qt::white);
        if (!PaintChart(chart, &image)) return {};
        if (!buffer.open(QIODevice::WriteOnly)) return {};
        QImageWriter writer(&buffer, "png");
        // On Qt's scale of 0 to 100, zlib's fastest level: a third of the default's time for a
        // file about a fifth larger (a chart is mostly flat colour).
        writer.setCompression(20);
        if (!writer.write(image)) return {};
        return bytes;
    }
    return {};
}

std::unique_ptr<QApplication> MakeHeadlessApplication() {
    if (QCoreApplication::instance() != nullptr) return nullptr;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt's notes about the environment (no XDG_RUNTIME_DIR, ...) are no failure of the program's.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& strText) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(strText));
        }
    });
    // Qt keeps references to both for the application's life.
    static int s_argc = 1;
    static char s_szName[] = "varnel";
    static char* s_argv[] = {s_szName, nullptr};
    return std::make_unique<QApplication>(s_argc, s_argv);
}
