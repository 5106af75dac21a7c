// SPDX-License-Identifier: GPL-3.0-or-later
// Scoped ownership of one runtime interface reference.
#pragma once

#include <memory>

#include "platform/wmf/wmsdk.h"

struct CReleaseInterface {
    void operator()(IUnknown* pObject) const { pObject->Release(); }
};

// Holds one reference and releases it when it goes out of scope.
template <class T>
using TComHolder = std::unique_ptr<T, CReleaseInterface>;
