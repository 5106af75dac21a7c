// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/fakes/FakeRuntime.h"

#include <algorithm>
#include <utility>

// Reference counting shared by every fake object. An object whose count reaches 0 runs
// OnFinalRelease (giving up what it holds) and is retired, not freed: the runtime frees it at
// Reset, so later misuse is recorded as a fault.
class CFakeObject {
  public:
    explicit CFakeObject(const char* kind) : m_kind(kind) { Fake().objects.emplace_back(this); }
    virtual ~CFakeObject() = default;
    ULONG Refs() const { return m_nRefs; }

  protected:
    // True, with a fault recorded, when the object is already retired.
    bool Retired(const std::string& misuse) {
        if (m_nRefs == 0) Fake().faults.push_back(m_kind + misuse);
        return m_nRefs == 0;
    }

    std::string m_kind;
    ULONG m_nRefs = 1;
};

namespace {

// IUnknown of a fake object implementing interface I.
template <class I>
class TFake : public I, public CFakeObject {
  public:
    TFake(const char* kind, const IID& iid) : CFakeObject(kind), m_iid(iid) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (const HRESULT hr = Enter("QueryInterface"); FAILED(hr)) return hr;
        if (riid != IID_IUnknown && riid != m_iid) return QueryOther(riid, ppv);
        AddRef();
        *ppv = static_cast<I*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return Retired(" revived by AddRef") ? 0 : ++m_nRefs; }
    ULONG Release() override {
        if (Retired(" released once too often")) return 0;
        if (--m_nRefs == 0) OnFinalRelease();
        return m_nRefs;
    }

  protected:
    // The failure scripted for the call, S_OK otherwise.
    HRESULT Enter(const char* method) {
        Retired(std::string("::") + method + " called after its last release");
        return Fake().Enter(m_kind + "::" + method);
    }
    virtual HRESULT QueryOther(REFIID /*riid*/, void** /*ppv*/) { return E_NOINTERFACE; }
    virtual void OnFinalRelease() {}

  private:
    const IID& m_iid;
};

class CFakeSample final : public TFake<INSSBuffer> {
  public:
    explicit CFakeSample(std::vector<BYTE> bytes)
        : TFake("INSSBuffer", IID_INSSBuffer), m_bytes(std::move(bytes)) {}

    HRESULT GetLength(DWORD* pdwLength) override { return GetBufferAndLength(nullptr, pdwLength); }
    HRESULT SetLength(DWORD /*dwLength*/) override { return E_NOTIMPL; }
    HRESULT GetMaxLength(DWORD* pdwLength) override { return GetLength(pdwLength); }
    HRESULT GetBuffer(BYTE** ppBuffer) override { return GetBufferAndLength(ppBuffer, nullptr); }
    HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override {
        const HRESULT hr = Enter("GetBufferAndLength");
        if (ppdwBuffer != nullptr) *ppdwBuffer = SUCCEEDED(hr) ? m_bytes.data() : nullptr;
        if (pdwLength != nullptr) *pdwLength = static_cast<DWORD>(m_bytes.size());
        return hr;
    }

  private:
    std::vector<BYTE> m_bytes;
};

// Holds one reference to the open file's (real) profile while a file is open.
class CFakeSyncReader final : public TFake<IWMSyncReader> {
  public:
    CFakeSyncReader() : TFake("IWMSyncReader", IID_IWMSyncReader) {}
    ~CFakeSyncReader() override { OnFinalRelease(); }  // a reader still open at Reset

    HRESULT Open(LPCWSTR pwszFilename) override {
        if (const HRESULT hr = Enter("Open"); FAILED(hr)) return hr;
        const auto it = Fake().inputs.find(pwszFilename);
        if (it == Fake().inputs.end()) return NS_E_FILE_NOT_FOUND;
        OnFinalRelease();
        m_input = it->second;
        return wmf::CreateProfile(m_input.streams, &m_pProfile);
    }
    HRESULT Close() override {
        const HRESULT hr = Enter("Close");
        if (SUCCEEDED(hr)) OnFinalRelease();
        return hr;
    }
    HRESULT SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                               WMT_STREAM_SELECTION* /*pSelections*/) override {
        HRESULT hr = Enter("SetStreamsSelected");
        for (WORD i = 0; i < cStreamCount; ++i) {
            const auto has = [&](const auto& s) { return s.wStreamNumber == pwStreamNumbers[i]; };
            if (SUCCEEDED(hr) && !std::ranges::any_of(m_input.streams, has))
                hr = NS_E_INVALID_STREAM;
        }
        return hr;
    }
    HRESULT SetReadStreamSamples(WORD, BOOL) override { return Enter("SetReadStreamSamples"); }
    HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                          QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                          WORD* pwStreamNum) override {
        *ppSample = nullptr;
        if (const HRESULT hr = Enter("GetNextSample"); FAILED(hr)) return hr;
        while (m_nNext < m_input.frames.size()) {
            const FakeFrame& frame = m_input.frames[m_nNext++];
            if (frame.stream != wStreamNum) continue;
            *ppSample = new CFakeSample(frame.bytes);
            *pcnsSampleTime = frame.time;
            *pcnsDuration = frame.duration;
            *pdwFlags = *pdwOutputNum = 0;
            *pwStreamNum = frame.stream;
            return S_OK;
        }
        return NS_E_NO_MORE_SAMPLES;
    }

  protected:
    HRESULT QueryOther(REFIID riid, void** ppv) override {
        if (riid != IID_IWMProfile || m_pProfile == nullptr) return E_NOINTERFACE;
        m_pProfile->AddRef();
        *ppv = m_pProfile;
        return S_OK;
    }
    void OnFinalRelease() override {
        if (m_pProfile != nullptr) m_pProfile->Release();
        m_pProfile = nullptr;
        m_input = FakeInput{};
        m_nNext = 0;
    }

  private:
    IWMProfile* m_pProfile = nullptr;
    FakeInput m_input;
    size_t m_nNext = 0;
};

