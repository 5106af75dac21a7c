// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles and stream configurations of the runtime layer: in-memory IWMProfile and
// IWMStreamConfig/IWMMediaProps objects, and the helpers that build them from plain stream
// descriptions. The sync reader builds the profile of an open file with them, the profile
// manager loads profiles from XML into them, and tests and the writer's tests make their own.
#pragma once

#include <string>
#include <vector>

#include "platform/wmf/shared/ComObject.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {

// Everything a stream configuration holds: the stream-level properties of the profile XML and
// the media type. `format` is the format block that follows the WM_MEDIA_TYPE: a
// WMVIDEOINFOHEADER for video, a WAVEFORMATEX followed by its cbSize bytes of codec data for
// audio, empty for other streams.
struct StreamDescription {
    GUID majortype{};
    WORD wStreamNumber = 0;
    std::wstring streamName;
    std::wstring inputName;
    DWORD dwBitrate = 0;
    LONG nBufferWindow = 0;  // milliseconds; -1 means "unset"
    BOOL bReliableTransport = FALSE;
    std::wstring decoderComplexity;
    std::wstring language;
    // Video only: the <videomediaprops> element.
    LONGLONG nMaxKeyFrameSpacing = 0;
    DWORD dwQuality = 0;

    GUID subtype{};
    BOOL bFixedSizeSamples = FALSE;
    BOOL bTemporalCompression = FALSE;
    ULONG lSampleSize = 0;
    GUID formattype{};
    std::vector<BYTE> format;

    bool IsVideo() const { return majortype == WMMEDIATYPE_Video; }
    bool IsAudio() const { return majortype == WMMEDIATYPE_Audio; }
};

// A video stream as the file stores it.
struct VideoStreamInfo {
    LONG nWidth = 0;
    LONG nHeight = 0;
    DWORD dwFourcc = 0;
    DWORD dwBitRate = 0;
    REFERENCE_TIME nAvgTimePerFrame = 0;
};

// An audio stream as the file stores it. cbSize of `format` is taken from codecData.
struct AudioStreamInfo {
    WAVEFORMATEX format{};
    std::vector<BYTE> codecData;
};

// Descriptions in the layout the rest of the system relies on: video with a WMVIDEOINFOHEADER
// (24-bit, positive height, the codec's FOURCC as subtype and biCompression), audio with a
// WAVEFORMATEX, anything else under WMMEDIATYPE_Data with no format block.
StreamDescription DescribeVideoStream(WORD wStreamNumber, const VideoStreamInfo& info);
StreamDescription DescribeAudioStream(WORD wStreamNumber, const AudioStreamInfo& info);
StreamDescription DescribeOtherStream(WORD wStreamNumber, DWORD dwCodecTag);

// The bytes of a plain structure, as a format block holds them.
template <typename T>
std::vector<BYTE> BytesOf(const T& value) {
    const auto* first = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(first, first + sizeof(T));
}

// Size of the media type that GetMediaType hands out for `description`: the WM_MEDIA_TYPE, then
// its format block.
DWORD MediaTypeSize(const StreamDescription& description);

// One stream configuration. It is also the stream's IWMMediaProps: QueryInterface for either id
// gives this same object. Counted references; the object frees itself at the last Release.
// GetMediaType copies the media type into the caller's buffer and points pbFormat into it.
class CStreamConfig final : public CComObject<IWMStreamConfig, IWMMediaProps> {
  public:
    // One reference for the caller.
    static CStreamConfig* Create(StreamDescription description);

    HRESULT GetStreamType(GUID* pguidStreamType) override;
    HRESULT GetStreamNumber(WORD* pwStreamNum) override;
    HRESULT GetBitrate(DWORD* pdwBitrate) override;

    HRESULT GetType(GUID* pguidType) override;
    HRESULT GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) override;

    const StreamDescription& Description() const { return m_description; }

  private:
    explicit CStreamConfig(StreamDescription description);
    ~CStreamConfig() override = default;

    StreamDescription m_description;
};

// A profile: an ordered list of stream configurations, holding one reference to each.
// GetStream hands out the stored configuration with a new reference; RemoveStream drops the
// given configuration (the same object, or one with the same stream number) and moves the
// later streams down one index. Not thread-safe; counted references as every interface.
class CProfile final : public CComObject<IWMProfile> {
  public:
    // One reference for the caller.
    static CProfile* Create(const std::vector<StreamDescription>& streams, std::wstring name = L"",
                            std::wstring description = L"");

    HRESULT GetStreamCount(DWORD* pcStreams) override;
    HRESULT GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) override;
    HRESULT RemoveStream(IWMStreamConfig* pConfig) override;

    const std::wstring& Name() const { return m_name; }
    const std::wstring& ProfileDescription() const { return m_description; }
    // The configurations in profile order; the profile keeps their references.
    const std::vector<CStreamConfig*>& Streams() const { return m_streams; }

  private:
    CProfile(std::wstring name, std::wstring description);
    ~CProfile() override;

    std::wstring m_name;
    std::wstring m_description;
    std::vector<CStreamConfig*> m_streams;
};

// Builds a profile from descriptions, as CProfile::Create, into *ppProfile (one reference).
HRESULT CreateProfile(const std::vector<StreamDescription>& streams, IWMProfile** ppProfile);

// The XML text of profiles, in the form Windows Media profiles take (<profile>, one
// <streamconfig> per stream with its media type), as the profile manager saves and loads it.
// ProfileToXml: the profile as XML text (UTF-8). Equal profiles give equal text, so a profile
// read back with ProfileFromXml gives the same text again. ProfileFromXml: a new profile from
// XML text (UTF-8) into *ppProfile (one reference); NS_E_INVALIDPROFILE for text that is not
// well-formed XML, whose root is not <profile>, or whose stream descriptions are incomplete,
// malformed or out of range (*ppProfile is then null).
std::string ProfileToXml(const CProfile& profile);
HRESULT ProfileFromXml(const std::string& text, CProfile** ppProfile);

}  // namespace wmf
