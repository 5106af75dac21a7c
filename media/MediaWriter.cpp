// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/MediaWriter.h"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "common/ComHolder.h"
#include "common/Defaults.h"
#include "common/LastError.h"
#include "media/ProfileStreams.h"
#include "platform/wmf/StagedFile.h"

namespace {

// 2^63: the first time in units that no longer fits the runtime's signed range.
constexpr double kUnitsLimit = 9223372036854775808.0;

const char kLastProfileName[] = "lastprofile.xml";

// The profile text in 8-bit characters, up to its first zero: code units up to 255 become the
// byte of the same value, larger ones an XML character reference, so nothing is lost.
std::string NarrowProfileText(const WCHAR* pwszText) {
    std::string text;
    for (const WCHAR* p = pwszText; *p != L'\0'; ++p) {
        const auto unit = static_cast<uint32_t>(*p);
        if (unit <= 255) {
            text += static_cast<char>(unit);
        } else {
            text += "&#" + std::to_string(unit) + ";";
        }
    }
    return text;
}

}  // namespace

CMediaWriter::CMediaWriter()
    : m_pProfileManager(nullptr),
      m_pProfile(nullptr),
      m_pWMWriter(nullptr),
      m_wVideoStreamNumber(0),
      m_wszFileName{},
      m_bWriting(FALSE) {
    if (FAILED(WMCreateProfileManager(&m_pProfileManager))) m_pProfileManager = nullptr;
}

CMediaWriter::~CMediaWriter() {
    if (m_pWMWriter != nullptr) {
        if (m_bWriting) EndFile();
        m_pWMWriter->Release();
    }
    if (m_pProfile != nullptr) m_pProfile->Release();
    if (m_pProfileManager != nullptr) m_pProfileManager->Release();
}

HRESULT CMediaWriter::DeriveOutputProfile(IWMProfile* pInputProfile) {
    if (m_pProfile != nullptr) {
        m_pProfile->Release();
        m_pProfile = nullptr;
    }
    // A manager that could not be made at construction may be made now.
    if (m_pProfileManager == nullptr && FAILED(WMCreateProfileManager(&m_pProfileManager))) {
        m_pProfileManager = nullptr;
    }

    // The copy: the input profile as XML, saved to lastprofile.xml and loaded back as a new
    // profile. The statuses are not examined: a copy that could not be made is no profile.
    if (pInputProfile != nullptr && m_pProfileManager != nullptr) {
        DWORD length = 0;
        m_pProfileManager->SaveProfile(pInputProfile, nullptr, &length);
        // One more character than asked for, all zero, so the text ends even when the runtime
        // fails to fill the buffer.
        std::vector<WCHAR> wszProfile(static_cast<size_t>(length) + 1, L'\0');
        m_pProfileManager->SaveProfile(pInputProfile, wszProfile.data(), &length);
        wszProfile.back() = L'\0';
        SaveLastProfile(wszProfile.data());
        IWMProfile* pCopy = nullptr;
        if (SUCCEEDED(m_pProfileManager->LoadProfileByData(wszProfile.data(), &pCopy))) {
            m_pProfile = pCopy;
        } else if (pCopy != nullptr) {
            pCopy->Release();
        }
    }

    if (m_pProfile == nullptr) {
        RecordLastError("Could not get stream count", E_POINTER);
        return E_POINTER;
    }
    DWORD count = 0;
    HRESULT hr = m_pProfile->GetStreamCount(&count);
    if (FAILED(hr)) {
        RecordLastError("Could not get stream count", hr);
        return hr;
    }

    // Removing a stream moves the ones behind it down by one index, so the same index is
    // examined again (the unsigned index wraps to -1 and back to it).
    for (DWORD index = 0; index < count; ++index) {
        TComHolder<IWMStreamConfig> pConfig;
        bool bVideo = false;
        hr = GetStreamAndType(m_pProfile, index, pConfig, bVideo);
        if (FAILED(hr)) return hr;

        if (!bVideo) {
            hr = m_pProfile->RemoveStream(pConfig.get());
            if (FAILED(hr)) {
                RecordLastError("Could not remove non-video stream", hr);
                return hr;
            }
            --index;
            hr = m_pProfile->GetStreamCount(&count);
            if (FAILED(hr)) {
                RecordLastError("Could not get stream count after eliminating one", hr);
                return hr;
            }
        } else {
            hr = pConfig->GetStreamNumber(&m_wVideoStreamNumber);
            if (FAILED(hr)) {
                RecordLastError("Could not get stream number", hr);
                return hr;
            }
        }
    }

    // A file under way goes on: the writer refuses a profile while writing.
    if (m_pWMWriter != nullptr && !m_bWriting) hr = StartWriting();
    return hr;
}

