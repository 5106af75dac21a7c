// How many frames an input is expected to hold, for the progress display.
#pragma once

#include "platform/wmf/wmsdk.h"

// The file's duration (g_wszWMDuration through the sync reader's IWMHeaderInfo) divided by the
// video stream's AvgTimePerFrame (its WMVIDEOINFOHEADER in the profile), rounded. 0 when either
// is unknown or a call fails: the display then shows no total. Only reads; holds no reference
// beyond the call.
int EstimateFrameCount(IWMSyncReader* pSyncReader, IWMProfile* pProfile, WORD wVideoStream);
