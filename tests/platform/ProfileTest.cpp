#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/wmsdk.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ProfileQueries.h"
#include "tests/support/TestStreams.h"

namespace {

using namespace varnel_test;

// Stream numbers of a profile, in index order.
std::vector<WORD> Numbers(IWMProfile* profile) {
    std::vector<WORD> numbers;
    for (const auto& [type, number] : Streams(profile)) numbers.push_back(number);
    return numbers;
}

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pProfile.reset(wmf::CProfile::Create({TestAudio(1), TestVideo(2), TestAudio(3)}));
        ASSERT_NE(m_pProfile, nullptr);
    }

    Ref<wmf::CProfile> m_pProfile;
};

TEST_F(ProfileTest, StreamsKeepTheirOrderNumbersAndTypes) {
    const auto streams = Streams(m_pProfile.get());
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0], std::make_pair(WMMEDIATYPE_Audio, WORD{1}));
    EXPECT_EQ(streams[1], std::make_pair(WMMEDIATYPE_Video, WORD{2}));
    EXPECT_EQ(streams[2], std::make_pair(WMMEDIATYPE_Audio, WORD{3}));
}

TEST_F(ProfileTest, RemovingTheFirstOfThreeShiftsTheOthersDown) {
    EXPECT_EQ(m_pProfile->RemoveStream(StreamAt(m_pProfile.get(), 0).get()), S_OK);
    EXPECT_EQ(Numbers(m_pProfile.get()), (std::vector<WORD>{2, 3}));
    EXPECT_EQ(m_pProfile->RemoveStream(StreamAt(m_pProfile.get(), 1).get()), S_OK);
    EXPECT_EQ(Numbers(m_pProfile.get()), (std::vector<WORD>{2}));
}

TEST_F(ProfileTest, RemovingAStreamOfAnotherProfileMatchesItsNumberOrFails) {
    Ref<wmf::CProfile> other(wmf::CProfile::Create({TestVideo(3), TestVideo(9)}));
    EXPECT_EQ(m_pProfile->RemoveStream(StreamAt(other.get(), 1).get()), NS_E_INVALID_STREAM);
    EXPECT_EQ(m_pProfile->RemoveStream(StreamAt(other.get(), 0).get()), S_OK);
    EXPECT_EQ(Numbers(m_pProfile.get()), (std::vector<WORD>{1, 2}));
    EXPECT_EQ(m_pProfile->RemoveStream(nullptr), E_POINTER);
}

TEST_F(ProfileTest, AConfigurationOutlivesTheProfileWhileHeld) {
    Ref<IWMStreamConfig> config = StreamAt(m_pProfile.get(), 1);
    m_pProfile.reset();
    IWMMediaProps* props = nullptr;
    ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)), S_OK);
    Ref<IWMMediaProps> holdProps(props);
    GUID type{};
    EXPECT_EQ(props->GetType(&type), S_OK);
    EXPECT_EQ(type, WMMEDIATYPE_Video);
    void* unknown = nullptr;
    EXPECT_EQ(config->QueryInterface(IID_IWMWriter, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
}

TEST_F(ProfileTest, VideoHeaderFollowsTheMediaTypeInTheSameBuffer) {
    const std::vector<BYTE> buffer = MediaTypeOf(StreamAt(m_pProfile.get(), 1).get());
    const WM_MEDIA_TYPE* mt = MediaType(buffer);
    EXPECT_EQ(mt->majortype, WMMEDIATYPE_Video);
    EXPECT_EQ(mt->subtype, WMMEDIASUBTYPE_WMV2);
    EXPECT_EQ(mt->formattype, WMFORMAT_VideoInfo);
    ASSERT_EQ(mt->cbFormat, sizeof(WMVIDEOINFOHEADER));
    ASSERT_GE(mt->pbFormat, buffer.data() + sizeof(WM_MEDIA_TYPE));
    ASSERT_LE(mt->pbFormat + mt->cbFormat, buffer.data() + buffer.size());
    const auto* vih = reinterpret_cast<const WMVIDEOINFOHEADER*>(mt->pbFormat);
    EXPECT_EQ(vih->dwBitRate, 500000u);
    EXPECT_EQ(vih->AvgTimePerFrame, 333667);
    EXPECT_EQ(vih->rcSource.right, 322);
    EXPECT_EQ(vih->rcTarget.bottom, 240);
    const BITMAPINFOHEADER& bih = vih->bmiHeader;
    EXPECT_EQ(bih.biSize, 40u);
    EXPECT_EQ(bih.biWidth, 322);
    EXPECT_EQ(bih.biHeight, 240);
    EXPECT_EQ(bih.biPlanes, 1);
    EXPECT_EQ(bih.biBitCount, 24);
    EXPECT_EQ(bih.biCompression, MakeFourcc('W', 'M', 'V', '2'));
    EXPECT_EQ(bih.biSizeImage, 0u);
}

TEST_F(ProfileTest, AudioFormatCarriesItsCodecData) {
    const std::vector<BYTE> buffer = MediaTypeOf(StreamAt(m_pProfile.get(), 0).get());
    const WM_MEDIA_TYPE* mt = MediaType(buffer);
    EXPECT_EQ(mt->formattype, WMFORMAT_WaveFormatEx);
    EXPECT_EQ(mt->subtype.Data1, 0x161u);
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    EXPECT_EQ(wfx->nChannels, 2);
    ASSERT_EQ(wfx->cbSize, 10);
    ASSERT_EQ(mt->cbFormat, sizeof(WAVEFORMATEX) + 10);
    EXPECT_EQ(mt->pbFormat[sizeof(WAVEFORMATEX) + 1], 0x88);
}

TEST_F(ProfileTest, AMediaTypeBufferTooSmallIsRefusedWithTheSizeNeeded) {
    IWMMediaProps* props = nullptr;
    ASSERT_EQ(StreamAt(m_pProfile.get(), 1)
                  ->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)),
              S_OK);
    Ref<IWMMediaProps> hold(props);
    DWORD needed = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &needed), S_OK);
    std::vector<BYTE> buffer(needed, 0xAB);
    DWORD size = needed - 1;
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &size),
              ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(props->GetMediaType(nullptr, nullptr), E_POINTER);
}

