#include "tests/fakes/FakeRuntime.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>

#include "platform/wmf/SampleBuffer.h"

struct FakeInput {
    std::wstring name;
    std::vector<FakeStream> streams;
    std::vector<FakeFrame> frames;
};

struct FakeFailure {
    std::string call;
    int nRemaining;  // calls up to and including the failing one
    bool bAlways;
    HRESULT status;
};

// Reference counting shared by every fake object. An object whose count reaches 0 runs
// OnFinalRelease (giving up what it holds) and is retired, not freed: the runtime frees it at
// Reset, so later misuse is recorded as a fault.
class CFakeObject {
  public:
    explicit CFakeObject(std::string kind) : m_kind(std::move(kind)) { m_nId = Fake().Adopt(this); }
    virtual ~CFakeObject() = default;

    const std::string& Kind() const { return m_kind; }
    ULONG Refs() const { return m_nRefs; }

  protected:
    // Records Kind::method; a call on a retired object is a fault.
    HRESULT Enter(const char* method) {
        if (m_nRefs == 0) {
            Fake().Fault(Name() + "::" + method + " called after its last release");
        }
        return Fake().Enter(m_kind + "::" + method);
    }
    ULONG AddRefObject() {
        Fake().Record(m_kind + "::AddRef");
        if (m_nRefs == 0) {
            Fake().Fault(Name() + " revived by AddRef after its last release");
            return 0;
        }
        return ++m_nRefs;
    }
    ULONG ReleaseObject() {
        Fake().Record(m_kind + "::Release");
        if (m_nRefs == 0) {
            Fake().Fault(Name() + " released once too often");
            return 0;
        }
        if (--m_nRefs == 0) OnFinalRelease();
        return m_nRefs;
    }
    virtual void OnFinalRelease() {}
    std::string Name() const { return m_kind + "#" + std::to_string(m_nId); }

  private:
    std::string m_kind;
    int m_nId = 0;
    ULONG m_nRefs = 1;
};

namespace {

template <class I>
constexpr const IID& IidOf();
template <>
constexpr const IID& IidOf<INSSBuffer>() {
    return IID_INSSBuffer;
}
template <>
constexpr const IID& IidOf<IWMMediaProps>() {
    return IID_IWMMediaProps;
}
template <>
constexpr const IID& IidOf<IWMStreamConfig>() {
    return IID_IWMStreamConfig;
}
template <>
constexpr const IID& IidOf<IWMProfile>() {
    return IID_IWMProfile;
}
template <>
constexpr const IID& IidOf<IWMProfileManager>() {
    return IID_IWMProfileManager;
}
template <>
constexpr const IID& IidOf<IWMSyncReader>() {
    return IID_IWMSyncReader;
}
template <>
constexpr const IID& IidOf<IWMWriter>() {
    return IID_IWMWriter;
}
template <>
constexpr const IID& IidOf<IWMHeaderInfo>() {
    return IID_IWMHeaderInfo;
}

template <class T>
void SetNull(T** pp) {
    if (pp != nullptr) *pp = nullptr;
}

// IUnknown of a fake object implementing interface I.
template <class I>
class TFake : public I, public CFakeObject {
  public:
    explicit TFake(const char* kind) : CFakeObject(kind) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        const HRESULT hr = Enter("QueryInterface");
        if (FAILED(hr)) {
            SetNull(ppv);
            return hr;
        }
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IidOf<I>()) {
            AddRef();
            *ppv = static_cast<I*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return QueryOther(riid, ppv);
    }
    ULONG AddRef() override { return AddRefObject(); }
    ULONG Release() override { return ReleaseObject(); }

  protected:
    virtual HRESULT QueryOther(REFIID /*riid*/, void** /*ppv*/) { return E_NOINTERFACE; }
};

size_t MediaTypeSize(const FakeStream& stream) {
    return sizeof(WM_MEDIA_TYPE) + stream.format.size();
}

class CFakeSample final : public TFake<INSSBuffer> {
  public:
    explicit CFakeSample(std::vector<BYTE> bytes)
        : TFake("INSSBuffer"), m_bytes(std::move(bytes)), m_dwLength(Size()) {}

