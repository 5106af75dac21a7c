// SPDX-License-Identifier: GPL-3.0-or-later
// A plain sample buffer in ordinary memory, for code that makes its own samples (tests,
// benchmarks, the fake runtime). It is the only INSSBuffer that does not come from a reader.
#pragma once

#include <memory>

#include "platform/wmf/shared/SampleBase.h"
#include "platform/wmf/wmsdk.h"

// Owns `maxLength` bytes, zero-filled at creation. Create() hands out one reference; the buffer
// frees itself when the last reference is released. SetLength may not exceed the maximum.
class CSampleBuffer final : public CSampleBase {
  public:
    static CSampleBuffer* Create(DWORD maxLength) { return new CSampleBuffer(maxLength); }

  private:
    explicit CSampleBuffer(DWORD maxLength) : CSampleBuffer(MakeBytes(maxLength), maxLength) {}
    CSampleBuffer(std::unique_ptr<BYTE[]> pBytes, DWORD maxLength)
        : CSampleBase(pBytes.get(), maxLength), m_pBytes(std::move(pBytes)) {}
    ~CSampleBuffer() override = default;

    static std::unique_ptr<BYTE[]> MakeBytes(DWORD maxLength) {
        return std::unique_ptr<BYTE[]>(new BYTE[maxLength == 0 ? 1 : maxLength]());
    }

    std::unique_ptr<BYTE[]> m_pBytes;
};
