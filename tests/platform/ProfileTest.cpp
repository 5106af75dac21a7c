#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/wmf/Profile.h"
#include "platform/wmf/wmsdk.h"
#include "tests/platform/PlatformTestSupport.h"
#include "tests/platform/TestStreams.h"

namespace {

using wmf::StreamDescription;

using varnel_test::Ref;

StreamDescription Audio(WORD number) { return varnel_test::TestAudio(number); }
StreamDescription Video(WORD number) { return varnel_test::TestVideo(number); }

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pProfile.reset(wmf::CProfile::Create({Audio(1), Video(2), Audio(3)}));
        ASSERT_NE(m_pProfile, nullptr);
    }

    Ref<IWMStreamConfig> Stream(DWORD index) {
        IWMStreamConfig* config = nullptr;
        EXPECT_EQ(m_pProfile->GetStream(index, &config), S_OK);
        return Ref<IWMStreamConfig>(config);
    }

    static WORD Number(IWMStreamConfig* config) {
        WORD number = 0;
        EXPECT_EQ(config->GetStreamNumber(&number), S_OK);
        return number;
    }

    std::vector<WORD> Numbers() {
        DWORD count = 0;
        EXPECT_EQ(m_pProfile->GetStreamCount(&count), S_OK);
        std::vector<WORD> numbers;
        for (DWORD i = 0; i < count; ++i) numbers.push_back(Number(Stream(i).get()));
        return numbers;
    }

    Ref<wmf::CProfile> m_pProfile;
};

TEST_F(ProfileTest, StreamsKeepTheirOrderNumbersAndTypes) {
    EXPECT_EQ(Numbers(), (std::vector<WORD>{1, 2, 3}));
    GUID type{};
    ASSERT_EQ(Stream(0)->GetStreamType(&type), S_OK);
    EXPECT_EQ(type, WMMEDIATYPE_Audio);
    ASSERT_EQ(Stream(1)->GetStreamType(&type), S_OK);
    EXPECT_EQ(type, WMMEDIATYPE_Video);
}

TEST_F(ProfileTest, RemovingTheFirstOfThreeShiftsTheOthersDown) {
    EXPECT_EQ(m_pProfile->RemoveStream(Stream(0).get()), S_OK);
    EXPECT_EQ(Numbers(), (std::vector<WORD>{2, 3}));
    EXPECT_EQ(m_pProfile->RemoveStream(Stream(1).get()), S_OK);
    EXPECT_EQ(Numbers(), (std::vector<WORD>{2}));
}

TEST_F(ProfileTest, RemovingAStreamOfAnotherProfileMatchesItsNumberOrFails) {
    Ref<wmf::CProfile> other(wmf::CProfile::Create({Video(3), Video(9)}));
    IWMStreamConfig* three = nullptr;
    IWMStreamConfig* nine = nullptr;
    ASSERT_EQ(other->GetStream(0, &three), S_OK);
    ASSERT_EQ(other->GetStream(1, &nine), S_OK);
    Ref<IWMStreamConfig> holdThree(three), holdNine(nine);
    EXPECT_EQ(m_pProfile->RemoveStream(nine), NS_E_INVALID_STREAM);
    EXPECT_EQ(m_pProfile->RemoveStream(three), S_OK);
    EXPECT_EQ(Numbers(), (std::vector<WORD>{1, 2}));
    EXPECT_EQ(m_pProfile->RemoveStream(nullptr), E_POINTER);
}

TEST_F(ProfileTest, AConfigurationOutlivesTheProfileWhileHeld) {
    Ref<IWMStreamConfig> config = Stream(1);
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

class MediaTypeTest : public ProfileTest {
  protected:
    // The media type of stream `index`, fetched the way the reader does: size, then contents.
    std::vector<BYTE> MediaType(DWORD index) {
        IWMMediaProps* props = nullptr;
        EXPECT_EQ(
            Stream(index)->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)),
            S_OK);
        Ref<IWMMediaProps> hold(props);
        DWORD size = 0;
        EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
        std::vector<BYTE> buffer(size);
        EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &size),
                  S_OK);
        return buffer;
    }
};

TEST_F(MediaTypeTest, VideoHeaderFollowsTheMediaTypeInTheSameBuffer) {
    std::vector<BYTE> buffer = MediaType(1);
    const auto* mt = reinterpret_cast<const WM_MEDIA_TYPE*>(buffer.data());
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

TEST_F(MediaTypeTest, AudioFormatCarriesItsCodecData) {
    std::vector<BYTE> buffer = MediaType(0);
    const auto* mt = reinterpret_cast<const WM_MEDIA_TYPE*>(buffer.data());
    EXPECT_EQ(mt->formattype, WMFORMAT_WaveFormatEx);
    EXPECT_EQ(mt->subtype.Data1, 0x161u);
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    EXPECT_EQ(wfx->nChannels, 2);
    ASSERT_EQ(wfx->cbSize, 10);
    ASSERT_EQ(mt->cbFormat, sizeof(WAVEFORMATEX) + 10);
    EXPECT_EQ(mt->pbFormat[sizeof(WAVEFORMATEX) + 1], 0x88);
}

TEST_F(MediaTypeTest, ABufferTooSmallIsRefusedWithTheSizeNeeded) {
    IWMMediaProps* props = nullptr;
    ASSERT_EQ(Stream(1)->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)), S_OK);
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

}  // namespace
