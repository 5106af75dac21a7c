#include "tests/fakes/FakeRuntime.h"

#include <algorithm>
#include <cstring>
#include <utility>

// Reference counting shared by every fake object. An object whose count reaches 0 runs
// OnFinalRelease (giving up what it holds) and is retired, not freed: the runtime frees it at
// Reset, so later misuse is recorded as a fault.
class CFakeObject {
  public:
    explicit CFakeObject(const char* kind) : m_kind(kind), m_nId(Fake().Adopt(this)) {}
    virtual ~CFakeObject() = default;
    ULONG Refs() const { return m_nRefs; }

  protected:
    // True, with a fault recorded, when the object is already retired.
    bool Retired(const std::string& misuse) {
        if (m_nRefs == 0) Fake().Fault(m_kind + "#" + std::to_string(m_nId) + misuse);
        return m_nRefs == 0;
    }

    std::string m_kind;
    int m_nId;
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
    HRESULT GetBuffer(BYTE** ppdwBuffer) override {
        return GetBufferAndLength(ppdwBuffer, nullptr);
    }
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
        const FakeInput* pInput = Fake().FindInput(pwszFilename);
        if (pInput == nullptr) return NS_E_FILE_NOT_FOUND;
        OnFinalRelease();
        m_input = *pInput;
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
        for (WORD i = 0; SUCCEEDED(hr) && i < cStreamCount; ++i) hr = Check(pwStreamNumbers[i]);
        return hr;
    }
    HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL /*fCompressed*/) override {
        const HRESULT hr = Enter("SetReadStreamSamples");
        return FAILED(hr) ? hr : Check(wStreamNum);
    }
    HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                          QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                          WORD* pwStreamNum) override {
        *ppSample = nullptr;
        if (const HRESULT hr = Enter("GetNextSample"); FAILED(hr)) return hr;
        if (const HRESULT hr = Check(wStreamNum); FAILED(hr)) return hr;
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

    // The open file's play duration: the end of its last sample; 0 when there is none.
    QWORD Duration() const {
        QWORD end = 0;
        for (const FakeFrame& frame : m_input.frames) {
            end = std::max(end, frame.time + frame.duration);
        }
        return end;
    }

  protected:
    HRESULT QueryOther(REFIID riid, void** ppv) override;
    void OnFinalRelease() override {
        if (m_pProfile != nullptr) m_pProfile->Release();
        m_pProfile = nullptr;
        m_input = FakeInput{};
        m_nNext = 0;
    }

  private:
    // NS_E_INVALID_REQUEST while no file is open, NS_E_INVALID_STREAM for a stream it lacks.
    HRESULT Check(WORD number) const {
        if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
        return std::any_of(m_input.streams.begin(), m_input.streams.end(),
                           [&](const auto& s) { return s.wStreamNumber == number; })
                   ? S_OK
                   : NS_E_INVALID_STREAM;
    }

    IWMProfile* m_pProfile = nullptr;
    FakeInput m_input;
    size_t m_nNext = 0;
};

// The header of the file its sync reader has open; holds one reference to that reader. Only the
// duration is known.
class CFakeHeaderInfo final : public TFake<IWMHeaderInfo> {
  public:
    explicit CFakeHeaderInfo(CFakeSyncReader* pReader)
        : TFake("IWMHeaderInfo", IID_IWMHeaderInfo), m_pReader(pReader) {
        m_pReader->AddRef();
    }

    HRESULT GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                               BYTE* pValue, WORD* pcbLength) override {
        if (const HRESULT hr = Enter("GetAttributeByName"); FAILED(hr)) return hr;
        const QWORD duration = m_pReader->Duration();
        if (*pwStreamNum != 0 || std::wstring(pszName) != g_wszWMDuration || duration == 0) {
            return ASF_E_NOTFOUND;
        }
        *pType = WMT_TYPE_QWORD;
        const bool bFits = *pcbLength >= sizeof(QWORD);
        *pcbLength = sizeof(QWORD);
        if (pValue == nullptr) return S_OK;
        if (!bFits) return ASF_E_BUFFERTOOSMALL;
        std::memcpy(pValue, &duration, sizeof(QWORD));
        return S_OK;
    }

  protected:
    void OnFinalRelease() override { m_pReader->Release(); }

  private:
    CFakeSyncReader* m_pReader;
};

