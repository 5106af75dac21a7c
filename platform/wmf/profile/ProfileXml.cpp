// SPDX-License-Identifier: GPL-3.0-or-later
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <span>
#include <sstream>
#include <type_traits>
#include <vector>

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

// ---------------------------------------------------------------------------------------------
// The fields: every attribute of a stream's elements with the member it stands for, in the
// order the attributes are written. Writing and reading walk the same tables.

class CXmlReader;

// One attribute of an element that describes an S: its name, the text it takes from an S, and
// how a reader puts it back.
template <typename S>
struct XmlField {
    const char* name;
    std::string (*text)(const S& value);
    void (*read)(CXmlReader& reader, pugi::xml_node node, const char* name, S& value);
};

// ---------------------------------------------------------------------------------------------
// Reading: every helper marks the reader failed instead of throwing, and the caller checks
// once at the end.

class CXmlReader {
  public:
    static constexpr bool kReading = true;

    bool Ok() const { return m_bOk; }
    void Fail() { m_bOk = false; }

    // The child element, which must be there.
    pugi::xml_node Element(pugi::xml_node parent, const char* name) {
        pugi::xml_node node = parent.child(name);
        if (!node) Fail();
        return node;
    }

    template <typename S>
    void Fields(pugi::xml_node node, S& value,
                std::span<const XmlField<std::type_identity_t<S>>> fields) {
        for (const XmlField<S>& field : fields) field.read(*this, node, field.name, value);
    }

    // The attribute as a value of the member's type.
    template <typename T>
    T Read(pugi::xml_node node, const char* name) {
        if constexpr (std::is_same_v<T, GUID>) {
            return Guid(node, name);
        } else if constexpr (std::is_same_v<T, std::wstring>) {
            return Text(node, name);
        } else {
            return Number<T>(node, name);
        }
    }

