// The scriptable fake of the runtime layer: every function and interface of platform/wmf/wmsdk.h,
// in memory, linked by unit tests in place of the FFmpeg implementation (link varnel_fake).
//
//   Fake().Reset();                                    // in SetUp: a clean runtime
//   Fake().AddInput(L"in.wmv", {FakeAudioStream(1), FakeVideoStream(2, 4, 2)},
//                   FakeFrames(2, 3, DibStride(4) * 2, 333667, 333667));
//   Fake().FailAt("IWMSyncReader::Close", 1, E_FAIL);  // the next Close fails with E_FAIL
//   CMediaReader reader;                               // code under test, unchanged
//   reader.OpenByName("in.wmv");
//   ...
//   EXPECT_EQ(Fake().CountCalls("IWMSyncReader::GetNextSample"), 3);
//   EXPECT_EQ(Fake().LiveObjects(), 0);                // every reference given back
//   EXPECT_TRUE(Fake().Faults().empty());              // no release too many, no use after it
//
// Objects: every object the fake hands out counts its references. An object whose count drops to
// 0 is not freed but retired until Reset(), so that a release too many or a call on a released
// object is caught and listed in Faults() instead of corrupting memory. LiveObjects() counts the
// objects that still hold references.
//
// Calls: every operation on a fake object or function is recorded in order as "Interface::Method"
// ("IWMWriter::WriteSample", "IWMProfile::Release", "WMCreateWriter"). The same names select a
// failure: FailAt(name, n, status) makes the n-th call of that name from now on return status
// without doing anything else (out pointers are set to null).
//
// Inputs: AddInput registers a file by its wide name; IWMSyncReader::Open finds it there
// (NS_E_FILE_NOT_FOUND otherwise) and delivers its frames in the order given, each as a new
// sample, then NS_E_NO_MORE_SAMPLES on every later read. Its IWMHeaderInfo knows the file's
// duration: the end of its last sample (ASF_E_NOTFOUND for a file without samples).
//
// Writers follow the runtime's writer states: SetProfile and SetOutputFilename while writing give
// NS_E_INVALID_REQUEST, a profile without exactly one video stream NS_E_INVALIDPROFILE, an empty
// name E_INVALIDARG, BeginWriting without profile and name or while writing NS_E_INVALID_REQUEST,
// WriteSample while not writing NS_E_INVALID_REQUEST and a sample that is not one frame of the
// profile's size NS_E_INVALID_INPUT_FORMAT, EndWriting while not writing NS_E_INVALID_REQUEST.
// Each BeginWriting starts a new entry of Outputs(), which records every sample written (with a
// copy of its bytes) and whether EndWriting finished it. The writer holds no sample after
// WriteSample returns.
//
// Profiles: IWMProfileManager saves a profile as a line-based XML-like text of its own, one
// <stream .../> line per stream, which LoadProfileByData reads back into a new, independent
// profile (NS_E_INVALIDPROFILE for any other text). Stream names go into that text unchanged, so
// a test can put any wide character into the saved profile.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wmf/wmsdk.h"

// One stream of a profile, with its media type (the fixed fields and the format block).
struct FakeStream {
    GUID majortype = WMMEDIATYPE_Video;
    WORD number = 1;
    std::wstring name;
    DWORD bitrate = 0;
    GUID subtype{};
    BOOL bFixedSizeSamples = FALSE;
    BOOL bTemporalCompression = FALSE;
    ULONG lSampleSize = 0;
    GUID formattype{};
    std::vector<BYTE> format;

    bool operator==(const FakeStream&) const = default;
};

// A video stream as the runtime describes it: WMVIDEOINFOHEADER format, 24-bit header of the
// given size, biCompression the codec's FOURCC.
FakeStream FakeVideoStream(WORD number, LONG width, LONG height,
                           DWORD fourcc = MakeFourcc('W', 'M', 'V', '3'), DWORD bitrate = 500000);
FakeStream FakeAudioStream(WORD number);
FakeStream FakeDataStream(WORD number);