    HRESULT GetLength(DWORD* pdwLength) override {
        const HRESULT hr = Enter("GetLength");
        if (FAILED(hr)) return hr;
        if (pdwLength == nullptr) return E_POINTER;
        *pdwLength = m_dwLength;
        return S_OK;
    }
    HRESULT SetLength(DWORD dwLength) override {
        const HRESULT hr = Enter("SetLength");
        if (FAILED(hr)) return hr;
        if (dwLength > Size()) return E_INVALIDARG;
        m_dwLength = dwLength;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* pdwLength) override {
        const HRESULT hr = Enter("GetMaxLength");
        if (FAILED(hr)) return hr;
        if (pdwLength == nullptr) return E_POINTER;
        *pdwLength = Size();
        return S_OK;
    }
    HRESULT GetBuffer(BYTE** ppdwBuffer) override {
        const HRESULT hr = Enter("GetBuffer");
        if (FAILED(hr)) {
            SetNull(ppdwBuffer);
            return hr;
        }
        if (ppdwBuffer == nullptr) return E_POINTER;
        *ppdwBuffer = m_bytes.data();
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override {
        const HRESULT hr = Enter("GetBufferAndLength");
        if (FAILED(hr)) {
            SetNull(ppdwBuffer);
            return hr;
        }
        if (ppdwBuffer == nullptr || pdwLength == nullptr) return E_POINTER;
        *ppdwBuffer = m_bytes.data();
        *pdwLength = m_dwLength;
        return S_OK;
    }

  private:
    DWORD Size() const { return static_cast<DWORD>(m_bytes.size()); }

    std::vector<BYTE> m_bytes;
    DWORD m_dwLength;
};

class CFakeMediaProps final : public TFake<IWMMediaProps> {
  public:
    explicit CFakeMediaProps(FakeStream stream) : TFake("IWMMediaProps"), m_stream(stream) {}

    HRESULT GetType(GUID* pguidType) override {
        const HRESULT hr = Enter("GetType");
        if (FAILED(hr)) return hr;
        if (pguidType == nullptr) return E_POINTER;
        *pguidType = m_stream.majortype;
        return S_OK;
    }
    HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) override {
        const HRESULT hr = Enter("GetMediaType");
        if (FAILED(hr)) return hr;
        if (pcbType == nullptr) return E_POINTER;
        const DWORD size = static_cast<DWORD>(MediaTypeSize(m_stream));
        if (pType == nullptr) {
            *pcbType = size;
            return S_OK;
        }
        if (*pcbType < size) {
            *pcbType = size;
            return ASF_E_BUFFERTOOSMALL;
        }
        *pType = WM_MEDIA_TYPE{};
        pType->majortype = m_stream.majortype;
        pType->subtype = m_stream.subtype;
        pType->bFixedSizeSamples = m_stream.bFixedSizeSamples;
        pType->bTemporalCompression = m_stream.bTemporalCompression;
        pType->lSampleSize = m_stream.lSampleSize;
        pType->formattype = m_stream.formattype;
        pType->cbFormat = static_cast<ULONG>(m_stream.format.size());
        pType->pbFormat = reinterpret_cast<BYTE*>(pType) + sizeof(WM_MEDIA_TYPE);
        std::copy(m_stream.format.begin(), m_stream.format.end(), pType->pbFormat);
        *pcbType = size;
        return S_OK;
    }

  private:
    FakeStream m_stream;
};

class CFakeStreamConfig final : public TFake<IWMStreamConfig> {
  public:
    explicit CFakeStreamConfig(FakeStream stream) : TFake("IWMStreamConfig"), m_stream(stream) {}

    const FakeStream& Stream() const { return m_stream; }

    HRESULT GetStreamType(GUID* pguidStreamType) override {
        const HRESULT hr = Enter("GetStreamType");
        if (FAILED(hr)) return hr;
        if (pguidStreamType == nullptr) return E_POINTER;
        *pguidStreamType = m_stream.majortype;
        return S_OK;
    }
    HRESULT GetStreamNumber(WORD* pwStreamNum) override {
        const HRESULT hr = Enter("GetStreamNumber");
        if (FAILED(hr)) return hr;
        if (pwStreamNum == nullptr) return E_POINTER;
        *pwStreamNum = m_stream.number;
        return S_OK;
    }
    HRESULT GetBitrate(DWORD* pdwBitrate) override {
        const HRESULT hr = Enter("GetBitrate");
        if (FAILED(hr)) return hr;
        if (pdwBitrate == nullptr) return E_POINTER;
        *pdwBitrate = m_stream.bitrate;
        return S_OK;
    }

  protected:
    HRESULT QueryOther(REFIID riid, void** ppv) override {
        if (riid != IID_IWMMediaProps) return E_NOINTERFACE;
        *ppv = static_cast<IWMMediaProps*>(new CFakeMediaProps(m_stream));
        return S_OK;
    }

  private:
    FakeStream m_stream;
};

