#include "tests/fakes/FakeRuntime.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>

#include "platform/wmf/shared/SampleBuffer.h"

struct FakeInput {
    std::wstring name;
    std::vector<FakeStream> streams;
    std::vector<FakeFrame> frames;
};

struct FakeFailure {
    std::string call;
    int nRemaining;  // calls up to and including the failing one
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
    // Records Kind::method; a call on a retired object is a fault. A failure scripted for the
    // call is returned with *ppOut set to null.
    template <class T = void>
    HRESULT Enter(const char* method, T** ppOut = nullptr) {
        if (m_nRefs == 0) {
            Fake().Fault(Name() + "::" + method + " called after its last release");
        }
        const HRESULT hr = Fake().Enter(m_kind + "::" + method);
        if (FAILED(hr) && ppOut != nullptr) *ppOut = nullptr;
        return hr;
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

// IUnknown of a fake object implementing interface I.
template <class I>
class TFake : public I, public CFakeObject {
  public:
    TFake(const char* kind, const IID& iid) : CFakeObject(kind), m_iid(iid) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (const HRESULT hr = Enter("QueryInterface", ppv); FAILED(hr)) return hr;
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == m_iid) {
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

  private:
    const IID& m_iid;
};

// *p = value, E_POINTER for a null p.
template <class T, class V>
HRESULT Put(T* p, V value) {
    if (p == nullptr) return E_POINTER;
    *p = value;
    return S_OK;
}

size_t MediaTypeSize(const FakeStream& stream) {
    return sizeof(WM_MEDIA_TYPE) + stream.format.size();
}

class CFakeSample final : public TFake<INSSBuffer> {
  public:
    explicit CFakeSample(std::vector<BYTE> bytes)
        : TFake("INSSBuffer", IID_INSSBuffer), m_bytes(std::move(bytes)), m_dwLength(Size()) {}

    HRESULT GetLength(DWORD* pdwLength) override {
        if (const HRESULT hr = Enter("GetLength"); FAILED(hr)) return hr;
        return Put(pdwLength, m_dwLength);
    }
    HRESULT SetLength(DWORD dwLength) override {
        if (const HRESULT hr = Enter("SetLength"); FAILED(hr)) return hr;
        if (dwLength > Size()) return E_INVALIDARG;
        m_dwLength = dwLength;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD* pdwLength) override {
        if (const HRESULT hr = Enter("GetMaxLength"); FAILED(hr)) return hr;
        return Put(pdwLength, Size());
    }
    HRESULT GetBuffer(BYTE** ppdwBuffer) override {
        if (const HRESULT hr = Enter("GetBuffer", ppdwBuffer); FAILED(hr)) return hr;
        return Put(ppdwBuffer, m_bytes.data());
    }
    HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) override {
        if (const HRESULT hr = Enter("GetBufferAndLength", ppdwBuffer); FAILED(hr)) return hr;
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
    explicit CFakeMediaProps(FakeStream stream)
        : TFake("IWMMediaProps", IID_IWMMediaProps), m_stream(stream) {}

    HRESULT GetType(GUID* pguidType) override {
        if (const HRESULT hr = Enter("GetType"); FAILED(hr)) return hr;
        return Put(pguidType, m_stream.majortype);
    }
    HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) override {
        if (const HRESULT hr = Enter("GetMediaType"); FAILED(hr)) return hr;
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
        const FakeStream& m = m_stream;
        *pType = WM_MEDIA_TYPE{m.majortype,
                               m.subtype,
                               m.bFixedSizeSamples,
                               m.bTemporalCompression,
                               m.lSampleSize,
                               m.formattype,
                               nullptr,
                               static_cast<ULONG>(m.format.size()),
                               reinterpret_cast<BYTE*>(pType) + sizeof(WM_MEDIA_TYPE)};
        std::copy(m_stream.format.begin(), m_stream.format.end(), pType->pbFormat);
        *pcbType = size;
        return S_OK;
    }

  private:
    FakeStream m_stream;
};

class CFakeStreamConfig final : public TFake<IWMStreamConfig> {
  public:
    explicit CFakeStreamConfig(FakeStream stream)
        : TFake("IWMStreamConfig", IID_IWMStreamConfig), m_stream(stream) {}

    const FakeStream& Stream() const { return m_stream; }