HRESULT CFakeSyncReader::QueryOther(REFIID riid, void** ppv) {
    if (riid == IID_IWMHeaderInfo) {
        *ppv = static_cast<IWMHeaderInfo*>(new CFakeHeaderInfo(this));
        return S_OK;
    }
    if (riid != IID_IWMProfile) return E_NOINTERFACE;
    if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
    m_pProfile->AddRef();
    *ppv = m_pProfile;
    return S_OK;
}

class CFakeWriter final : public TFake<IWMWriter> {
  public:
    CFakeWriter() : TFake("IWMWriter", IID_IWMWriter) {}

    HRESULT SetProfile(IWMProfile* pProfile) override {
        if (const HRESULT hr = Enter("SetProfile"); FAILED(hr)) return hr;
        if (m_pOutput != nullptr) return NS_E_INVALID_REQUEST;
        DWORD count = 0;
        int nVideo = 0;
        pProfile->GetStreamCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            IWMStreamConfig* pConfig = nullptr;
            GUID type{};
            if (SUCCEEDED(pProfile->GetStream(i, &pConfig))) pConfig->GetStreamType(&type);
            if (pConfig != nullptr) pConfig->Release();
            nVideo += type == WMMEDIATYPE_Video;
        }
        m_bProfile = nVideo == 1;
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
        m_pOutput = &Fake().NewOutput(m_fileName);
        return S_OK;
    }
    HRESULT WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD /*dwFlags*/,
                        INSSBuffer* pSample) override {
        if (const HRESULT hr = Enter("WriteSample"); FAILED(hr)) return hr;
        if (m_pOutput == nullptr) return NS_E_INVALID_REQUEST;
        if (dwInputNum != 0) return NS_E_INVALID_STREAM;
        BYTE* pBytes = nullptr;
        DWORD length = 0;
        const HRESULT hr = pSample->GetBufferAndLength(&pBytes, &length);
        if (SUCCEEDED(hr)) {
            m_pOutput->samples.push_back({cnsSampleTime, pSample, {pBytes, pBytes + length}});
        }
        return hr;
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

CFakeRuntime& Fake() {
    static CFakeRuntime runtime;
    return runtime;
}

void CFakeRuntime::Reset() { *this = CFakeRuntime(); }

int CFakeRuntime::LiveObjects() const {
    return static_cast<int>(std::count_if(m_objects.begin(), m_objects.end(),
                                          [](const auto& p) { return p->Refs() > 0; }));
}

std::vector<INSSBuffer*> CFakeRuntime::Samples() const {
    std::vector<INSSBuffer*> samples;
    for (const auto& p : m_objects) {
        if (auto* pSample = dynamic_cast<CFakeSample*>(p.get())) samples.push_back(pSample);
    }
    return samples;
}

ULONG CFakeRuntime::RefCount(INSSBuffer* pSample) {
    return dynamic_cast<CFakeSample&>(*pSample).Refs();
}

HRESULT CFakeRuntime::Enter(const std::string& call) {
    const auto it = std::find_if(m_failures.begin(), m_failures.end(),
                                 [&](const auto& failure) { return failure.first == call; });
    if (it == m_failures.end()) return S_OK;
    const HRESULT status = it->second;
    m_failures.erase(it);
    return status;
}

int CFakeRuntime::Adopt(CFakeObject* pObject) {
    m_objects.emplace_back(pObject);
    return static_cast<int>(m_objects.size());
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