// Holds one reference to each of its stream configurations.
class CFakeProfile final : public TFake<IWMProfile> {
  public:
    explicit CFakeProfile(const std::vector<FakeStream>& streams) : TFake("IWMProfile") {
        for (const FakeStream& stream : streams) m_configs.push_back(new CFakeStreamConfig(stream));
    }

    std::vector<FakeStream> Streams() const {
        std::vector<FakeStream> streams;
        for (const CFakeStreamConfig* pConfig : m_configs) streams.push_back(pConfig->Stream());
        return streams;
    }

    HRESULT GetStreamCount(DWORD* pcStreams) override {
        const HRESULT hr = Enter("GetStreamCount");
        if (FAILED(hr)) return hr;
        if (pcStreams == nullptr) return E_POINTER;
        *pcStreams = static_cast<DWORD>(m_configs.size());
        return S_OK;
    }
    HRESULT GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) override {
        const HRESULT hr = Enter("GetStream");
        if (FAILED(hr)) {
            SetNull(ppConfig);
            return hr;
        }
        if (ppConfig == nullptr) return E_POINTER;
        if (dwStreamIndex >= m_configs.size()) {
            *ppConfig = nullptr;
            return E_INVALIDARG;
        }
        m_configs[dwStreamIndex]->AddRef();
        *ppConfig = m_configs[dwStreamIndex];
        return S_OK;
    }
    HRESULT RemoveStream(IWMStreamConfig* pConfig) override {
        const HRESULT hr = Enter("RemoveStream");
        if (FAILED(hr)) return hr;
        if (pConfig == nullptr) return E_POINTER;
        auto it = std::find(m_configs.begin(), m_configs.end(), pConfig);
        if (it == m_configs.end()) return NS_E_INVALID_STREAM;
        (*it)->Release();
        m_configs.erase(it);
        return S_OK;
    }

  protected:
    void OnFinalRelease() override {
        for (CFakeStreamConfig* pConfig : m_configs) pConfig->Release();
        m_configs.clear();
    }

  private:
    std::vector<CFakeStreamConfig*> m_configs;
};

CFakeProfile* AsFakeProfile(IWMProfile* pProfile) { return dynamic_cast<CFakeProfile*>(pProfile); }

// ---------------------------------------------------------------------------------------------
// The profile text

std::wstring Hex(const std::vector<BYTE>& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (BYTE b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

std::optional<std::vector<BYTE>> Unhex(const std::wstring& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<BYTE> bytes;
    auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<BYTE>(hi * 16 + lo));
    }
    return bytes;
}

std::optional<GUID> ParseGuid(const std::wstring& text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return std::nullopt;
    std::wstring hex;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != L'-') hex += text[i];
    }
    const auto bytes = Unhex(hex);
    if (!bytes || bytes->size() != 16) return std::nullopt;
    const std::vector<BYTE>& b = *bytes;
    GUID guid{};
    guid.Data1 = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                 static_cast<uint32_t>(b[2]) << 8 | b[3];
    guid.Data2 = static_cast<uint16_t>(b[4] << 8 | b[5]);
    guid.Data3 = static_cast<uint16_t>(b[6] << 8 | b[7]);
    std::copy(b.begin() + 8, b.end(), guid.Data4);
    return guid;
}

std::optional<unsigned long> ParseNumber(const std::wstring& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value;
}

// The value of key="..." in a line; the name comes last and runs to the line's closing quote.
std::optional<std::wstring> Attribute(const std::wstring& line, const std::wstring& key) {
    const std::wstring start = L" " + key + L"=\"";
    const size_t from = line.find(start);
    if (from == std::wstring::npos) return std::nullopt;
    const size_t begin = from + start.size();
    const size_t end = key == L"name" ? line.rfind(L"\"/>") : line.find(L'"', begin);
    if (end == std::wstring::npos || end < begin) return std::nullopt;
    return line.substr(begin, end - begin);
}

const wchar_t kProfileOpen[] = L"<profile fake=\"1\">";
const wchar_t kProfileClose[] = L"</profile>";

std::wstring ProfileText(const std::vector<FakeStream>& streams) {
    std::wstring text = std::wstring(kProfileOpen) + L"\n";
    for (const FakeStream& s : streams) {
        text += L"<stream majortype=\"" + FakeGuidText(s.majortype) + L"\" number=\"" +
                std::to_wstring(s.number) + L"\" bitrate=\"" + std::to_wstring(s.bitrate) +
                L"\" subtype=\"" + FakeGuidText(s.subtype) + L"\" fixed=\"" +
                std::to_wstring(s.bFixedSizeSamples) + L"\" temporal=\"" +
                std::to_wstring(s.bTemporalCompression) + L"\" samplesize=\"" +
                std::to_wstring(s.lSampleSize) + L"\" formattype=\"" + FakeGuidText(s.formattype) +
                L"\" format=\"" + Hex(s.format) + L"\" name=\"" + s.name + L"\"/>\n";
    }
    return text + kProfileClose;
}

