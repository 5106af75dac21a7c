#include "platform/wmf/wmsdk.h"

HRESULT CoInitialize(void* /*pvReserved*/) { return S_OK; }