void CMediaWriter::SaveLastProfile(const WCHAR* pwszProfile) {
    // Staged and put at its name when complete, so that a write that fails half-way leaves the
    // previous file rather than a truncated one.
    const std::string text = NarrowProfileText(pwszProfile);
    std::unique_ptr<wmf::CStagedFile> pStaged;
    if (FAILED(wmf::CStagedFile::Create(kLastProfileName, &pStaged))) return;
    FILE* pFile = std::fopen(pStaged->WritePath().c_str(), "w");
    if (pFile == nullptr) return;
    const bool bWritten = std::fputs(text.c_str(), pFile) >= 0;
    const bool bClosed = std::fclose(pFile) == 0;
    if (bWritten && bClosed) pStaged->Commit();
}

HRESULT CMediaWriter::OpenOutput(const char* pszName) {
    return ReopenByName(
        pszName, "Didn't like the output file name", [this] { CloseOutput(); },
        [this](const WCHAR* pwszName) { return CreateWriter(pwszName); });
}

HRESULT CMediaWriter::CreateWriter(const WCHAR* pwszName) {
    if (pwszName == nullptr) pwszName = L"";
    if (std::wcslen(pwszName) + 1 > kFileNameChars) {
        RecordLastError("Didn't like the output file name", E_INVALIDARG);
        return E_INVALIDARG;
    }
    std::wcscpy(m_wszFileName, pwszName);

    HRESULT hr = S_OK;
    if (m_pWMWriter == nullptr) {
        hr = WMCreateWriter(nullptr, &m_pWMWriter);
        if (FAILED(hr)) {
            m_pWMWriter = nullptr;
            RecordLastError("Could not create Writer", hr);
            return hr;
        }
        if (m_bHoldOutput) ApplyHold();
        ApplyRateControl();
    }
    if (m_pProfile != nullptr) return StartWriting();
    return hr;
}

HRESULT CMediaWriter::StartWriting() {
    if (m_pWMWriter == nullptr || m_pProfile == nullptr) return S_OK;

    HRESULT hr = m_pWMWriter->SetProfile(m_pProfile);
    if (FAILED(hr)) {
        RecordLastError("Could not associate profile with writer", hr);
        return hr;
    }
    hr = m_pWMWriter->SetOutputFilename(m_wszFileName);
    if (FAILED(hr)) {
        RecordLastError("Didn't like the output file name", hr, FileSubject());
        return hr;
    }
    hr = m_pWMWriter->BeginWriting();
    if (FAILED(hr)) {
        RecordLastError("Could not begin writing file", hr, FileSubject());
        return hr;
    }
    m_bWriting = TRUE;
    m_dFileOrigin = m_dLastTime;
    m_nFileSamples = 0;
    m_cnsFileLast = 0;
    return hr;
}

std::string CMediaWriter::FileSubject() const {
    std::string subject;
    for (const WCHAR* p = m_wszFileName; *p != L'\0'; ++p) {
        subject += static_cast<char>(static_cast<unsigned char>(*p));
    }
    return subject;
}

double CMediaWriter::GetFileDuration() const {
    return static_cast<double>(m_cnsFileLast) / static_cast<double>(varnel::kUnitsPerSecond);
}

void CMediaWriter::HoldOutput(bool bHold) {
    m_bHoldOutput = bHold;
    ApplyHold();
}

void CMediaWriter::ApplyHold() {
    if (m_pWMWriter == nullptr) return;
    if (TComHolder<IVarnelWriterHold> pHold = WriterHold()) {
        pHold->SetHoldOutput(m_bHoldOutput ? TRUE : FALSE);
    }
}

