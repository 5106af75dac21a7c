// How many frames an input is expected to hold, for the progress display.
#pragma once

#include "platform/wmf/wmsdk.h"

// The file's duration (g_wszWMDuration through the sync reader's IWMHeaderInfo) divided by the
// video stream's AvgTimePerFrame (its WMVIDEOINFOHEADER in the profile), rounded. 0 when either
// is unknown or a call fails: the display then shows no total. Only reads; holds no reference
// beyond the call.
int EstimateFrameCount(IWMSyncReader* pSyncReader, IWMProfile* pProfile, WORD wVideoStream);

// The AvgTimePerFrame (100-ns units) of the profile's video stream of that number; 0 when unknown
// or a call fails. Only reads; holds no reference beyond the call.
REFERENCE_TIME VideoFrameTime(IWMProfile* pProfile, WORD wVideoStream);