std::optional<std::vector<FakeStream>> ParseProfileText(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t begin = 0;
    while (begin <= text.size()) {
        const size_t end = std::min(text.find(L'\n', begin), text.size());
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    if (lines.size() < 2 || lines.front() != kProfileOpen || lines.back() != kProfileClose) {
        return std::nullopt;
    }
    std::vector<FakeStream> streams;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (line.rfind(L"<stream ", 0) != 0) return std::nullopt;
        auto get = [&](const wchar_t* key) { return Attribute(line, key); };
        const auto major = get(L"majortype");
        const auto number = get(L"number");
        const auto bitrate = get(L"bitrate");
        const auto subtype = get(L"subtype");
        const auto fixed = get(L"fixed");
        const auto temporal = get(L"temporal");
        const auto sampleSize = get(L"samplesize");
        const auto formattype = get(L"formattype");
        const auto format = get(L"format");
        const auto name = get(L"name");
        if (!major || !number || !bitrate || !subtype || !fixed || !temporal || !sampleSize ||
            !formattype || !format || !name) {
            return std::nullopt;
        }
        FakeStream s;
        const auto majorGuid = ParseGuid(*major);
        const auto subGuid = ParseGuid(*subtype);
        const auto formatGuid = ParseGuid(*formattype);
        const auto num = ParseNumber(*number);
        const auto rate = ParseNumber(*bitrate);
        const auto fix = ParseNumber(*fixed);
        const auto temp = ParseNumber(*temporal);
        const auto size = ParseNumber(*sampleSize);
        const auto bytes = Unhex(*format);
        if (!majorGuid || !subGuid || !formatGuid || !num || *num > 0xFFFF || !rate || !fix ||
            !temp || !size || !bytes) {
            return std::nullopt;
        }
        s.majortype = *majorGuid;
        s.number = static_cast<WORD>(*num);
        s.bitrate = static_cast<DWORD>(*rate);
        s.subtype = *subGuid;
        s.bFixedSizeSamples = static_cast<BOOL>(*fix);
        s.bTemporalCompression = static_cast<BOOL>(*temp);
        s.lSampleSize = static_cast<ULONG>(*size);
        s.formattype = *formatGuid;
        s.format = *bytes;
        s.name = *name;
        streams.push_back(s);
    }
    return streams;
}

class CFakeProfileManager final : public TFake<IWMProfileManager> {
  public:
    CFakeProfileManager() : TFake("IWMProfileManager") {}

    HRESULT SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) override {
        const HRESULT hr = Enter("SaveProfile");
        if (FAILED(hr)) return hr;
        if (pIWMProfile == nullptr || pdwLength == nullptr) return E_POINTER;
        CFakeProfile* pProfile = AsFakeProfile(pIWMProfile);
        if (pProfile == nullptr) return E_INVALIDARG;
        const std::wstring text = ProfileText(pProfile->Streams());
        const DWORD needed = static_cast<DWORD>(text.size() + 1);
        if (pwszProfile == nullptr) {
            *pdwLength = needed;
            return S_OK;
        }
        if (*pdwLength < needed) {
            *pdwLength = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        std::copy(text.c_str(), text.c_str() + needed, pwszProfile);
        *pdwLength = needed;
        return S_OK;
    }
    HRESULT LoadProfileByData(LPCWSTR pwszProfile, IWMProfile** ppProfile) override {
        const HRESULT hr = Enter("LoadProfileByData");
        if (FAILED(hr)) {
            SetNull(ppProfile);
            return hr;
        }
        if (pwszProfile == nullptr || ppProfile == nullptr) return E_POINTER;
        const auto streams = ParseProfileText(pwszProfile);
        if (!streams) {
            *ppProfile = nullptr;
            return NS_E_INVALIDPROFILE;
        }
        *ppProfile = new CFakeProfile(*streams);
        return S_OK;
    }
};

// Holds one reference to the open file's profile while a file is open.
class CFakeSyncReader final : public TFake<IWMSyncReader> {
  public:
    CFakeSyncReader() : TFake("IWMSyncReader") {}