template <class I>
TComHolder<I> CMediaWriter::WriterExtension(REFIID iid) const {
    void* pExtension = nullptr;
    if (m_pWMWriter == nullptr || FAILED(m_pWMWriter->QueryInterface(iid, &pExtension))) {
        return nullptr;
    }
    return TComHolder<I>(static_cast<I*>(pExtension));
}

TComHolder<IVarnelWriterHold> CMediaWriter::WriterHold() const {
    return WriterExtension<IVarnelWriterHold>(IID_IVarnelWriterHold);
}

TComHolder<IVarnelWriterSettings> CMediaWriter::WriterSettings() const {
    return WriterExtension<IVarnelWriterSettings>(IID_IVarnelWriterSettings);
}

void CMediaWriter::SetOutputQuality(int nQuality) {
    m_bRateControlSet = true;
    m_bOutputBitRate = false;
    m_nOutputQuality = nQuality;
    ApplyRateControl();
}

void CMediaWriter::SetOutputBitRate(DWORD dwBitRate) {
    m_bRateControlSet = true;
    m_bOutputBitRate = true;
    m_dwOutputBitRate = dwBitRate;
    ApplyRateControl();
}

void CMediaWriter::ApplyRateControl() {
    if (m_pWMWriter == nullptr || !m_bRateControlSet) return;
    if (TComHolder<IVarnelWriterSettings> pSettings = WriterSettings()) {
        if (m_bOutputBitRate) {
            pSettings->SetBitRate(m_dwOutputBitRate);
        } else {
            pSettings->SetQuality(m_nOutputQuality);
        }
    }
}

HRESULT CMediaWriter::FinishHeldOutput(bool bCommit) {
    TComHolder<IVarnelWriterHold> pHold = WriterHold();
    if (!pHold) return S_OK;
    if (!bCommit) return pHold->DiscardHeldOutput();
    const HRESULT hr = pHold->CommitHeldOutput();
    if (FAILED(hr)) RecordLastError("Could not end writing", hr, FileSubject());
    return hr;
}

HRESULT CMediaWriter::CloseOutput() {
    if (m_pWMWriter == nullptr || !m_bWriting) return S_OK;
    const HRESULT hr = EndFile();
    if (FAILED(hr)) {
        RecordLastError("Could not end writing", hr, FileSubject());
        return hr;
    }
    m_bWriting = FALSE;
    return hr;
}

HRESULT CMediaWriter::EndFile() {
    TComHolder<IVarnelWriterHold> pHold = m_nFileSamples == 0 ? WriterHold() : nullptr;
    if (!pHold) return m_pWMWriter->EndWriting();
    // Nothing was written: the finished file stays staged and is dropped, never put at its name.
    pHold->SetHoldOutput(TRUE);
    const HRESULT hr = m_pWMWriter->EndWriting();
    pHold->DiscardHeldOutput();
    pHold->SetHoldOutput(m_bHoldOutput ? TRUE : FALSE);
    return hr;
}

HRESULT CMediaWriter::WriteFrame(INSSBuffer* pSample, double dTime, bool bPixelsAsRead) {
    const double dUnits = (dTime - m_dFileOrigin) * static_cast<double>(varnel::kUnitsPerSecond);
    const bool bInRange = std::isfinite(dUnits) && dUnits > -1.0 && dUnits < kUnitsLimit;
    const QWORD cnsTime = bInRange ? static_cast<QWORD>(static_cast<int64_t>(dUnits)) : 0;
    if (std::isfinite(dTime)) m_dLastTime = dTime;
    if (m_pWMWriter == nullptr) return S_OK;

    // Without a file under way the writer would refuse the sample: it is not offered, and that
    // is no new failure to record.
    HRESULT hr = NS_E_INVALID_REQUEST;
    if (m_bWriting) {
        const DWORD dwFlags = bPixelsAsRead ? WM_SF_VARNEL_PIXELS_AS_READ : 0;
        hr = bInRange ? m_pWMWriter->WriteSample(0, cnsTime, dwFlags, pSample) : E_INVALIDARG;
        if (FAILED(hr)) {
            RecordLastError("Could not write sample", hr, FileSubject());
        } else {
            ++m_nFileSamples;
            m_cnsFileLast = cnsTime;
        }
    }
    if (m_pfnWriteObserver != nullptr) {
        m_pfnWriteObserver(m_pObserverContext, pSample, cnsTime, hr);
    }
    return hr;
}
