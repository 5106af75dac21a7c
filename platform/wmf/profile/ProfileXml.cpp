#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>
#include <type_traits>

#include <pugixml.hpp>

#include "platform/wmf/profile/Profile.h"

namespace wmf {
namespace {

constexpr unsigned kProfileVersion = 589824;  // 0x00090000
constexpr LONG kMaxDimension = 32768;

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// biCompression: the FOURCC as text when it is four printable characters that do not read as
// a number, else the number itself.
std::string CompressionText(DWORD code) {
    std::string text;
    bool allDigits = true;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c < 0x21 || c > 0x7E || c == '"' || c == '&' || c == '<' || c == '>') {
            return std::to_string(code);
        }
        allDigits = allDigits && c >= '0' && c <= '9';
        text += c;
    }
    return allDigits ? std::to_string(code) : text;
}

std::string HexText(const BYTE* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

template <typename T>
T ReadPod(const std::vector<BYTE>& bytes) {
    T value{};
    if (bytes.size() >= sizeof(T)) std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

template <typename T>
void SetNumber(pugi::xml_node node, const char* name, T value) {
    node.append_attribute(name).set_value(std::to_string(value).c_str());
}

void SetRect(pugi::xml_node parent, const char* name, const RECT& rc) {
    pugi::xml_node node = parent.append_child(name);
    SetNumber(node, "left", rc.left);
    SetNumber(node, "top", rc.top);
    SetNumber(node, "right", rc.right);
    SetNumber(node, "bottom", rc.bottom);
}

void WriteVideoFormat(pugi::xml_node mediaType, const StreamDescription& d) {
    const auto vih = ReadPod<WMVIDEOINFOHEADER>(d.format);
    pugi::xml_node info = mediaType.append_child("videoinfoheader");
    SetNumber(info, "dwbitrate", vih.dwBitRate);
    SetNumber(info, "dwbiterrorrate", vih.dwBitErrorRate);
    SetNumber(info, "avgtimeperframe", vih.AvgTimePerFrame);
    SetRect(info, "rcsource", vih.rcSource);
    SetRect(info, "rctarget", vih.rcTarget);
    const BITMAPINFOHEADER& bih = vih.bmiHeader;
    pugi::xml_node header = info.append_child("bitmapinfoheader");
    SetNumber(header, "biwidth", bih.biWidth);
    SetNumber(header, "biheight", bih.biHeight);
    SetNumber(header, "biplanes", bih.biPlanes);
    SetNumber(header, "bibitcount", bih.biBitCount);
    header.append_attribute("bicompression").set_value(CompressionText(bih.biCompression).c_str());
    SetNumber(header, "bisizeimage", bih.biSizeImage);
    SetNumber(header, "bixpelspermeter", bih.biXPelsPerMeter);
    SetNumber(header, "biypelspermeter", bih.biYPelsPerMeter);
    SetNumber(header, "biclrused", bih.biClrUsed);
    SetNumber(header, "biclrimportant", bih.biClrImportant);
}

void WriteAudioFormat(pugi::xml_node mediaType, const StreamDescription& d) {
    const auto wfx = ReadPod<WAVEFORMATEX>(d.format);
    pugi::xml_node node = mediaType.append_child("waveformatex");
    SetNumber(node, "wFormatTag", wfx.wFormatTag);
    SetNumber(node, "nChannels", wfx.nChannels);
    SetNumber(node, "nSamplesPerSec", wfx.nSamplesPerSec);
    SetNumber(node, "nAvgBytesPerSec", wfx.nAvgBytesPerSec);
    SetNumber(node, "nBlockAlign", wfx.nBlockAlign);
    SetNumber(node, "wBitsPerSample", wfx.wBitsPerSample);
    const size_t extra = d.format.size() > sizeof(WAVEFORMATEX) ? d.format.size() - sizeof wfx : 0;
    node.append_attribute("codecdata")
        .set_value(HexText(d.format.data() + sizeof(WAVEFORMATEX), extra).c_str());
}

void WriteStream(pugi::xml_node root, const StreamDescription& d) {
    pugi::xml_node config = root.append_child("streamconfig");
    config.append_attribute("majortype").set_value(GuidText(d.majortype).c_str());
    SetNumber(config, "streamnumber", d.wStreamNumber);
    config.append_attribute("streamname").set_value(pugi::as_utf8(d.streamName).c_str());
    config.append_attribute("inputname").set_value(pugi::as_utf8(d.inputName).c_str());
    SetNumber(config, "bitrate", d.dwBitrate);
    SetNumber(config, "bufferwindow", d.nBufferWindow);
    SetNumber(config, "reliabletransport", d.bReliableTransport);
    config.append_attribute("decodercomplexity")
        .set_value(pugi::as_utf8(d.decoderComplexity).c_str());
    config.append_attribute("rfc1766langid").set_value(pugi::as_utf8(d.language).c_str());
    if (d.IsVideo()) {
        pugi::xml_node props = config.append_child("videomediaprops");
        SetNumber(props, "maxkeyframespacing", d.nMaxKeyFrameSpacing);
        SetNumber(props, "quality", d.dwQuality);
    }
    pugi::xml_node mediaType = config.append_child("wmmediatype");
    mediaType.append_attribute("subtype").set_value(GuidText(d.subtype).c_str());
    SetNumber(mediaType, "bfixedsizesamples", d.bFixedSizeSamples);
    SetNumber(mediaType, "btemporalcompression", d.bTemporalCompression);
    SetNumber(mediaType, "lsamplesize", d.lSampleSize);
    if (d.IsVideo()) {
        WriteVideoFormat(mediaType, d);
    } else if (d.IsAudio()) {
        WriteAudioFormat(mediaType, d);
    }
}

// ---------------------------------------------------------------------------------------------
// Reading: every helper marks the reader failed instead of throwing, and the caller checks
// once at the end.

class CXmlFields {
  public:
    bool Ok() const { return m_bOk; }
    void Fail() { m_bOk = false; }

    pugi::xml_node Child(pugi::xml_node parent, const char* name) {
        pugi::xml_node node = parent.child(name);
        if (!node) Fail();
        return node;
    }

    template <typename T>
    T Number(pugi::xml_node node, const char* name) {
        static_assert(std::is_integral_v<T>);
        const pugi::xml_attribute attr = node.attribute(name);
        const char* text = attr.value();
        const char* end = text + std::strlen(text);
        T value{};
        // Plain decimal only: no sign for unsigned fields, no spaces, nothing after the digits.
        const auto [ptr, ec] = std::from_chars(text, end, value);
        if (!attr || text == end || ec != std::errc() || ptr != end) Fail();
        return value;
    }

    std::wstring Text(pugi::xml_node node, const char* name) {
        return pugi::as_wide(node.attribute(name).value());
    }

    GUID Guid(pugi::xml_node node, const char* name) {
        const char* text = node.attribute(name).value();
        GUID g{};
        unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
        int consumed = 0;
        if (std::strlen(text) != 38 ||
            std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3, &b[0],
                        &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &consumed) != 11 ||
            consumed != 38 || !AllHexAt(text)) {
            Fail();
            return g;
        }
        g.Data1 = d1;
        g.Data2 = static_cast<uint16_t>(d2);
        g.Data3 = static_cast<uint16_t>(d3);
        for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(b[i]);
        return g;
    }

    DWORD Compression(pugi::xml_node node, const char* name) {
        const std::string text = node.attribute(name).value();
        if (text.size() == 4 && text.find_first_not_of("0123456789") != std::string::npos) {
            return MakeFourcc(text[0], text[1], text[2], text[3]);
        }
        return Number<DWORD>(node, name);
    }

    std::vector<BYTE> Hex(pugi::xml_node node, const char* name) {
        const std::string text = node.attribute(name).value();
        std::vector<BYTE> bytes;
        if (text.size() % 2 != 0 || text.size() / 2 > 0xFFFF) {
            Fail();
            return bytes;
        }
        for (size_t i = 0; i < text.size(); i += 2) {
            BYTE value = 0;
            const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
            if (ec != std::errc() || ptr != text.data() + i + 2) {
                Fail();
                return {};
            }
            bytes.push_back(value);
        }
        return bytes;
    }

    RECT Rect(pugi::xml_node parent, const char* name) {
        pugi::xml_node node = Child(parent, name);
        return RECT{Number<LONG>(node, "left"), Number<LONG>(node, "top"),
                    Number<LONG>(node, "right"), Number<LONG>(node, "bottom")};
    }

  private:
    // The positions of a braced GUID that must hold hex digits (sscanf also takes signs and
    // spaces there).
    static bool AllHexAt(const char* text) {
        for (int i = 1; i < 37; ++i) {
            const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
            if (dash != (text[i] == '-')) return false;
            if (!dash && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
        }
        return true;
    }

    bool m_bOk = true;
};

void ReadVideoFormat(CXmlFields& f, pugi::xml_node mediaType, StreamDescription& d) {
    pugi::xml_node videoProps = f.Child(mediaType.parent(), "videomediaprops");
    d.nMaxKeyFrameSpacing = f.Number<LONGLONG>(videoProps, "maxkeyframespacing");
    d.dwQuality = f.Number<DWORD>(videoProps, "quality");

    pugi::xml_node info = f.Child(mediaType, "videoinfoheader");
    WMVIDEOINFOHEADER vih{};
    vih.dwBitRate = f.Number<DWORD>(info, "dwbitrate");
    vih.dwBitErrorRate = f.Number<DWORD>(info, "dwbiterrorrate");
    vih.AvgTimePerFrame = f.Number<LONGLONG>(info, "avgtimeperframe");
    vih.rcSource = f.Rect(info, "rcsource");
    vih.rcTarget = f.Rect(info, "rctarget");
    pugi::xml_node header = f.Child(info, "bitmapinfoheader");
    BITMAPINFOHEADER& bih = vih.bmiHeader;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = f.Number<LONG>(header, "biwidth");
    bih.biHeight = f.Number<LONG>(header, "biheight");
    bih.biPlanes = f.Number<WORD>(header, "biplanes");
    bih.biBitCount = f.Number<WORD>(header, "bibitcount");
    bih.biCompression = f.Compression(header, "bicompression");
    bih.biSizeImage = f.Number<DWORD>(header, "bisizeimage");
    bih.biXPelsPerMeter = f.Number<LONG>(header, "bixpelspermeter");
    bih.biYPelsPerMeter = f.Number<LONG>(header, "biypelspermeter");
    bih.biClrUsed = f.Number<DWORD>(header, "biclrused");
    bih.biClrImportant = f.Number<DWORD>(header, "biclrimportant");
    // Frames of this size must be addressable by every consumer of the header.
    if (bih.biWidth < 1 || bih.biWidth > kMaxDimension || bih.biHeight == 0 ||
        bih.biHeight < -kMaxDimension || bih.biHeight > kMaxDimension) {
        f.Fail();
    }
    d.formattype = WMFORMAT_VideoInfo;
    d.format = BytesOf(vih);
}

void ReadAudioFormat(CXmlFields& f, pugi::xml_node mediaType, StreamDescription& d) {
    pugi::xml_node node = f.Child(mediaType, "waveformatex");
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = f.Number<WORD>(node, "wFormatTag");
    wfx.nChannels = f.Number<WORD>(node, "nChannels");
    wfx.nSamplesPerSec = f.Number<DWORD>(node, "nSamplesPerSec");
    wfx.nAvgBytesPerSec = f.Number<DWORD>(node, "nAvgBytesPerSec");
    wfx.nBlockAlign = f.Number<WORD>(node, "nBlockAlign");
    wfx.wBitsPerSample = f.Number<WORD>(node, "wBitsPerSample");
    const std::vector<BYTE> codecData = f.Hex(node, "codecdata");
    wfx.cbSize = static_cast<WORD>(codecData.size());
    d.formattype = WMFORMAT_WaveFormatEx;
    d.format = BytesOf(wfx);
    d.format.insert(d.format.end(), codecData.begin(), codecData.end());
}

StreamDescription ReadStream(CXmlFields& f, pugi::xml_node config) {
    StreamDescription d;
    d.majortype = f.Guid(config, "majortype");
    d.wStreamNumber = f.Number<WORD>(config, "streamnumber");
    if (d.wStreamNumber == 0) f.Fail();
    d.streamName = f.Text(config, "streamname");
    d.inputName = f.Text(config, "inputname");
    d.dwBitrate = f.Number<DWORD>(config, "bitrate");
    d.nBufferWindow = f.Number<LONG>(config, "bufferwindow");
    d.bReliableTransport = f.Number<BOOL>(config, "reliabletransport");
    d.decoderComplexity = f.Text(config, "decodercomplexity");
    d.language = f.Text(config, "rfc1766langid");

    pugi::xml_node mediaType = f.Child(config, "wmmediatype");
    d.subtype = f.Guid(mediaType, "subtype");
    d.bFixedSizeSamples = f.Number<BOOL>(mediaType, "bfixedsizesamples");
    d.bTemporalCompression = f.Number<BOOL>(mediaType, "btemporalcompression");
    d.lSampleSize = f.Number<ULONG>(mediaType, "lsamplesize");
    if (d.IsVideo()) {
        ReadVideoFormat(f, mediaType, d);
    } else if (d.IsAudio()) {
        ReadAudioFormat(f, mediaType, d);
    }
    return d;
}

struct StringWriter final : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

}  // namespace

std::string ProfileToXml(const CProfile& profile) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("profile");
    SetNumber(root, "version", kProfileVersion);
    SetNumber(root, "storageformat", 1);
    root.append_attribute("name").set_value(pugi::as_utf8(profile.Name()).c_str());
    root.append_attribute("description")
        .set_value(pugi::as_utf8(profile.ProfileDescription()).c_str());
    for (const CStreamConfig* config : profile.Streams()) WriteStream(root, config->Description());
    StringWriter writer;
    doc.save(writer, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text;
}

HRESULT ProfileFromXml(const std::string& text, CProfile** ppProfile) {
    if (ppProfile == nullptr) return E_POINTER;
    *ppProfile = nullptr;
    pugi::xml_document doc;
    // Escaped attribute values come back exactly as they were saved; text beside the root
    // element is kept (as a fragment) so that it can be refused.
    const unsigned options =
        (pugi::parse_default & ~pugi::parse_wconv_attribute) | pugi::parse_fragment;
    if (!doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8)) {
        return NS_E_INVALIDPROFILE;
    }
    pugi::xml_node root;
    for (pugi::xml_node node : doc.children()) {
        if (node.type() == pugi::node_element) {
            if (root) return NS_E_INVALIDPROFILE;
            root = node;
        } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            return NS_E_INVALIDPROFILE;
        }
    }
    if (!root || std::strcmp(root.name(), "profile") != 0) return NS_E_INVALIDPROFILE;

    CXmlFields f;
    f.Number<DWORD>(root, "version");
    std::vector<StreamDescription> streams;
    std::set<WORD> numbers;
    for (pugi::xml_node config : root.children("streamconfig")) {
        streams.push_back(ReadStream(f, config));
        if (!numbers.insert(streams.back().wStreamNumber).second) f.Fail();
    }
    if (!f.Ok()) return NS_E_INVALIDPROFILE;
    *ppProfile = CProfile::Create(streams, f.Text(root, "name"), f.Text(root, "description"));
    return *ppProfile == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace wmf