    HRESULT Open(LPCWSTR pwszFilename) override {
        const HRESULT hr = Enter("Open");
        if (FAILED(hr)) return hr;
        if (pwszFilename == nullptr) return E_POINTER;
        const FakeInput* pInput = Fake().FindInput(pwszFilename);
        if (pInput == nullptr) return NS_E_FILE_NOT_FOUND;
        Forget();
        m_frames = pInput->frames;
        m_streams = pInput->streams;
        m_pProfile = new CFakeProfile(m_streams);
        return S_OK;
    }
    HRESULT Close() override {
        const HRESULT hr = Enter("Close");
        if (FAILED(hr)) return hr;
        Forget();
        return S_OK;
    }
    HRESULT SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                               WMT_STREAM_SELECTION* pSelections) override {
        const HRESULT hr = Enter("SetStreamsSelected");
        if (FAILED(hr)) return hr;
        if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
        if (cStreamCount == 0 || pwStreamNumbers == nullptr || pSelections == nullptr) {
            return E_INVALIDARG;
        }
        for (WORD i = 0; i < cStreamCount; ++i) {
            if (!HasStream(pwStreamNumbers[i])) return NS_E_INVALID_STREAM;
        }
        for (WORD i = 0; i < cStreamCount; ++i) {
            m_selection.push_back({pwStreamNumbers[i], pSelections[i]});
        }
        return S_OK;
    }
    HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL /*fCompressed*/) override {
        const HRESULT hr = Enter("SetReadStreamSamples");
        if (FAILED(hr)) return hr;
        if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
        if (!HasStream(wStreamNum)) return NS_E_INVALID_STREAM;
        return S_OK;
    }
    HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                          QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                          WORD* pwStreamNum) override {
        const HRESULT hr = Enter("GetNextSample");
        if (FAILED(hr)) {
            SetNull(ppSample);
            return hr;
        }
        if (ppSample == nullptr) return E_POINTER;
        *ppSample = nullptr;
        if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
        if (wStreamNum != 0 && !HasStream(wStreamNum)) return NS_E_INVALID_STREAM;
        while (m_nNext < m_frames.size()) {
            const FakeFrame& frame = m_frames[m_nNext++];
            if (wStreamNum != 0 ? frame.stream != wStreamNum : !IsSelected(frame.stream)) {
                continue;
            }
            *ppSample = new CFakeSample(frame.bytes);
            if (pcnsSampleTime != nullptr) *pcnsSampleTime = frame.time;
            if (pcnsDuration != nullptr) *pcnsDuration = frame.duration;
            if (pdwFlags != nullptr) *pdwFlags = frame.flags;
            if (pdwOutputNum != nullptr) *pdwOutputNum = OutputOf(frame.stream);
            if (pwStreamNum != nullptr) *pwStreamNum = frame.stream;
            return S_OK;
        }
        return NS_E_NO_MORE_SAMPLES;
    }

    bool IsOpen() const { return m_pProfile != nullptr; }
    // The open file's play duration: the end of its last sample; none without samples.
    std::optional<QWORD> Duration() const {
        std::optional<QWORD> end;
        for (const FakeFrame& frame : m_frames) {
            end = std::max(end.value_or(0), frame.time + frame.duration);
        }
        return end;
    }

  protected:
    // The open file's profile, or the header info; NS_E_INVALID_REQUEST for the profile while
    // no file is open.
    HRESULT QueryOther(REFIID riid, void** ppv) override;
    void OnFinalRelease() override { Forget(); }

  private:
    void Forget() {
        if (m_pProfile != nullptr) m_pProfile->Release();
        m_pProfile = nullptr;
        m_frames.clear();
        m_streams.clear();
        m_selection.clear();
        m_nNext = 0;
    }
    bool HasStream(WORD number) const {
        return std::any_of(m_streams.begin(), m_streams.end(),
                           [&](const FakeStream& s) { return s.number == number; });
    }
    // Every stream is selected until a selection names it otherwise.
    bool IsSelected(WORD number) const {
        WMT_STREAM_SELECTION state = WMT_ON;
        for (const auto& [stream, selection] : m_selection) {
            if (stream == number) state = selection;
        }
        return state != WMT_OFF;
    }
    DWORD OutputOf(WORD number) const {
        for (size_t i = 0; i < m_streams.size(); ++i) {
            if (m_streams[i].number == number) return static_cast<DWORD>(i);
        }
        return 0;
    }

    CFakeProfile* m_pProfile = nullptr;
    std::vector<FakeStream> m_streams;
    std::vector<FakeFrame> m_frames;
    std::vector<std::pair<WORD, WMT_STREAM_SELECTION>> m_selection;
    size_t m_nNext = 0;
};

