// A plain sample buffer in ordinary memory, for code that makes its own samples (tests,
// benchmarks, the fake runtime). It is the only INSSBuffer that does not come from a reader.
#pragma once

#include <atomic>
#include <memory>

#include "wmsdk.h"

// Owns `maxLength` bytes, zero-filled at creation. Create() hands out one reference; the buffer
// frees itself when the last reference is released. SetLength may not exceed the maximum.
class CSampleBuffer final : public INSSBuffer {
public:
    static CSampleBuffer* Create(DWORD maxLength) { return new CSampleBuffer(maxLength); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_INSSBuffer) {
            AddRef();
            *ppv = static_cast<INSSBuffer*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        const ULONG left = --m_nRefs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetLength(DWORD* pdwLength) override {
        if (pdwLength == nullptr) return E_POINTER;
        *pdwLength = m_dwLength;
        return S_OK;
    }
    HRESULT SetLength(DWORD dwLength) override {
        if (dwLength > m_dwMaxLength) return E_INVALIDARG;
        m_dwLength = dwLength;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* pdwLength) override {
        if (pdwLength == nullptr) return E_POINTER;
        *pdwLength = m_dwMaxLength;
        return S_OK;
    }
    HRESULT GetBuffer(BYTE** ppdwBuffer) override {
        if (ppdwBuffer == nullptr) return E_POINTER;
        *ppdwBuffer = m_pBytes.get();
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override {
        if (ppdwBuffer == nullptr || pdwLength == nullptr) return E_POINTER;
        *ppdwBuffer = m_pBytes.get();
        *pdwLength = m_dwLength;
        return S_OK;
    }

    // The current reference count, for tests.
    ULONG RefCount() const { return m_nRefs.load(); }
    BYTE* Bytes() { return m_pBytes.get(); }

private:
    explicit CSampleBuffer(DWORD maxLength)
        : m_pBytes(new BYTE[maxLength == 0 ? 1 : maxLength]()),
          m_dwLength(maxLength),
          m_dwMaxLength(maxLength) {}
    ~CSampleBuffer() override = default;

    std::atomic<ULONG> m_nRefs{1};
    std::unique_ptr<BYTE[]> m_pBytes;
    DWORD m_dwLength;
    DWORD m_dwMaxLength;
};
