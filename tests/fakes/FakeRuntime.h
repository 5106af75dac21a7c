// SPDX-License-Identifier: GPL-3.0-or-later
// The scriptable fake of the runtime layer's sync reader and writer, in memory, over the real
// profiles, stream configurations and profile manager of platform/wmf/profile (link varnel_fake
// in place of varnel_wmf).
//
//   Fake().Reset();                                    // in SetUp: a clean runtime
//   Fake().AddInput(L"in.wmv", {TestAudio(1), TestVideo(2, 4, 2)},
//                   {{2, 0, 333667, frameBytes}, {2, 333667, 333667, frameBytes}});
//   Fake().FailAt("IWMSyncReader::Close", E_FAIL);     // the next Close fails with E_FAIL
//   CMediaReader reader;                               // code under test, unchanged
//   ...
//   EXPECT_EQ(Fake().LiveObjects(), 0);                // every reference given back
//   EXPECT_TRUE(Fake().faults.empty());                // no release too many, no use after it
//
// Objects: the readers, samples and writers of the fake count their references.
// One whose count drops to 0 is not freed but retired until Reset(), so that a release too many
// or a call on a released object is listed in faults instead of corrupting memory.
// LiveObjects() counts the fake's objects that still hold references (profiles are the real
// ones and free themselves).
//
// Failures: FailAt(call, status) makes the next call of "Interface::Method" (or of
// "WMCreateSyncReader", "WMCreateWriter") return status without doing anything else; out
// pointers are set to null. Two FailAt of one call answer its next two calls.
//
// Inputs: AddInput registers a file by its wide name and its streams; IWMSyncReader::Open finds
// it there (NS_E_FILE_NOT_FOUND otherwise), and QueryInterface for IWMProfile gives a real
// profile made from the descriptions. GetNextSample delivers the frames of the asked stream in
// the order given, each as a new sample, then NS_E_NO_MORE_SAMPLES. Selecting a stream the file
// lacks gives NS_E_INVALID_STREAM. The reader has no
// IWMHeaderInfo (its expected frame count is 0).
//
// Writers follow the runtime's states: SetProfile and SetOutputFilename while writing give
// NS_E_INVALID_REQUEST, a profile without streams NS_E_INVALIDPROFILE, an empty name
// E_INVALIDARG, BeginWriting without profile and name or while writing NS_E_INVALID_REQUEST,
// WriteSample and EndWriting while not writing NS_E_INVALID_REQUEST. Each BeginWriting starts a
// new entry of outputs, which counts the samples written and records whether EndWriting
// finished it. The writer holds no sample after WriteSample returns.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/wmf/profile/Profile.h"

// One sample of an input file.
struct FakeFrame {
    WORD stream = 1;
    QWORD time = 0;
    QWORD duration = 0;
    std::vector<BYTE> bytes;
};

// One file begun by a writer.
struct FakeOutput {
    std::wstring fileName;
    int samples = 0;
    bool ended = false;
};

struct FakeInput {
    std::vector<wmf::StreamDescription> streams;
    std::vector<FakeFrame> frames;
};

class CFakeObject;

// The one fake runtime of the process; see the file comment. Not thread-safe: the code under
// test calls the runtime from one thread.
class CFakeRuntime {
  public:
    // Frees every fake object (pointers into the fake die here), forgets inputs, failures,
    // outputs and faults.
    void Reset();

    void AddInput(const std::wstring& name, std::vector<wmf::StreamDescription> streams,
                  std::vector<FakeFrame> frames = {}) {
        inputs[name] = FakeInput{std::move(streams), std::move(frames)};
    }
    // The next call of `call` that no earlier FailAt of it answers returns `status`.
    void FailAt(const std::string& call, HRESULT status) { m_failures.emplace_back(call, status); }

    // Fake objects that still hold references.
    int LiveObjects() const;
    // Every sample the fake readers handed out, in order, with its reference count.
    std::vector<INSSBuffer*> Samples() const;
    static ULONG RefCount(INSSBuffer* pSample);

    // For the fake objects: the failure scripted for the call, S_OK otherwise.
    HRESULT Enter(const std::string& call);

    // Read by the tests, kept by the fake objects.
    std::vector<std::string> faults;  // releases too many and calls on released objects, in order
    std::deque<FakeOutput> outputs;   // one per BeginWriting; stays put while writers add to it
    std::map<std::wstring, FakeInput> inputs;
    std::vector<std::unique_ptr<CFakeObject>> objects;  // every fake object, retired ones too

  private:
    std::vector<std::pair<std::string, HRESULT>> m_failures;  // in the order they answer
};

CFakeRuntime& Fake();