// Saving and loading profiles as text

std::vector<wmf::StreamDescription> AudioVideoData() {
    return {TestAudio(1), TestVideo(2, 208, 160, MakeFourcc('W', 'M', 'V', '1'), 400000),
            wmf::DescribeOtherStream(3, 0)};
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ProfileManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        IWMProfileManager* manager = nullptr;
        ASSERT_EQ(WMCreateProfileManager(&manager), S_OK);
        m_pManager.reset(manager);
    }

    std::wstring Save(IWMProfile* profile) {
        DWORD length = 0;
        EXPECT_EQ(m_pManager->SaveProfile(profile, nullptr, &length), S_OK);
        std::wstring text(length, L'#');
        EXPECT_EQ(m_pManager->SaveProfile(profile, text.data(), &length), S_OK);
        EXPECT_EQ(text.back(), L'\0');
        text.pop_back();
        return text;
    }

    Ref<IWMProfile> Load(const std::wstring& text, HRESULT expected = S_OK) {
        IWMProfile* profile = nullptr;
        EXPECT_EQ(m_pManager->LoadProfileByData(text.c_str(), &profile), expected)
            << "text: " << Narrow(text);
        return Ref<IWMProfile>(profile);
    }

    Ref<IWMProfileManager> m_pManager;
};

TEST_F(ProfileManagerTest, SavingALoadedProfileGivesTheSameText) {
    // Also an empty profile, and names with accents, quotes and line breaks.
    std::vector<wmf::StreamDescription> named = AudioVideoData();
    named[1].streamName = L"Vid\u00e9o \"<&>\"\n\tend";
    named[0].language = L"\u20ac-euro";
    Ref<IWMProfile> profiles[] = {
        Ref<IWMProfile>(wmf::CProfile::Create(AudioVideoData())),
        Ref<IWMProfile>(wmf::CProfile::Create({})),
        Ref<IWMProfile>(wmf::CProfile::Create(named, L"n\u00e4me", L"a\r\nb"))};
    for (const Ref<IWMProfile>& profile : profiles) {
        const std::wstring text = Save(profile.get());
        Ref<IWMProfile> loaded = Load(text);
        ASSERT_NE(loaded, nullptr) << Narrow(text);
        EXPECT_EQ(Save(loaded.get()), text);
        EXPECT_EQ(Streams(loaded.get()), Streams(profile.get()));
    }
    EXPECT_NE(Save(profiles[2].get()).find(L"n\u00e4me"), std::wstring::npos);
}

