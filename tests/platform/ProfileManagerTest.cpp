#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/Profile.h"
#include "platform/wmf/wmsdk.h"
#include "tests/platform/PlatformTestSupport.h"
#include "tests/platform/TestStreams.h"

namespace {

using varnel_test::Ref;

std::vector<wmf::StreamDescription> AudioVideoData() {
    return {varnel_test::TestAudio(1),
            varnel_test::TestVideo(2, 208, 160, MakeFourcc('W', 'M', 'V', '1'), 400000),
            wmf::DescribeOtherStream(3, 0)};
}

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

    static std::string Narrow(const std::wstring& text) {
        std::string narrow;
        for (wchar_t c : text) narrow += static_cast<char>(c);
        return narrow;
    }

    Ref<IWMProfileManager> m_pManager;
};

TEST_F(ProfileManagerTest, SavingALoadedProfileGivesTheSameText) {
    Ref<IWMProfile> original(wmf::CProfile::Create(AudioVideoData()));
    const std::wstring text = Save(original.get());
    Ref<IWMProfile> loaded = Load(text);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(Save(loaded.get()), text);
}

TEST_F(ProfileManagerTest, TextHasTheWindowsMediaProfileForm) {
    Ref<IWMProfile> profile(wmf::CProfile::Create(AudioVideoData()));
    const std::string text = Narrow(Save(profile.get()));
    EXPECT_EQ(text.rfind(
                  "<profile version=\"589824\" storageformat=\"1\" name=\"\" description=\"\">", 0),
              0u)
        << text;
    EXPECT_NE(text.find("majortype=\"{73646976-0000-0010-8000-00AA00389B71}\" streamnumber=\"2\""),
              std::string::npos);
    EXPECT_NE(text.find("subtype=\"{31564D57-0000-0010-8000-00AA00389B71}\""), std::string::npos);
    EXPECT_NE(text.find("avgtimeperframe=\"400000\""), std::string::npos);
    EXPECT_NE(text.find("<rcsource left=\"0\" top=\"0\" right=\"208\" bottom=\"160\""),
              std::string::npos);
    EXPECT_NE(text.find("biwidth=\"208\" biheight=\"160\" biplanes=\"1\" bibitcount=\"24\" "
                        "bicompression=\"WMV1\""),
              std::string::npos);
    EXPECT_NE(text.find("wFormatTag=\"353\" nChannels=\"2\" nSamplesPerSec=\"44100\""),
              std::string::npos);
    EXPECT_NE(text.find("codecdata=\"008800000F0029000000\""), std::string::npos);
}

TEST_F(ProfileManagerTest, LoadedProfileIsIndependentOfTheOriginal) {
    Ref<IWMProfile> original(wmf::CProfile::Create(AudioVideoData()));
    Ref<IWMProfile> copy = Load(Save(original.get()));
    ASSERT_NE(copy, nullptr);
    IWMStreamConfig* first = nullptr;
    ASSERT_EQ(copy->GetStream(0, &first), S_OK);
    EXPECT_EQ(copy->RemoveStream(first), S_OK);
    first->Release();
    DWORD count = 0;
    EXPECT_EQ(original->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(copy->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
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

TEST_F(ProfileManagerTest, AnEmptyProfileRoundTrips) {
    Ref<IWMProfile> empty(wmf::CProfile::Create({}));
    const std::wstring text = Save(empty.get());
    Ref<IWMProfile> loaded = Load(text);
    ASSERT_NE(loaded, nullptr);
    DWORD count = 7;
    EXPECT_EQ(loaded->GetStreamCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(ProfileManagerTest, NamesWithAccentsQuotesAndLineBreaksSurvive) {
    std::vector<wmf::StreamDescription> streams = AudioVideoData();
    streams[1].streamName = L"Vid\u00e9o \"<&>\"\n\tend";
    streams[0].language = L"\u20ac-euro";
    Ref<IWMProfile> profile(wmf::CProfile::Create(streams, L"n\u00e4me", L"a\r\nb"));
    const std::wstring text = Save(profile.get());
    EXPECT_NE(text.find(L"n\u00e4me"), std::wstring::npos);
    Ref<IWMProfile> loaded = Load(text);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(Save(loaded.get()), text);
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