// The header of the file its sync reader has open; holds one reference to that reader. Only the
// duration is known.
class CFakeHeaderInfo final : public TFake<IWMHeaderInfo> {
  public:
    explicit CFakeHeaderInfo(CFakeSyncReader* pReader)
        : TFake("IWMHeaderInfo"), m_pReader(pReader) {
        m_pReader->AddRef();
    }

    HRESULT GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                               BYTE* pValue, WORD* pcbLength) override {
        const HRESULT hr = Enter("GetAttributeByName");
        if (FAILED(hr)) return hr;
        if (pwStreamNum == nullptr || pszName == nullptr || pType == nullptr ||
            pcbLength == nullptr) {
            return E_POINTER;
        }
        if (!m_pReader->IsOpen()) return NS_E_INVALID_REQUEST;
        const std::optional<QWORD> duration = m_pReader->Duration();
        if (*pwStreamNum != 0 || std::wstring(pszName) != g_wszWMDuration || !duration) {
            return ASF_E_NOTFOUND;
        }
        *pType = WMT_TYPE_QWORD;
        if (pValue == nullptr) {
            *pcbLength = sizeof(QWORD);
            return S_OK;
        }
        if (*pcbLength < sizeof(QWORD)) {
            *pcbLength = sizeof(QWORD);
            return ASF_E_BUFFERTOOSMALL;
        }
        std::memcpy(pValue, &*duration, sizeof(QWORD));
        *pcbLength = sizeof(QWORD);
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
    *ppv = static_cast<IWMProfile*>(m_pProfile);
    return S_OK;
}

class CFakeWriter final : public TFake<IWMWriter> {
  public:
    CFakeWriter() : TFake("IWMWriter") {}

    FakeWriterState State() const { return m_state; }

    HRESULT SetProfile(IWMProfile* pProfile) override {
        const HRESULT hr = Enter("SetProfile");
        if (FAILED(hr)) return hr;
        if (m_state == FakeWriterState::Writing) return NS_E_INVALID_REQUEST;
        if (pProfile == nullptr) return E_POINTER;
        CFakeProfile* pFake = AsFakeProfile(pProfile);
        if (pFake == nullptr) return E_INVALIDARG;
        const std::vector<FakeStream> streams = pFake->Streams();
        if (std::count_if(streams.begin(), streams.end(), [](const FakeStream& s) {
                return s.majortype == WMMEDIATYPE_Video;
            }) != 1) {
            return NS_E_INVALIDPROFILE;
        }
        m_streams = streams;
        return S_OK;
    }
    HRESULT SetOutputFilename(LPCWSTR pwszFilename) override {
        const HRESULT hr = Enter("SetOutputFilename");
        if (FAILED(hr)) return hr;
        if (m_state == FakeWriterState::Writing) return NS_E_INVALID_REQUEST;
        if (pwszFilename == nullptr) return E_POINTER;
        if (*pwszFilename == L'\0') return E_INVALIDARG;
        m_fileName = pwszFilename;
        return S_OK;
    }
    HRESULT BeginWriting() override {
        const HRESULT hr = Enter("BeginWriting");
        if (FAILED(hr)) return hr;
        if (m_state == FakeWriterState::Writing || !m_streams || !m_fileName) {
            return NS_E_INVALID_REQUEST;
        }
        Fake().MutableOutputs().push_back(FakeOutput{*m_fileName, *m_streams, {}, false});
        m_nOutput = Fake().Outputs().size() - 1;
        m_state = FakeWriterState::Writing;
        return S_OK;
    }
    HRESULT WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                        INSSBuffer* pSample) override {
        const HRESULT hr = Enter("WriteSample");
        if (FAILED(hr)) return hr;
        if (m_state != FakeWriterState::Writing) return NS_E_INVALID_REQUEST;
        if (dwInputNum != 0) return NS_E_INVALID_STREAM;
        if (pSample == nullptr) return E_POINTER;
        pSample->AddRef();
        BYTE* pBytes = nullptr;
        DWORD length = 0;
        HRESULT result = pSample->GetBufferAndLength(&pBytes, &length);
        if (SUCCEEDED(result) && FrameSize() != 0 && length != FrameSize()) {
            result = NS_E_INVALID_INPUT_FORMAT;
        }
        if (SUCCEEDED(result)) {
            Fake().MutableOutputs()[m_nOutput].samples.push_back(
                FakeWrittenSample{dwInputNum, cnsSampleTime, dwFlags, pSample,
                                  std::vector<BYTE>(pBytes, pBytes + length)});
        }
        pSample->Release();
        return result;
    }
    HRESULT EndWriting() override {
        const HRESULT hr = Enter("EndWriting");
        if (FAILED(hr)) return hr;
        if (m_state != FakeWriterState::Writing) return NS_E_INVALID_REQUEST;
        Fake().MutableOutputs()[m_nOutput].ended = true;
        m_state = FakeWriterState::Ended;
        return S_OK;
    }

  private:
    // One decoded frame of the profile's video stream; 0 when its header is not known.
    DWORD FrameSize() const {
        for (const FakeStream& s : *m_streams) {
            if (s.majortype != WMMEDIATYPE_Video || s.format.size() < sizeof(WMVIDEOINFOHEADER)) {
                continue;
            }
            WMVIDEOINFOHEADER info;
            std::memcpy(&info, s.format.data(), sizeof info);
            const LONG height = info.bmiHeader.biHeight;
            return DibStride(info.bmiHeader.biWidth) *
                   static_cast<DWORD>(height < 0 ? -height : height);
        }
        return 0;
    }

    FakeWriterState m_state = FakeWriterState::Idle;
    std::optional<std::vector<FakeStream>> m_streams;
    std::optional<std::wstring> m_fileName;
    size_t m_nOutput = 0;
};