class CFakeWriter final : public TFake<IWMWriter> {
  public:
    CFakeWriter() : TFake("IWMWriter", IID_IWMWriter) {}

    HRESULT SetProfile(IWMProfile* pProfile) override {
        if (const HRESULT hr = Enter("SetProfile"); FAILED(hr)) return hr;
        if (m_pOutput != nullptr) return NS_E_INVALID_REQUEST;
        DWORD count = 0;
        m_bProfile = SUCCEEDED(pProfile->GetStreamCount(&count)) && count > 0;
        return m_bProfile ? S_OK : NS_E_INVALIDPROFILE;
    }
    HRESULT SetOutputFilename(LPCWSTR pwszFilename) override {
        if (const HRESULT hr = Enter("SetOutputFilename"); FAILED(hr)) return hr;
        if (m_pOutput != nullptr) return NS_E_INVALID_REQUEST;
        m_fileName = pwszFilename;
        return m_fileName.empty() ? E_INVALIDARG : S_OK;
    }
    HRESULT BeginWriting() override {
        if (const HRESULT hr = Enter("BeginWriting"); FAILED(hr)) return hr;
        if (m_pOutput != nullptr || !m_bProfile || m_fileName.empty()) return NS_E_INVALID_REQUEST;
        m_pOutput = &Fake().outputs.emplace_back(FakeOutput{m_fileName});
        return S_OK;
    }
    HRESULT WriteSample(DWORD, QWORD, DWORD, INSSBuffer*) override {
        if (const HRESULT hr = Enter("WriteSample"); FAILED(hr)) return hr;
        if (m_pOutput == nullptr) return NS_E_INVALID_REQUEST;
        ++m_pOutput->samples;
        return S_OK;
    }
    HRESULT EndWriting() override {
        if (const HRESULT hr = Enter("EndWriting"); FAILED(hr)) return hr;
        if (m_pOutput == nullptr) return NS_E_INVALID_REQUEST;
        m_pOutput->ended = true;
        m_pOutput = nullptr;
        return S_OK;
    }

  private:
    bool m_bProfile = false;
    std::wstring m_fileName;
    FakeOutput* m_pOutput = nullptr;  // the file being written, if any
};

}  // namespace

void CFakeRuntime::Reset() { *this = CFakeRuntime(); }

CFakeRuntime& Fake() {
    static CFakeRuntime runtime;
    return runtime;
}

int CFakeRuntime::LiveObjects() const {
    return static_cast<int>(std::ranges::count_if(objects, [](auto& p) { return p->Refs() > 0; }));
}

std::vector<INSSBuffer*> CFakeRuntime::Samples() const {
    std::vector<INSSBuffer*> samples;
    for (const auto& p : objects)
        if (auto* pSample = dynamic_cast<CFakeSample*>(p.get())) samples.push_back(pSample);
    return samples;
}

ULONG CFakeRuntime::RefCount(INSSBuffer* pSample) {
    return dynamic_cast<CFakeSample&>(*pSample).Refs();
}

HRESULT CFakeRuntime::Enter(const std::string& call) {
    const auto it = std::ranges::find(m_failures, call, &std::pair<std::string, HRESULT>::first);
    if (it == m_failures.end()) return S_OK;
    const HRESULT status = it->second;
    m_failures.erase(it);
    return status;
}

HRESULT WMCreateSyncReader(IUnknown* /*pUnkCert*/, DWORD /*dwRights*/,
                           IWMSyncReader** ppSyncReader) {
    const HRESULT hr = Fake().Enter("WMCreateSyncReader");
    *ppSyncReader = SUCCEEDED(hr) ? new CFakeSyncReader() : nullptr;
    return hr;
}

HRESULT WMCreateWriter(IUnknown* /*pUnkReserved*/, IWMWriter** ppWriter) {
    const HRESULT hr = Fake().Enter("WMCreateWriter");
    *ppWriter = SUCCEEDED(hr) ? new CFakeWriter() : nullptr;
    return hr;
}