    void Hex(pugi::xml_node node, const char* name, std::vector<BYTE>& bytes) {
        const std::string text = node.attribute(name).value();
        bytes.clear();
        if (text.size() % 2 != 0 || text.size() / 2 > 0xFFFF) {
            Fail();
            return;
        }
        for (size_t i = 0; i < text.size(); i += 2) {
            BYTE value = 0;
            const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
            if (ec != std::errc() || ptr != text.data() + i + 2) {
                Fail();
                bytes.clear();
                return;
            }
            bytes.push_back(value);
        }
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

    DWORD Compression(pugi::xml_node node, const char* name) {
        const std::string text = node.attribute(name).value();
        if (text.size() == 4 && text.find_first_not_of("0123456789") != std::string::npos) {
            return MakeFourcc(text[0], text[1], text[2], text[3]);
        }
        return Number<DWORD>(node, name);
    }

  private:
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

std::string ValueText(const GUID& value) { return GuidText(value); }
std::string ValueText(const std::wstring& value) { return pugi::as_utf8(value); }
template <typename T>
std::string ValueText(T value) {
    return std::to_string(value);
}

template <typename T>
struct MemberTraits;
template <typename S, typename T>
struct MemberTraits<T S::*> {
    using Struct = S;
    using Type = T;
};

// The field of a member, written as a number, a braced GUID or text by the member's type.
template <auto Member>
constexpr XmlField<typename MemberTraits<decltype(Member)>::Struct> Field(const char* name) {
    using S = typename MemberTraits<decltype(Member)>::Struct;
    using T = typename MemberTraits<decltype(Member)>::Type;
    return {name, [](const S& value) { return ValueText(value.*Member); },
            [](CXmlReader& reader, pugi::xml_node node, const char* attribute, S& value) {
                value.*Member = reader.Read<T>(node, attribute);
            }};
}

// The field of a FOURCC held in a DWORD (see CompressionText).
template <auto Member>
constexpr XmlField<typename MemberTraits<decltype(Member)>::Struct> FourccField(const char* name) {
    using S = typename MemberTraits<decltype(Member)>::Struct;
    return {name, [](const S& value) { return CompressionText(value.*Member); },
            [](CXmlReader& reader, pugi::xml_node node, const char* attribute, S& value) {
                value.*Member = reader.Compression(node, attribute);
            }};
}

using D = StreamDescription;
constexpr XmlField<D> kStreamConfigFields[] = {
    Field<&D::majortype>("majortype"),
    Field<&D::wStreamNumber>("streamnumber"),
    Field<&D::streamName>("streamname"),
    Field<&D::inputName>("inputname"),
    Field<&D::dwBitrate>("bitrate"),
    Field<&D::nBufferWindow>("bufferwindow"),
    Field<&D::bReliableTransport>("reliabletransport"),
    Field<&D::decoderComplexity>("decodercomplexity"),
    Field<&D::language>("rfc1766langid"),
};
constexpr XmlField<D> kVideoPropsFields[] = {
    Field<&D::nMaxKeyFrameSpacing>("maxkeyframespacing"),
    Field<&D::dwQuality>("quality"),
};
constexpr XmlField<D> kMediaTypeFields[] = {
    Field<&D::subtype>("subtype"),
    Field<&D::bFixedSizeSamples>("bfixedsizesamples"),
    Field<&D::bTemporalCompression>("btemporalcompression"),
    Field<&D::lSampleSize>("lsamplesize"),
};
using V = WMVIDEOINFOHEADER;
constexpr XmlField<V> kVideoInfoFields[] = {
    Field<&V::dwBitRate>("dwbitrate"),
    Field<&V::dwBitErrorRate>("dwbiterrorrate"),
    Field<&V::AvgTimePerFrame>("avgtimeperframe"),
};
constexpr XmlField<RECT> kRectFields[] = {
    Field<&RECT::left>("left"),
    Field<&RECT::top>("top"),
    Field<&RECT::right>("right"),
    Field<&RECT::bottom>("bottom"),
};
using B = BITMAPINFOHEADER;
constexpr XmlField<B> kBitmapFields[] = {
    Field<&B::biWidth>("biwidth"),
    Field<&B::biHeight>("biheight"),
    Field<&B::biPlanes>("biplanes"),
    Field<&B::biBitCount>("bibitcount"),
    FourccField<&B::biCompression>("bicompression"),
    Field<&B::biSizeImage>("bisizeimage"),
    Field<&B::biXPelsPerMeter>("bixpelspermeter"),
    Field<&B::biYPelsPerMeter>("biypelspermeter"),
    Field<&B::biClrUsed>("biclrused"),
    Field<&B::biClrImportant>("biclrimportant"),
};
using W = WAVEFORMATEX;
constexpr XmlField<W> kWaveFormatFields[] = {
    Field<&W::wFormatTag>("wFormatTag"),         Field<&W::nChannels>("nChannels"),
    Field<&W::nSamplesPerSec>("nSamplesPerSec"), Field<&W::nAvgBytesPerSec>("nAvgBytesPerSec"),
    Field<&W::nBlockAlign>("nBlockAlign"),       Field<&W::wBitsPerSample>("wBitsPerSample"),
};

// ---------------------------------------------------------------------------------------------
// Writing

class CXmlWriter {
  public:
    static constexpr bool kReading = false;

    pugi::xml_node Element(pugi::xml_node parent, const char* name) {
        return parent.append_child(name);
    }

    template <typename S>
    void Fields(pugi::xml_node node, const S& value,
                std::span<const XmlField<std::type_identity_t<S>>> fields) {
        for (const XmlField<S>& field : fields) Set(node, field.name, field.text(value));
    }

    void Hex(pugi::xml_node node, const char* name, const std::vector<BYTE>& bytes) {
        Set(node, name, HexText(bytes.data(), bytes.size()));
    }

  private:
    static void Set(pugi::xml_node node, const char* name, const std::string& text) {
        node.append_attribute(name).set_value(text.c_str());
    }
};

// ---------------------------------------------------------------------------------------------
// The elements of one stream, walked alike to write (Io = CXmlWriter) and to read
// (Io = CXmlReader, which fills the description and checks what the fields cannot).

template <class Io, class Description>
void WalkVideoFormat(Io& io, pugi::xml_node mediaType, Description& d) {
    auto vih = ReadPod<WMVIDEOINFOHEADER>(d.format);
    pugi::xml_node info = io.Element(mediaType, "videoinfoheader");
    io.Fields(info, vih, kVideoInfoFields);
    io.Fields(io.Element(info, "rcsource"), vih.rcSource, kRectFields);
    io.Fields(io.Element(info, "rctarget"), vih.rcTarget, kRectFields);
    BITMAPINFOHEADER& bih = vih.bmiHeader;
    io.Fields(io.Element(info, "bitmapinfoheader"), bih, kBitmapFields);
    if constexpr (Io::kReading) {
        bih.biSize = sizeof(BITMAPINFOHEADER);
        // Frames of this size must be addressable by every consumer of the header.
        if (bih.biWidth < 1 || bih.biWidth > kMaxDimension || bih.biHeight == 0 ||
            bih.biHeight < -kMaxDimension || bih.biHeight > kMaxDimension) {
            io.Fail();
        }
        d.formattype = WMFORMAT_VideoInfo;
        d.format = BytesOf(vih);
    }
}

template <class Io, class Description>
void WalkAudioFormat(Io& io, pugi::xml_node mediaType, Description& d) {
    auto wfx = ReadPod<WAVEFORMATEX>(d.format);
    // The codec data follows the WAVEFORMATEX.
    std::vector<BYTE> codecData;
    if (d.format.size() > sizeof(WAVEFORMATEX)) {
        codecData.assign(d.format.begin() + sizeof(WAVEFORMATEX), d.format.end());
    }
    pugi::xml_node node = io.Element(mediaType, "waveformatex");
    io.Fields(node, wfx, kWaveFormatFields);
    io.Hex(node, "codecdata", codecData);
    if constexpr (Io::kReading) {
        wfx.cbSize = static_cast<WORD>(codecData.size());
        d.formattype = WMFORMAT_WaveFormatEx;
        d.format = BytesOf(wfx);
        d.format.insert(d.format.end(), codecData.begin(), codecData.end());
    }
}

// Description is const StreamDescription for writing, StreamDescription for reading.
template <class Io, class Description>
void WalkStream(Io& io, pugi::xml_node config, Description& d) {
    io.Fields(config, d, kStreamConfigFields);
    if (d.IsVideo()) io.Fields(io.Element(config, "videomediaprops"), d, kVideoPropsFields);
    pugi::xml_node mediaType = io.Element(config, "wmmediatype");
    io.Fields(mediaType, d, kMediaTypeFields);
    if (d.IsVideo()) {
        WalkVideoFormat(io, mediaType, d);
    } else if (d.IsAudio()) {
        WalkAudioFormat(io, mediaType, d);
    }
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
    root.append_attribute("version").set_value(std::to_string(kProfileVersion).c_str());
    root.append_attribute("storageformat").set_value("1");
    root.append_attribute("name").set_value(pugi::as_utf8(profile.Name()).c_str());
    root.append_attribute("description")
        .set_value(pugi::as_utf8(profile.ProfileDescription()).c_str());
    CXmlWriter fields;
    for (const CStreamConfig* config : profile.Streams()) {
        WalkStream(fields, fields.Element(root, "streamconfig"), config->Description());
    }
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

    CXmlReader f;
    f.Number<DWORD>(root, "version");
    std::vector<StreamDescription> streams;
    std::set<WORD> numbers;
    for (pugi::xml_node config : root.children("streamconfig")) {
        StreamDescription d;
        WalkStream(f, config, d);
        if (d.wStreamNumber == 0 || !numbers.insert(d.wStreamNumber).second) f.Fail();
        streams.push_back(std::move(d));
    }
    if (!f.Ok()) return NS_E_INVALIDPROFILE;
    *ppProfile = CProfile::Create(streams, f.Text(root, "name"), f.Text(root, "description"));
    return *ppProfile == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace wmf
