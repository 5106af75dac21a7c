// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the input bytes as profile XML for IWMProfileManager::LoadProfileByData.
//
// The bytes are read as UTF-8 (as lastprofile.xml is stored) into the runtime's wide text, which
// ends at the first zero like any LPCWSTR. Text that loads gives a profile whose streams are
// walked, which is saved (length query, a buffer one character short, then the text), loaded
// from that text and saved again to the same text, and which is saved and walked once more
// after its first stream is removed. Text that does not load must give NS_E_INVALIDPROFILE and
// no profile. A broken contract aborts, as a sanitizer report does.
#include <cstdint>
#include <string>

#include <pugixml.hpp>

#include "fuzz/FuzzSupport.h"
#include "platform/wmf/wmsdk.h"

using namespace varnel_fuzz;

namespace {

IWMProfileManager* Manager() {
    static IWMProfileManager* const pManager = [] {
        IWMProfileManager* p = nullptr;
        const HRESULT hr = WMCreateProfileManager(&p);
        Check(SUCCEEDED(hr) && p != nullptr, "WMCreateProfileManager", hr);
        return p;
    }();
    return pManager;
}

Ref<IWMProfile> Load(const wchar_t* pwszText) {
    IWMProfile* pProfile = nullptr;
    const HRESULT hr = Manager()->LoadProfileByData(pwszText, &pProfile);
    if (FAILED(hr)) {
        Check(hr == NS_E_INVALIDPROFILE && pProfile == nullptr, "a refused profile", hr);
        return nullptr;
    }
    Check(pProfile != nullptr, "a loaded profile");
    return Ref<IWMProfile>(pProfile);
}

std::wstring Save(IWMProfile* pProfile) {
    DWORD length = 0;
    HRESULT hr = Manager()->SaveProfile(pProfile, nullptr, &length);
    Check(SUCCEEDED(hr) && length >= 1, "length of the saved text", hr);
    std::wstring text(length, L'\x7F');
    DWORD shortLength = length - 1;
    hr = Manager()->SaveProfile(pProfile, text.data(), &shortLength);
    Check(hr == ASF_E_BUFFERTOOSMALL && shortLength == length, "a buffer one short", hr);
    hr = Manager()->SaveProfile(pProfile, text.data(), &length);
    Check(SUCCEEDED(hr) && length == text.size() && text.back() == L'\0', "the saved text", hr);
    text.pop_back();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring input =
        pugi::as_wide(std::string(reinterpret_cast<const char*>(data), size));
    Ref<IWMProfile> profile = Load(input.c_str());
    if (!profile) return 0;
    WalkProfile(profile.get());

    const std::wstring saved = Save(profile.get());
    Ref<IWMProfile> reloaded = Load(saved.c_str());
    Check(reloaded != nullptr, "saved text loads again");
    Check(Save(reloaded.get()) == saved, "saved text of a reloaded profile is the same");

    DWORD count = 0;
    profile->GetStreamCount(&count);
    if (count == 0) return 0;
    IWMStreamConfig* pFirst = nullptr;
    Check(SUCCEEDED(profile->GetStream(0, &pFirst)), "first stream");
    Ref<IWMStreamConfig> first(pFirst);
    const HRESULT hr = profile->RemoveStream(first.get());
    Check(SUCCEEDED(hr), "RemoveStream of a stream of the profile", hr);
    WalkProfile(profile.get());
    Check(Load(Save(profile.get()).c_str()) != nullptr, "profile less a stream loads again");
    return 0;
}