// One sample of an input file.
struct FakeFrame {
    WORD stream = 1;
    QWORD time = 0;
    QWORD duration = 0;
    DWORD flags = 0;
    std::vector<BYTE> bytes;
};

// `count` samples of `size` bytes on `stream`, sample i (from 0) at first + i * step, lasting
// step; every byte of sample i holds (i + 1) & 0xFF.
std::vector<FakeFrame> FakeFrames(WORD stream, int count, size_t size, QWORD first, QWORD step);

struct FakeWrittenSample {
    DWORD input;
    QWORD time;
    DWORD flags;
    INSSBuffer* sample;  // for identity only: the writer holds no reference to it
    std::vector<BYTE> bytes;
};

// One file begun by a writer.
struct FakeOutput {
    std::wstring fileName;
    std::vector<FakeStream> streams;
    std::vector<FakeWrittenSample> samples;
    bool ended = false;
};

enum class FakeWriterState { Idle, Writing, Ended };

class CFakeObject;
struct FakeInput;
struct FakeFailure;

// The one fake runtime of the process; see the file comment. Not thread-safe: the code under
// test calls the runtime from one thread.
class CFakeRuntime {
  public:
    CFakeRuntime();
    ~CFakeRuntime();
    CFakeRuntime(const CFakeRuntime&) = delete;
    CFakeRuntime& operator=(const CFakeRuntime&) = delete;

    // Frees every object (pointers into the fake die here), forgets inputs, failures, calls,
    // outputs and faults.
    void Reset();

    // Scripting.
    void AddInput(const std::wstring& name, std::vector<FakeStream> streams,
                  std::vector<FakeFrame> frames = {});
    // A new profile holding `streams`; the caller receives one reference.
    IWMProfile* NewProfile(std::vector<FakeStream> streams);
    // The n-th call (1 = the next) of `call` from now returns `status`.
    void FailAt(const std::string& call, int nth, HRESULT status);

    // The record of calls.
    const std::vector<std::string>& Calls() const { return m_calls; }
    // The calls whose names start with `prefix`, AddRef and Release left out.
    std::vector<std::string> CallsTo(std::string_view prefix) const;
    int CountCalls(std::string_view call) const;
    void ClearCalls() { m_calls.clear(); }

    // Objects and references.
    // Objects that still hold references; of one kind ("IWMProfile", "INSSBuffer", ...) or all.
    int LiveObjects(std::string_view kind = {}) const;
    // The reference count of a fake object or a CSampleBuffer.
    ULONG RefCount(IUnknown* pObject) const;
    // Releases too many and calls on released objects, in the order they happened.
    const std::vector<std::string>& Faults() const { return m_faults; }
    // Every sample the fake readers handed out, in order.
    std::vector<INSSBuffer*> Samples() const;
    // The streams of a fake profile, in index order.
    std::vector<FakeStream> StreamsOf(IWMProfile* pProfile) const;
    // The writer created last (no reference added), null when none was.
    IWMWriter* LastWriter() const { return m_pLastWriter; }
    FakeWriterState WriterState(IWMWriter* pWriter) const;
    const std::vector<FakeOutput>& Outputs() const { return m_outputs; }

    // For the fake objects.
    // Records the call and returns the failure scripted for it, S_OK otherwise.
    HRESULT Enter(const std::string& call);
    void Record(const std::string& call) { m_calls.push_back(call); }
    void Fault(const std::string& text) { m_faults.push_back(text); }
    // Takes ownership of a new object; returns its serial number.
    int Adopt(CFakeObject* pObject);
    const FakeInput* FindInput(const std::wstring& name) const;
    std::vector<FakeOutput>& MutableOutputs() { return m_outputs; }
    void SetLastWriter(IWMWriter* pWriter) { m_pLastWriter = pWriter; }

  private:
    std::vector<std::unique_ptr<CFakeObject>> m_objects;
    std::vector<FakeInput> m_inputs;
    std::vector<FakeFailure> m_failures;
    std::vector<std::string> m_calls;
    std::vector<std::string> m_faults;
    std::vector<FakeOutput> m_outputs;
    IWMWriter* m_pLastWriter = nullptr;
};

CFakeRuntime& Fake();
