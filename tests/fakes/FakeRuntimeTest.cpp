#include <gtest/gtest.h>

#include "platform/wmf/shared/SampleBuffer.h"
#include "tests/fakes/FakeRuntime.h"

// The fake must itself hold to the rules that the code under test is checked against.
class FakeRuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override { Fake().Reset(); }
};

TEST_F(FakeRuntimeTest, SavedProfileLoadsBackAsAnIndependentCopy) {
    FakeStream named = FakeAudioStream(3);
    named.name = L"caf\u00e9 \u0416 \"q\"";
    IWMProfile* pProfile = Fake().NewProfile({FakeVideoStream(1, 6, 4), named});
    IWMProfileManager* pManager = nullptr;
    ASSERT_EQ(WMCreateProfileManager(&pManager), S_OK);

    DWORD length = 0;
    ASSERT_EQ(pManager->SaveProfile(pProfile, nullptr, &length), S_OK);
    std::vector<WCHAR> text(length);
    DWORD shortLength = length - 1;
    EXPECT_EQ(pManager->SaveProfile(pProfile, text.data(), &shortLength), ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(pManager->SaveProfile(pProfile, text.data(), &length), S_OK);
    EXPECT_EQ(text[length - 1], L'\0');

    IWMProfile* pCopy = nullptr;
    ASSERT_EQ(pManager->LoadProfileByData(text.data(), &pCopy), S_OK);
    EXPECT_EQ(Fake().StreamsOf(pCopy), Fake().StreamsOf(pProfile));

    IWMStreamConfig* pConfig = nullptr;
    ASSERT_EQ(pCopy->GetStream(0, &pConfig), S_OK);
    EXPECT_EQ(pCopy->RemoveStream(pConfig), S_OK);
    pConfig->Release();
    EXPECT_EQ(Fake().StreamsOf(pCopy).size(), 1u);
    EXPECT_EQ(Fake().StreamsOf(pProfile).size(), 2u);

    IWMProfile* pBad = nullptr;
    EXPECT_EQ(pManager->LoadProfileByData(L"<profile/>", &pBad), NS_E_INVALIDPROFILE);
    EXPECT_EQ(pBad, nullptr);

    pCopy->Release();
    pProfile->Release();
    pManager->Release();
    EXPECT_EQ(Fake().LiveObjects(), 0);
    EXPECT_TRUE(Fake().Faults().empty());
}

TEST_F(FakeRuntimeTest, SyncReaderDeliversTheScriptThenNoMoreSamples) {
    Fake().AddInput(L"in.wmv", {FakeAudioStream(1), FakeVideoStream(2, 2, 2)},
                    {FakeFrame{1, 0, 10, 0, {9}}, FakeFrame{2, 5, 10, 1, {1, 2}}});
    IWMSyncReader* pReader = nullptr;
    ASSERT_EQ(WMCreateSyncReader(nullptr, 0, &pReader), S_OK);
    INSSBuffer* pSample = nullptr;
    EXPECT_EQ(pReader->GetNextSample(2, &pSample, nullptr, nullptr, nullptr, nullptr, nullptr),
              NS_E_INVALID_REQUEST);
    EXPECT_EQ(pReader->Open(L"missing.wmv"), NS_E_FILE_NOT_FOUND);
    ASSERT_EQ(pReader->Open(L"in.wmv"), S_OK);

    QWORD time = 0;
    DWORD output = 0;
    ASSERT_EQ(pReader->GetNextSample(2, &pSample, &time, nullptr, nullptr, &output, nullptr), S_OK);
    EXPECT_EQ(time, 5u);
    EXPECT_EQ(output, 1u);
    EXPECT_EQ(Fake().RefCount(pSample), 1u);
    pSample->Release();
    EXPECT_EQ(pReader->GetNextSample(2, &pSample, nullptr, nullptr, nullptr, nullptr, nullptr),
              NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(pSample, nullptr);

    IWMHeaderInfo* pHeader = nullptr;
    ASSERT_EQ(pReader->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&pHeader)), S_OK);
    WORD stream = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    QWORD duration = 0;
    WORD length = sizeof duration;
    EXPECT_EQ(pHeader->GetAttributeByName(&stream, g_wszWMDuration, &type,
                                          reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    EXPECT_EQ(duration, 15u);
    pReader->Release();
    EXPECT_EQ(pHeader->GetAttributeByName(&stream, g_wszWMDuration, &type,
                                          reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    pHeader->Release();
    EXPECT_EQ(Fake().LiveObjects(), 0);
}

TEST_F(FakeRuntimeTest, InjectedFailureHitsTheNthCallOnly) {
    Fake().FailAt("WMCreateWriter", 2, E_OUTOFMEMORY);
    IWMWriter* pFirst = nullptr;
    IWMWriter* pSecond = nullptr;
    IWMWriter* pThird = nullptr;
    EXPECT_EQ(WMCreateWriter(nullptr, &pFirst), S_OK);
    EXPECT_EQ(WMCreateWriter(nullptr, &pSecond), E_OUTOFMEMORY);
    EXPECT_EQ(pSecond, nullptr);
    EXPECT_EQ(WMCreateWriter(nullptr, &pThird), S_OK);
    EXPECT_EQ(Fake().CountCalls("WMCreateWriter"), 3);
    pFirst->Release();
    pThird->Release();
}

TEST_F(FakeRuntimeTest, ReleaseTooManyIsAFault) {
    IWMProfile* pProfile = Fake().NewProfile({});
    pProfile->Release();
    pProfile->Release();
    EXPECT_EQ(Fake().Faults().size(), 1u);
}

TEST_F(FakeRuntimeTest, WriterFollowsItsStatesAndRecordsSamples) {
    IWMProfile* pProfile = Fake().NewProfile({FakeVideoStream(1, 2, 2)});
    IWMProfile* pEmpty = Fake().NewProfile({});
    IWMWriter* pWriter = nullptr;
    ASSERT_EQ(WMCreateWriter(nullptr, &pWriter), S_OK);
    CSampleBuffer* pFrame = CSampleBuffer::Create(DibStride(2) * 2);
    CSampleBuffer* pWrongSize = CSampleBuffer::Create(5);

    EXPECT_EQ(pWriter->WriteSample(0, 1, 0, pFrame), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pWriter->BeginWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pWriter->SetProfile(pEmpty), NS_E_INVALIDPROFILE);
    EXPECT_EQ(pWriter->SetProfile(pProfile), S_OK);
    EXPECT_EQ(pWriter->SetOutputFilename(L""), E_INVALIDARG);
    EXPECT_EQ(pWriter->SetOutputFilename(L"out.wmv"), S_OK);
    EXPECT_EQ(pWriter->EndWriting(), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pWriter->BeginWriting(), S_OK);
    EXPECT_EQ(Fake().WriterState(pWriter), FakeWriterState::Writing);
    EXPECT_EQ(pWriter->SetProfile(pProfile), NS_E_INVALID_REQUEST);
    EXPECT_EQ(pWriter->WriteSample(0, 7, 0, pWrongSize), NS_E_INVALID_INPUT_FORMAT);
    EXPECT_EQ(pWriter->WriteSample(0, 333667, 0, pFrame), S_OK);
    EXPECT_EQ(pFrame->RefCount(), 1u);
    EXPECT_EQ(pWriter->EndWriting(), S_OK);
    EXPECT_EQ(Fake().WriterState(pWriter), FakeWriterState::Ended);

    ASSERT_EQ(Fake().Outputs().size(), 1u);
    const FakeOutput& output = Fake().Outputs()[0];
    EXPECT_EQ(output.fileName, L"out.wmv");
    EXPECT_TRUE(output.ended);
    ASSERT_EQ(output.samples.size(), 1u);
    EXPECT_EQ(output.samples[0].time, 333667u);
    EXPECT_EQ(output.samples[0].bytes.size(), DibStride(2) * 2);

    pFrame->Release();
    pWrongSize->Release();
    pWriter->Release();
    pEmpty->Release();
    pProfile->Release();
    EXPECT_EQ(Fake().LiveObjects(), 0);
    EXPECT_TRUE(Fake().Faults().empty());
}