    HRESULT GetStreamType(GUID* pguidStreamType) override {
        if (const HRESULT hr = Enter("GetStreamType"); FAILED(hr)) return hr;
        return Put(pguidStreamType, m_stream.majortype);
    }
    HRESULT GetStreamNumber(WORD* pwStreamNum) override {
        if (const HRESULT hr = Enter("GetStreamNumber"); FAILED(hr)) return hr;
        return Put(pwStreamNum, m_stream.number);
    }
    HRESULT GetBitrate(DWORD* pdwBitrate) override {
        if (const HRESULT hr = Enter("GetBitrate"); FAILED(hr)) return hr;
        return Put(pdwBitrate, m_stream.bitrate);
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
    explicit CFakeProfile(const std::vector<FakeStream>& streams)
        : TFake("IWMProfile", IID_IWMProfile) {
        for (const FakeStream& stream : streams) m_configs.push_back(new CFakeStreamConfig(stream));
    }

    std::vector<FakeStream> Streams() const {
        std::vector<FakeStream> streams;
        for (const CFakeStreamConfig* pConfig : m_configs) streams.push_back(pConfig->Stream());
        return streams;
    }

    HRESULT GetStreamCount(DWORD* pcStreams) override {
        if (const HRESULT hr = Enter("GetStreamCount"); FAILED(hr)) return hr;
        return Put(pcStreams, static_cast<DWORD>(m_configs.size()));
    }
    HRESULT GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) override {
        if (const HRESULT hr = Enter("GetStream", ppConfig); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("RemoveStream"); FAILED(hr)) return hr;
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

// A GUID as the hexadecimal of its 16 bytes in memory.
std::wstring GuidHex(const GUID& guid) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&guid);
    return Hex(std::vector<BYTE>(p, p + sizeof guid));
}

std::optional<GUID> ParseGuid(const std::wstring& text) {
    const auto bytes = Unhex(text);
    if (!bytes || bytes->size() != sizeof(GUID)) return std::nullopt;
    GUID guid;
    std::memcpy(&guid, bytes->data(), sizeof guid);
    return guid;
}

// A decimal number written as std::to_wstring writes it.
std::optional<unsigned long> ParseNumber(const std::wstring& text) {
    const unsigned long value = std::wcstoul(text.c_str(), nullptr, 10);
    if (std::to_wstring(value) != text) return std::nullopt;
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
        text += L"<stream majortype=\"" + GuidHex(s.majortype) + L"\" number=\"" +
                std::to_wstring(s.number) + L"\" bitrate=\"" + std::to_wstring(s.bitrate) +
                L"\" subtype=\"" + GuidHex(s.subtype) + L"\" fixed=\"" +
                std::to_wstring(s.bFixedSizeSamples) + L"\" temporal=\"" +
                std::to_wstring(s.bTemporalCompression) + L"\" samplesize=\"" +
                std::to_wstring(s.lSampleSize) + L"\" formattype=\"" + GuidHex(s.formattype) +
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
        // A missing attribute reads as "?", which no parser below takes.
        auto get = [&](const wchar_t* key) { return Attribute(line, key).value_or(L"?"); };
        const auto name = Attribute(line, L"name");
        const auto major = ParseGuid(get(L"majortype"));
        const auto subtype = ParseGuid(get(L"subtype"));
        const auto formattype = ParseGuid(get(L"formattype"));
        const auto number = ParseNumber(get(L"number"));
        const auto bitrate = ParseNumber(get(L"bitrate"));
        const auto fixed = ParseNumber(get(L"fixed"));
        const auto temporal = ParseNumber(get(L"temporal"));
        const auto sampleSize = ParseNumber(get(L"samplesize"));
        const auto format = Unhex(get(L"format"));
        if (!name || !major || !subtype || !formattype || !number || *number > 0xFFFF || !bitrate ||
            !fixed || !temporal || !sampleSize || !format) {
            return std::nullopt;
        }
        streams.push_back(FakeStream{*major, static_cast<WORD>(*number), *name,
                                     static_cast<DWORD>(*bitrate), *subtype,
                                     static_cast<BOOL>(*fixed), static_cast<BOOL>(*temporal),
                                     static_cast<ULONG>(*sampleSize), *formattype, *format});
    }
    return streams;
}

class CFakeProfileManager final : public TFake<IWMProfileManager> {
  public:
    CFakeProfileManager() : TFake("IWMProfileManager", IID_IWMProfileManager) {}

    HRESULT SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) override {
        if (const HRESULT hr = Enter("SaveProfile"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("LoadProfileByData", ppProfile); FAILED(hr)) return hr;
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
    CFakeSyncReader() : TFake("IWMSyncReader", IID_IWMSyncReader) {}

    HRESULT Open(LPCWSTR pwszFilename) override {
        if (const HRESULT hr = Enter("Open"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("Close"); FAILED(hr)) return hr;
        Forget();
        return S_OK;
    }
    HRESULT SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                               WMT_STREAM_SELECTION* pSelections) override {
        if (const HRESULT hr = Enter("SetStreamsSelected"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("SetReadStreamSamples"); FAILED(hr)) return hr;
        if (m_pProfile == nullptr) return NS_E_INVALID_REQUEST;
        if (!HasStream(wStreamNum)) return NS_E_INVALID_STREAM;
        return S_OK;
    }
    HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                          QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                          WORD* pwStreamNum) override {
        if (const HRESULT hr = Enter("GetNextSample", ppSample); FAILED(hr)) return hr;
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
        : TFake("IWMHeaderInfo", IID_IWMHeaderInfo), m_pReader(pReader) {
        m_pReader->AddRef();
    }

    HRESULT GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                               BYTE* pValue, WORD* pcbLength) override {
        if (const HRESULT hr = Enter("GetAttributeByName"); FAILED(hr)) return hr;
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
    CFakeWriter() : TFake("IWMWriter", IID_IWMWriter) {}

    FakeWriterState State() const { return m_state; }

    HRESULT SetProfile(IWMProfile* pProfile) override {
        if (const HRESULT hr = Enter("SetProfile"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("SetOutputFilename"); FAILED(hr)) return hr;
        if (m_state == FakeWriterState::Writing) return NS_E_INVALID_REQUEST;
        if (pwszFilename == nullptr) return E_POINTER;
        if (*pwszFilename == L'\0') return E_INVALIDARG;
        m_fileName = pwszFilename;
        return S_OK;
    }
    HRESULT BeginWriting() override {
        if (const HRESULT hr = Enter("BeginWriting"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("WriteSample"); FAILED(hr)) return hr;
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
        if (const HRESULT hr = Enter("EndWriting"); FAILED(hr)) return hr;
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
    if (pp == nullptr) return FAILED(hr) ? hr : E_POINTER;
    if (FAILED(hr)) *pp = nullptr;
    if (FAILED(hr)) return hr;
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
    info.bmiHeader = DibHeader(width, height, fourcc);
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
    m_failures.push_back(FakeFailure{call, nth < 1 ? 1 : nth, status});
}

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
    std::erase_if(m_failures, [&](FakeFailure& failure) {
        const bool bDue = failure.call == call && --failure.nRemaining == 0;
        if (bDue && !status) status = failure.status;
        return bDue;
    });
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
