// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows Media runtime layer: the public face.
//
// The rest of Varnel talks to media files only through the names declared here. They keep the
// names, shapes and reference-counting rules of the Windows Media Format runtime (WMVCore): every
// interface is counted with AddRef/Release, an object handed out through an out pointer carries
// one reference that the receiver releases exactly once, and every operation returns an HRESULT
// whose negative values are failures.
//
// Two implementations exist: the FFmpeg one in this folder (the product), and the scriptable fake
// in tests/fakes/ that unit tests link instead. Nothing outside platform/wmf/ includes FFmpeg.
#pragma once

#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Basic types

using HRESULT = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using QWORD = uint64_t;
using LONGLONG = int64_t;
using REFERENCE_TIME = int64_t;
using WCHAR = wchar_t;
using LPCWSTR = const wchar_t*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// ---------------------------------------------------------------------------------------------
// Status values

constexpr HRESULT MakeStatus(uint32_t value) { return static_cast<HRESULT>(value); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeStatus(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeStatus(0x80004002u);
constexpr HRESULT E_POINTER = MakeStatus(0x80004003u);
constexpr HRESULT E_FAIL = MakeStatus(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeStatus(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeStatus(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057u);
// The file system refused access (a folder or file that may not be written).
constexpr HRESULT E_ACCESSDENIED = MakeStatus(0x80070005u);
// The output names the file that is open for reading (see IWMWriter::BeginWriting).
constexpr HRESULT HRESULT_SHARING_VIOLATION = MakeStatus(0x80070020u);
// The disk (or the user's quota) is full.
constexpr HRESULT HRESULT_DISK_FULL = MakeStatus(0x80070070u);
// A file name longer than the file system takes.
constexpr HRESULT HRESULT_FILENAME_TOO_LONG = MakeStatus(0x800700CEu);
constexpr HRESULT NS_E_FILE_NOT_FOUND = MakeStatus(0xC00D001Au);
constexpr HRESULT NS_E_INVALID_REQUEST = MakeStatus(0xC00D002Bu);
constexpr HRESULT NS_E_NO_STREAM = MakeStatus(0xC00D0033u);
constexpr HRESULT NS_E_INVALID_STREAM = MakeStatus(0xC00D003Cu);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeStatus(0xC00D0BB8u);
constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = MakeStatus(0xC00D0BBBu);
constexpr HRESULT NS_E_INVALIDPROFILE = MakeStatus(0xC00D0BC6u);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = MakeStatus(0xC00D0BCFu);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = MakeStatus(0xC00D07D1u);
// A header attribute that the file does not have (IWMHeaderInfo).
constexpr HRESULT ASF_E_NOTFOUND = MakeStatus(0xC00D07F0u);

// ---------------------------------------------------------------------------------------------
// GUIDs

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const GUID&;
using REFGUID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

// FOURCC subtype GUID: XXXXXXXX-0000-0010-8000-00AA00389B71 with the code in the first four bytes.
constexpr GUID FourccGuid(uint32_t fourcc) {
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t MakeFourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// Major types ("vids", "auds") and format types.
constexpr GUID WMMEDIATYPE_Video = FourccGuid(0x73646976u);
constexpr GUID WMMEDIATYPE_Audio = FourccGuid(0x73647561u);
// Any other stream (subtitles, data, ...): "data".
constexpr GUID WMMEDIATYPE_Data = FourccGuid(0x61746164u);
constexpr GUID WMFORMAT_VideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID WMFORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID WMMEDIASUBTYPE_WMV1 = FourccGuid(MakeFourcc('W', 'M', 'V', '1'));
constexpr GUID WMMEDIASUBTYPE_WMV2 = FourccGuid(MakeFourcc('W', 'M', 'V', '2'));
constexpr GUID WMMEDIASUBTYPE_WMV3 = FourccGuid(MakeFourcc('W', 'M', 'V', '3'));

// Interface ids.
constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_INSSBuffer = {
    0xE1CD3524, 0x03D7, 0x11D2, {0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF}};
constexpr IID IID_IWMMediaProps = {
    0x96406BCE, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
constexpr IID IID_IWMStreamConfig = {
    0x96406BDC, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
constexpr IID IID_IWMProfile = {
    0x96406BDB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
constexpr IID IID_IWMProfileManager = {
    0xD16679F2, 0x6CA0, 0x472D, {0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55}};
constexpr IID IID_IWMSyncReader = {
    0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
constexpr IID IID_IWMWriter = {
    0x96406BD4, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
constexpr IID IID_IWMHeaderInfo = {
    0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
// Varnel's own extension (see IVarnelWriterHold).
constexpr IID IID_IVarnelWriterHold = {
    0x5A1E7C42, 0x9B0D, 0x4E6A, {0x8F, 0x21, 0x3C, 0x77, 0xD0, 0x4B, 0x19, 0xE5}};
// Varnel's own extension (see IVarnelWriterSettings).
constexpr IID IID_IVarnelWriterSettings = {
    0x7C3D91A6, 0x42E8, 0x4B1F, {0xA5, 0x6E, 0x19, 0xD2, 0x8B, 0x40, 0xC7, 0x3A}};

// ---------------------------------------------------------------------------------------------
// Structures, laid out as on Windows

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

constexpr DWORD BI_RGB = 0;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// A DIB header with its first colour-table entry (unused by 24-bit pictures).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct WMVIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct IUnknown;

// A media type as stored in a stream configuration. pbFormat points at the format block
// (WMVIDEOINFOHEADER for video, WAVEFORMATEX for audio), which lies in the same buffer.
struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

enum WMT_STREAM_SELECTION { WMT_OFF = 0, WMT_CLEANPOINT_ONLY = 1, WMT_ON = 2 };

// Sample flags.
constexpr DWORD WM_SF_CLEANPOINT = 0x1;
constexpr DWORD WM_SF_DISCONTINUITY = 0x2;
// Varnel's extension for IWMWriter::WriteSample: the sample is a reader's, its pixels exactly as
// the reader gave them. The writer may then encode the decoded picture that the reader converted
// them from, where it keeps one, without converting the pixels back. Only the caller knows
// whether it changed the pixels: without the flag the writer always encodes the pixels.
constexpr DWORD WM_SF_VARNEL_PIXELS_AS_READ = 0x10000;

// Decoded video rows are padded to a multiple of four bytes: the DIB rule.
constexpr DWORD DibStride(LONG width, WORD bitCount = 24) {
    return ((static_cast<DWORD>(width) * bitCount + 31u) / 32u) * 4u;
}

// The header of a 24-bit DIB of width x height pixels (rows bottom-up for a positive height),
// one plane, `compression` in biCompression (BI_RGB for plain pixels; the reader's headers carry
// the codec's FOURCC), every other field 0.
constexpr BITMAPINFOHEADER DibHeader(LONG width, LONG height, DWORD compression = BI_RGB) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = compression;
    return header;
}

// ---------------------------------------------------------------------------------------------
// Interfaces

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};

// One media sample. GetBuffer gives its bytes, writable in place.
struct INSSBuffer : IUnknown {
    virtual HRESULT GetLength(DWORD* pdwLength) = 0;
    virtual HRESULT SetLength(DWORD dwLength) = 0;
    virtual HRESULT GetMaxLength(DWORD* pdwLength) = 0;
    virtual HRESULT GetBuffer(BYTE** ppdwBuffer) = 0;
    virtual HRESULT GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) = 0;
};

struct IWMMediaProps : IUnknown {
    virtual HRESULT GetType(GUID* pguidType) = 0;
    // With pType null, *pcbType receives the size needed; a smaller *pcbType gives
    // ASF_E_BUFFERTOOSMALL.
    virtual HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
};

struct IWMStreamConfig : IUnknown {
    virtual HRESULT GetStreamType(GUID* pguidStreamType) = 0;
    virtual HRESULT GetStreamNumber(WORD* pwStreamNum) = 0;
    virtual HRESULT GetBitrate(DWORD* pdwBitrate) = 0;
};

struct IWMProfile : IUnknown {
    virtual HRESULT GetStreamCount(DWORD* pcStreams) = 0;
    virtual HRESULT GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) = 0;
    // Later streams move down one index.
    virtual HRESULT RemoveStream(IWMStreamConfig* pConfig) = 0;
};

struct IWMProfileManager : IUnknown {
    // *pdwLength counts wide characters with the terminator. With pwszProfile null it receives
    // the length needed; a smaller *pdwLength gives ASF_E_BUFFERTOOSMALL.
    virtual HRESULT SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) = 0;
    // A new, independent profile; NS_E_INVALIDPROFILE for text that is not one.
    virtual HRESULT LoadProfileByData(LPCWSTR pwszProfile, IWMProfile** ppProfile) = 0;
};

struct IWMSyncReader : IUnknown {
    virtual HRESULT Open(LPCWSTR pwszFilename) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT SetStreamsSelected(WORD cStreamCount, WORD* pwStreamNumbers,
                                       WMT_STREAM_SELECTION* pSelections) = 0;
    virtual HRESULT SetReadStreamSamples(WORD wStreamNum, BOOL fCompressed) = 0;
    // The next sample of the selected stream: times in 100-ns units. NS_E_NO_MORE_SAMPLES at
    // the end (and on every later call); NS_E_INVALID_REQUEST when no file is open.
    virtual HRESULT GetNextSample(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime,
                                  QWORD* pcnsDuration, DWORD* pdwFlags, DWORD* pdwOutputNum,
                                  WORD* pwStreamNum) = 0;
};

// Types of header attribute values.
enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6
};

// The file's play duration: a QWORD of 100-ns units, an attribute of stream 0 (the whole file).
inline constexpr WCHAR g_wszWMDuration[] = L"Duration";

// The attributes in an open file's header, reached with QueryInterface on the sync reader. Only
// what Varnel reads is declared: g_wszWMDuration.
struct IWMHeaderInfo : IUnknown {
    // With pValue null, *pcbLength receives the size of the value; a smaller *pcbLength gives
    // ASF_E_BUFFERTOOSMALL. ASF_E_NOTFOUND for an attribute the file does not have;
    // NS_E_INVALID_REQUEST when no file is open.
    virtual HRESULT GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                                       BYTE* pValue, WORD* pcbLength) = 0;
};

struct IWMWriter : IUnknown {
    virtual HRESULT SetProfile(IWMProfile* pProfile) = 0;
    virtual HRESULT SetOutputFilename(LPCWSTR pwszFilename) = 0;
    virtual HRESULT BeginWriting() = 0;
    // The writer takes its own reference to the sample (or a copy) for as long as it needs it.
    virtual HRESULT WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags,
                                INSSBuffer* pSample) = 0;
    virtual HRESULT EndWriting() = 0;
};

// Varnel's extension of the writer, reached with QueryInterface on it: a front end with more to
// finish after the output (a report, a plot) holds the finished file back until everything is
// done, so that a failure anywhere leaves no output behind and the output is staged only once.
struct IVarnelWriterHold : IUnknown {
    // TRUE: every EndWriting from now on finishes the file but keeps it staged until
    // CommitHeldOutput. FALSE (the default): EndWriting puts the file at its name.
    virtual HRESULT SetHoldOutput(BOOL bHold) = 0;
    // Puts the held file at its name: S_OK, NS_E_INVALID_REQUEST when none is held, or the file
    // system's status (the held file is then dropped).
    virtual HRESULT CommitHeldOutput() = 0;
    // Drops the held file, if any. The next BeginWriting and the writer's end drop it too.
    virtual HRESULT DiscardHeldOutput() = 0;
};

// Varnel's extension of the writer, reached with QueryInterface on it: the rate control of the
// outputs that are not Windows Media. The writer picks the container and codec by the output's
// name: ".mp4", ".m4v" and ".mov" give H.264 (faststart), ".mkv" H.264 in Matroska, ".webm" VP9 in
// WebM, and every other name Windows Media (WMV2 in ASF, at the profile's bit rate or the one
// given here). The settings apply from the next BeginWriting on; the last call wins.
struct IVarnelWriterSettings : IUnknown {
    // Quality-based rate control (the default) at a constant rate factor: 0..51 for H.264,
    // 0..63 for VP9, lower is better; -1 for the codec's usual one (20 for H.264, 32 for VP9).
    // E_INVALIDARG outside -1..63; a factor above 51 for an H.264 output makes BeginWriting give
    // E_INVALIDARG. Windows Media outputs ignore it.
    virtual HRESULT SetQuality(LONG nQuality) = 0;
    // Bit-rate control at dwBitRate bits a second; 0 for the bit rate the profile carries (a
    // default for the picture size when the profile carries none).
    virtual HRESULT SetBitRate(DWORD dwBitRate) = 0;
};

// ---------------------------------------------------------------------------------------------
// Functions

HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader);
HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager);
HRESULT WMCreateWriter(IUnknown* pUnkReserved, IWMWriter** ppWriter);
HRESULT CoInitialize(void* pvReserved);