TEST_F(ProfileManagerTest, TextHasTheWindowsMediaProfileForm) {
    Ref<IWMProfile> profile(wmf::CProfile::Create(AudioVideoData()));
    const std::string text = Narrow(Save(profile.get()));
    EXPECT_EQ(text.rfind(
                  "<profile version=\"589824\" storageformat=\"1\" name=\"\" description=\"\">", 0),
              0u)
        << text;
    for (const char* part :
         {"majortype=\"{73646976-0000-0010-8000-00AA00389B71}\" streamnumber=\"2\"",
          "subtype=\"{31564D57-0000-0010-8000-00AA00389B71}\"", "avgtimeperframe=\"400000\"",
          "<rcsource left=\"0\" top=\"0\" right=\"208\" bottom=\"160\"",
          "biwidth=\"208\" biheight=\"160\" biplanes=\"1\" bibitcount=\"24\" "
          "bicompression=\"WMV1\"",
          "wFormatTag=\"353\" nChannels=\"2\" nSamplesPerSec=\"44100\"",
          "codecdata=\"008800000F0029000000\""}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

TEST_F(ProfileManagerTest, LoadedProfileIsIndependentOfTheOriginal) {
    Ref<IWMProfile> original(wmf::CProfile::Create(AudioVideoData()));
    Ref<IWMProfile> copy = Load(Save(original.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->RemoveStream(StreamAt(copy.get(), 0).get()), S_OK);
    EXPECT_EQ(Streams(original.get()).size(), 3u);
    EXPECT_EQ(Streams(copy.get()).size(), 2u);
}

TEST_F(ProfileManagerTest, LengthCountsTheTerminatorAndAShortBufferIsRefused) {
    Ref<IWMProfile> profile(wmf::CProfile::Create(AudioVideoData()));
    DWORD needed = 0;
    ASSERT_EQ(m_pManager->SaveProfile(profile.get(), nullptr, &needed), S_OK);
    EXPECT_EQ(needed, Save(profile.get()).size() + 1);
    std::wstring buffer(needed, L'#');
    DWORD length = needed - 1;
    EXPECT_EQ(m_pManager->SaveProfile(profile.get(), buffer.data(), &length), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(length, needed);
    EXPECT_EQ(buffer, std::wstring(needed, L'#'));
    EXPECT_EQ(m_pManager->SaveProfile(profile.get(), nullptr, nullptr), E_POINTER);
}

TEST_F(ProfileManagerTest, DamagedOrForeignTextIsNotAProfile) {
    Ref<IWMProfile> profile(wmf::CProfile::Create(AudioVideoData()));
    const std::wstring good = Save(profile.get());
    auto replaced = [&good](const std::wstring& from, const std::wstring& to) {
        std::wstring text = good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::wstring::npos) << "missing: " << Narrow(from);
        return at == std::wstring::npos ? text : text.replace(at, from.size(), to);
    };
    const std::vector<std::wstring> texts = {
        L"",
        L"not xml at all",
        L"<html><body>hello</body></html>",
        good.substr(0, good.size() / 2),
        good + L"<profile/>",
        good + L"trailing text",
        replaced(L"streamnumber=\"2\"", L"streamnumber=\"two\""),
        replaced(L"streamnumber=\"2\"", L"streamnumber=\"0\""),
        replaced(L"streamnumber=\"2\"", L"streamnumber=\"1\""),
        replaced(L"streamnumber=\"2\"", L"streamnumber=\"65536\""),
        replaced(L" bitrate=\"128000\"", L" bitrate=\"-5\""),
        replaced(L"biwidth=\"208\"", L"biwidth=\"0\""),
        replaced(L"biheight=\"160\"", L"biheight=\"99999999999\""),
        replaced(L"{73646976-0000-0010-8000-00AA00389B71}", L"{73646976-0000-0010-8000-00AA0038}"),
        replaced(L"{73646976-0000-0010-8000-00AA00389B71}",
                 L"{73646976- 000-0010-8000-00AA00389B71}"),
        replaced(L"codecdata=\"008800000F0029000000\"", L"codecdata=\"008800000F002900000\""),
        replaced(L"codecdata=\"008800000F0029000000\"", L"codecdata=\"008800000F00290000G0\""),
        replaced(L"<bitmapinfoheader", L"<bitmapheader"),
        replaced(L"<waveformatex", L"<waveformat"),
        replaced(L" lsamplesize=\"0\"", L""),
    };
    for (const std::wstring& text : texts) {
        Ref<IWMProfile> loaded = Load(text, NS_E_INVALIDPROFILE);
        EXPECT_EQ(loaded, nullptr);
    }
    IWMProfile* out = nullptr;
    EXPECT_EQ(m_pManager->LoadProfileByData(nullptr, &out), E_POINTER);
}

}  // namespace