template <class T, class I>
HRESULT CreateObject(const char* call, I** pp) {
    const HRESULT hr = Fake().Enter(call);
    if (FAILED(hr)) {
        SetNull(pp);
        return hr;
    }
    if (pp == nullptr) return E_POINTER;
    *pp = new T();
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Stream and frame helpers

FakeStream FakeVideoStream(WORD number, LONG width, LONG height, DWORD fourcc, DWORD bitrate) {
    FakeStream s;
    s.majortype = WMMEDIATYPE_Video;
    s.number = number;
    s.name = L"Video" + std::to_wstring(number);
    s.bitrate = bitrate;
    s.subtype = FourccGuid(fourcc);
    s.bTemporalCompression = TRUE;
    s.formattype = WMFORMAT_VideoInfo;
    WMVIDEOINFOHEADER info{};
    info.rcSource = RECT{0, 0, width, height};
    info.rcTarget = info.rcSource;
    info.dwBitRate = bitrate;
    info.AvgTimePerFrame = 333667;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = fourcc;
    s.format.resize(sizeof info);
    std::memcpy(s.format.data(), &info, sizeof info);
    return s;
}

FakeStream FakeAudioStream(WORD number) {
    FakeStream s;
    s.majortype = WMMEDIATYPE_Audio;
    s.number = number;
    s.name = L"Audio" + std::to_wstring(number);
    s.bitrate = 64000;
    s.subtype = FourccGuid(0x161);
    s.bFixedSizeSamples = TRUE;
    s.lSampleSize = 4096;
    s.formattype = WMFORMAT_WaveFormatEx;
    WAVEFORMATEX wave{0x161, 2, 44100, 8000, 4096, 16, 0};
    s.format.resize(sizeof wave);
    std::memcpy(s.format.data(), &wave, sizeof wave);
    return s;
}

FakeStream FakeDataStream(WORD number) {
    FakeStream s;
    s.majortype = WMMEDIATYPE_Data;
    s.number = number;
    s.name = L"Data" + std::to_wstring(number);
    return s;
}

std::vector<FakeFrame> FakeFrames(WORD stream, int count, size_t size, QWORD first, QWORD step) {
    std::vector<FakeFrame> frames;
    for (int i = 0; i < count; ++i) {
        frames.push_back(FakeFrame{stream, first + static_cast<QWORD>(i) * step, step,
                                   i == 0 ? WM_SF_CLEANPOINT : 0u,
                                   std::vector<BYTE>(size, static_cast<BYTE>((i + 1) & 0xFF))});
    }
    return frames;
}

std::wstring FakeGuidText(const GUID& g) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// ---------------------------------------------------------------------------------------------
// The runtime

CFakeRuntime::CFakeRuntime() = default;
CFakeRuntime::~CFakeRuntime() = default;

CFakeRuntime& Fake() {
    static CFakeRuntime runtime;
    return runtime;
}

void CFakeRuntime::Reset() {
    m_objects.clear();
    m_inputs.clear();
    m_failures.clear();
    m_calls.clear();
    m_faults.clear();
    m_outputs.clear();
    m_pLastWriter = nullptr;
}

void CFakeRuntime::AddInput(const std::wstring& name, std::vector<FakeStream> streams,
                            std::vector<FakeFrame> frames) {
    std::erase_if(m_inputs, [&](const FakeInput& input) { return input.name == name; });
    m_inputs.push_back(FakeInput{name, std::move(streams), std::move(frames)});
}

IWMProfile* CFakeRuntime::NewProfile(std::vector<FakeStream> streams) {
    return new CFakeProfile(streams);
}

void CFakeRuntime::FailAt(const std::string& call, int nth, HRESULT status) {
    m_failures.push_back(FakeFailure{call, nth < 1 ? 1 : nth, false, status});
}

void CFakeRuntime::FailAlways(const std::string& call, HRESULT status) {
    m_failures.push_back(FakeFailure{call, 0, true, status});
}

void CFakeRuntime::ClearFailures() { m_failures.clear(); }

std::vector<std::string> CFakeRuntime::CallsTo(std::string_view prefix) const {
    std::vector<std::string> calls;
    for (const std::string& call : m_calls) {
        const bool counting = call.ends_with("::AddRef") || call.ends_with("::Release");
        if (call.starts_with(prefix) && !counting) calls.push_back(call);
    }
    return calls;
}

int CFakeRuntime::CountCalls(std::string_view call) const {
    return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), call));
}

