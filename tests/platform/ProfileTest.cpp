// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles in their text form, saved and loaded by the profile manager.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/wmsdk.h"
#include "tests/support/ProfileQueries.h"
#include "tests/support/TestStreams.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace varnel_test;

const std::vector<wmf::StreamDescription> kAudioVideo = {
    TestAudio(1), TestVideo(2, 208, 160, MakeFourcc('W', 'M', 'V', '1'), 400000),
    wmf::DescribeOtherStream(3, 0)};

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
        return text.substr(0, text.size() - 1);  // without the terminating null
    }

    Ref<IWMProfile> Load(const std::wstring& text, HRESULT expected = S_OK) {
        IWMProfile* profile = nullptr;
        EXPECT_EQ(m_pManager->LoadProfileByData(text.c_str(), &profile), expected)
            << "text: " << std::string(text.begin(), text.end());
        return Ref<IWMProfile>(profile);
    }

    Ref<IWMProfileManager> m_pManager;
};

// Also an empty profile, and names with accents, quotes and line breaks.
TEST_F(ProfileManagerTest, ASavedProfileReloadsTheSame) {
    std::vector<wmf::StreamDescription> named = kAudioVideo;
    named[1].streamName = L"Vid\u00e9o \"<&>\"\n\tend";
    named[0].language = L"\u20ac-euro";
    Ref<IWMProfile> profiles[] = {
        Ref<IWMProfile>(wmf::CProfile::Create(kAudioVideo)),
        Ref<IWMProfile>(wmf::CProfile::Create({})),
        Ref<IWMProfile>(wmf::CProfile::Create(named, L"n\u00e4me", L"a\r\nb"))};
    for (const Ref<IWMProfile>& profile : profiles) {
        const std::wstring text = Save(profile.get());
        Ref<IWMProfile> loaded = Load(text);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(Save(loaded.get()), text);
        EXPECT_EQ(Streams(loaded.get()), Streams(profile.get()));
    }
}

TEST_F(ProfileManagerTest, DamagedOrForeignTextIsNotAProfile) {
    Ref<IWMProfile> profile(wmf::CProfile::Create(kAudioVideo));
    const std::wstring good = Save(profile.get());
    auto replaced = [&good](const std::wstring& from, const std::wstring& to) {
        const size_t at = good.find(from);
        EXPECT_NE(at, std::wstring::npos);
        return std::wstring(good).replace(std::min(at, good.size()), from.size(), to);
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
        replaced(L" lsamplesize=\"0\"", L"")};
    for (const std::wstring& text : texts) EXPECT_EQ(Load(text, NS_E_INVALIDPROFILE), nullptr);
}

}  // namespace
