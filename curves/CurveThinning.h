// SPDX-License-Identifier: GPL-3.0-or-later
// The points the chart draws for a range of frames, thinned to the columns of the picture.
#pragma once

#include <QList>
#include <QPointF>

class CCurveData;

// The points of each series, x the frame number. Dark fractions are in percent.
struct CurveSeriesPoints {
    QList<QPointF> before;   // brightness read, every frame
    QList<QPointF> written;  // brightness written, the frames written
    QList<QPointF> picks;    // the frames written, at their brightness read
    QList<QPointF> target;   // the target brightness
    QList<QPointF> dark;     // dark pixels, percent
    QList<QPointF> cuts;     // the frames that start a new shot, at 0
};

// The points of the frames numbered dFirst to dLast, plus the nearest frame on each side so that
// the lines reach the edges. A range of more than 2 x nColumns frames is cut into nColumns equal
// slices, each of which gives at most two points per series: its lowest and its highest, in frame
// order (min/max decimation); the picks, drawn as markers, the same over slices four times as
// wide; the cuts, at most one a slice. A frame-to-frame flicker therefore stays visible at any
// zoom, and
// the work and the point count are bounded by the range and nColumns, not by what is drawn.
CurveSeriesPoints ThinCurves(const CCurveData& data, double dFirst, double dLast, int nColumns);