int CFakeRuntime::LiveObjects(std::string_view kind) const {
    return static_cast<int>(std::count_if(m_objects.begin(), m_objects.end(), [&](const auto& p) {
        return p->Refs() > 0 && (kind.empty() || p->Kind() == kind);
    }));
}

ULONG CFakeRuntime::RefCount(IUnknown* pObject) const {
    if (auto* pFake = dynamic_cast<CFakeObject*>(pObject)) return pFake->Refs();
    if (auto* pBuffer = dynamic_cast<CSampleBuffer*>(pObject)) return pBuffer->RefCount();
    return 0;
}

std::vector<INSSBuffer*> CFakeRuntime::Samples() const {
    std::vector<INSSBuffer*> samples;
    for (const auto& p : m_objects) {
        if (auto* pSample = dynamic_cast<CFakeSample*>(p.get())) samples.push_back(pSample);
    }
    return samples;
}

std::vector<FakeStream> CFakeRuntime::StreamsOf(IWMProfile* pProfile) const {
    CFakeProfile* pFake = AsFakeProfile(pProfile);
    return pFake != nullptr ? pFake->Streams() : std::vector<FakeStream>{};
}

FakeWriterState CFakeRuntime::WriterState(IWMWriter* pWriter) const {
    auto* pFake = dynamic_cast<CFakeWriter*>(pWriter);
    return pFake != nullptr ? pFake->State() : FakeWriterState::Idle;
}

HRESULT CFakeRuntime::Enter(const std::string& call) {
    m_calls.push_back(call);
    // Every scripted failure of this call counts the call; the first that is due answers it.
    std::optional<HRESULT> status;
    for (auto it = m_failures.begin(); it != m_failures.end();) {
        if (it->call != call) {
            ++it;
            continue;
        }
        const bool bDue = it->bAlways || --it->nRemaining == 0;
        if (bDue && !status) status = it->status;
        it = bDue && !it->bAlways ? m_failures.erase(it) : it + 1;
    }
    return status.value_or(S_OK);
}

int CFakeRuntime::Adopt(CFakeObject* pObject) {
    m_objects.emplace_back(pObject);
    return static_cast<int>(m_objects.size());
}

const FakeInput* CFakeRuntime::FindInput(const std::wstring& name) const {
    for (const FakeInput& input : m_inputs) {
        if (input.name == name) return &input;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The functions of the runtime layer

HRESULT WMCreateSyncReader(IUnknown* /*pUnkCert*/, DWORD /*dwRights*/,
                           IWMSyncReader** ppSyncReader) {
    return CreateObject<CFakeSyncReader>("WMCreateSyncReader", ppSyncReader);
}

HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager) {
    return CreateObject<CFakeProfileManager>("WMCreateProfileManager", ppProfileManager);
}

HRESULT WMCreateWriter(IUnknown* /*pUnkReserved*/, IWMWriter** ppWriter) {
    const HRESULT hr = CreateObject<CFakeWriter>("WMCreateWriter", ppWriter);
    if (SUCCEEDED(hr)) Fake().SetLastWriter(*ppWriter);
    return hr;
}

HRESULT CoInitialize(void* /*pvReserved*/) { return Fake().Enter("CoInitialize"); }
