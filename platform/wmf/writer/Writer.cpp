// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wmf/writer/Writer.h"

#include <cstdint>

#include "platform/wmf/shared/Runtime.h"
#include "platform/wmf/shared/SampleBase.h"
#include "platform/wmf/writer/WriterConverter.h"
#include "platform/wmf/writer/WriterEncoder.h"

namespace wmf {

CWriter* CWriter::Create() {
    MapLargeBlocks();
    return new CWriter();
}

CWriter::~CWriter() {
    if (m_pPipeline) EndWriting();
}

HRESULT CWriter::SetProfile(IWMProfile* pProfile) {
    if (m_pPipeline) return NS_E_INVALID_REQUEST;
    if (pProfile == nullptr) return E_POINTER;
    WriterVideoFormat format;
    const HRESULT hr = ReadWriterVideoFormat(pProfile, &format);
    if (FAILED(hr)) return hr;
    m_format = format;
    return S_OK;
}

HRESULT CWriter::SetOutputFilename(LPCWSTR pwszFilename) {
    if (m_pPipeline) return NS_E_INVALID_REQUEST;
    if (pwszFilename == nullptr) return E_POINTER;
    std::string name;
    if (pwszFilename[0] == L'\0' || !NarrowFromWide(pwszFilename, &name)) return E_INVALIDARG;
    m_fileName = std::move(name);
    return S_OK;
}

HRESULT CWriter::BeginWriting() {
    if (m_pPipeline || !m_format || !m_fileName) return NS_E_INVALID_REQUEST;
    m_pHeld.reset();
    std::unique_ptr<CStagedFile> pOutput;
    HRESULT hr = CStagedFile::Create(*m_fileName, &pOutput);
    if (FAILED(hr)) return hr;
    // On a failure below, pOutput removes the temporary file.
    std::unique_ptr<CWriterConverter> pConverter;
    hr = CWriterConverter::Create(*m_format, &pConverter);
    if (FAILED(hr)) return hr;
    const WriterContainer& container = ContainerForName(*m_fileName);
    std::unique_ptr<CWriterEncoder> pEncoder;
    hr = CWriterEncoder::Open(pOutput->WritePath(), *m_format, container, m_rate, &pEncoder);
    if (FAILED(hr)) return hr;

    m_pContainer = &container;
    m_pOutput = std::move(pOutput);
    m_pPipeline = std::make_unique<CWriterPipeline>(std::move(pConverter), std::move(pEncoder));
    m_bAnyWritten = false;
    return S_OK;
}

HRESULT CWriter::WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                             INSSBuffer* pSample) {
    if (!m_pPipeline) return NS_E_INVALID_REQUEST;
    if (dwInputNum != 0) return E_INVALIDARG;
    if (pSample == nullptr) return E_POINTER;
    BYTE* pBytes = nullptr;
    DWORD cbLength = 0;
    HRESULT hr = pSample->GetBufferAndLength(&pBytes, &cbLength);
    if (FAILED(hr)) return hr;
    if (pBytes == nullptr || cbLength != m_format->FrameBytes()) return NS_E_INVALID_INPUT_FORMAT;
    if (cnsSampleTime > static_cast<QWORD>(INT64_MAX)) return E_INVALIDARG;

    // The file's times must rise from sample to sample in the units it keeps.
    const auto time = static_cast<REFERENCE_TIME>(cnsSampleTime);
    const int64_t nFileTicks = CWriterEncoder::FileTicks(*m_pContainer, time);
    if (m_bAnyWritten && nFileTicks <= m_nLastFileTicks) return E_INVALIDARG;
    // A reader's picture is copied for the encoder, when the caller vouches for the pixels.
    const auto* pReaderSample = dynamic_cast<const CSampleBase*>(pSample);
    const AVFrame* pPicture =
        (dwFlags & WM_SF_VARNEL_PIXELS_AS_READ) != 0 && pReaderSample != nullptr
            ? pReaderSample->Picture()
            : nullptr;
    hr = pPicture != nullptr && m_pPipeline->Takes(*pPicture) ? m_pPipeline->Push(*pPicture, time)
                                                              : m_pPipeline->Push(pBytes, time);
    if (FAILED(hr)) return hr;
    m_nLastFileTicks = nFileTicks;
    m_bAnyWritten = true;
    return S_OK;
}

HRESULT CWriter::EndWriting() {
    if (!m_pPipeline) return NS_E_INVALID_REQUEST;
    HRESULT hr = m_pPipeline->Finish();
    m_pPipeline.reset();
    if (FAILED(hr)) {
        m_pOutput.reset();  // drops the unfinished file
        return hr;
    }
    if (m_bHold) {
        m_pHeld = std::move(m_pOutput);
        return S_OK;
    }
    hr = m_pOutput->Commit();
    m_pOutput.reset();
    return hr;
}

HRESULT CWriter::SetHoldOutput(BOOL bHold) {
    m_bHold = bHold != FALSE;
    return S_OK;
}

HRESULT CWriter::CommitHeldOutput() {
    if (!m_pHeld) return NS_E_INVALID_REQUEST;
    const HRESULT hr = m_pHeld->Commit();
    m_pHeld.reset();
    return hr;
}

HRESULT CWriter::DiscardHeldOutput() {
    m_pHeld.reset();
    return S_OK;
}

HRESULT CWriter::SetQuality(LONG nQuality) {
    if (nQuality < -1 || nQuality > 63) return E_INVALIDARG;
    m_rate.bBitRate = false;
    m_rate.nQuality = nQuality;
    return S_OK;
}

HRESULT CWriter::SetBitRate(DWORD dwBitRate) {
    m_rate.bBitRate = true;
    m_rate.dwBitRate = dwBitRate;
    return S_OK;
}

}  // namespace wmf

HRESULT WMCreateWriter(IUnknown* /*pUnkReserved*/, IWMWriter** ppWriter) {
    if (ppWriter == nullptr) return E_POINTER;
    *ppWriter = wmf::CWriter::Create();
    return S_OK;
}
