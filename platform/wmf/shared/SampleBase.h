// SPDX-License-Identifier: GPL-3.0-or-later
// The behaviour every sample buffer of this layer shares: counted references and a block of
// bytes with a length up to its maximum.
#pragma once

#include "platform/wmf/shared/ComObject.h"
#include "platform/wmf/wmsdk.h"

struct AVFrame;

// An INSSBuffer over `maxLength` bytes at `pBytes`, which the derived class owns and keeps for
// the object's life. The creator holds the first reference; the last Release deletes the object
// (the derived destructor then gives its bytes back). SetLength may not exceed the maximum
// (E_INVALIDARG); null out pointers give E_POINTER. A reader's sample may also keep a reference
// to the decoded picture its bytes were converted from (KeepPicture), for the writer to encode
// when the caller says the bytes are as read (WM_SF_VARNEL_PIXELS_AS_READ); the picture is
// shared with the decoder and only read.
class CSampleBase : public wmf::CComObject<INSSBuffer> {
  public:
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
        *ppdwBuffer = m_pBytes;
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override {
        if (ppdwBuffer == nullptr || pdwLength == nullptr) return E_POINTER;
        *ppdwBuffer = m_pBytes;
        *pdwLength = m_dwLength;
        return S_OK;
    }

    BYTE* Bytes() { return m_pBytes; }
    // The kept picture, or null.
    virtual const AVFrame* Picture() const { return nullptr; }
    // False, keeping none, when memory runs out or the sample keeps no pictures.
    virtual bool KeepPicture(const AVFrame& /*picture*/) { return false; }

  protected:
    CSampleBase(BYTE* pBytes, DWORD maxLength)
        : m_pBytes(pBytes), m_dwLength(maxLength), m_dwMaxLength(maxLength) {}
    ~CSampleBase() override = default;

  private:
    BYTE* m_pBytes;
    DWORD m_dwLength;
    DWORD m_dwMaxLength;
};
