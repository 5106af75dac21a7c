// SPDX-License-Identifier: GPL-3.0-or-later
#include <new>
#include <string>

#include <pugixml.hpp>

#include "platform/wmf/profile/Profile.h"
#include "platform/wmf/shared/ComObject.h"
#include "platform/wmf/wmsdk.h"

namespace wmf {
namespace {

// Saves profiles of this layer as XML text and loads such text into new profiles. Holds no
// state besides its reference count. SaveProfile: E_POINTER without a length, E_INVALIDARG for a
// profile not made by this layer, ASF_E_BUFFERTOOSMALL (with the length needed) for a short
// buffer. LoadProfileByData: a new profile with one reference for the caller, or
// NS_E_INVALIDPROFILE.
class CProfileManager final : public CComObject<IWMProfileManager> {
  public:
    HRESULT SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) override {
        if (pdwLength == nullptr) return E_POINTER;
        auto* profile = dynamic_cast<CProfile*>(pIWMProfile);
        if (profile == nullptr) return E_INVALIDARG;
        const std::wstring text = pugi::as_wide(ProfileToXml(*profile));
        const DWORD needed = static_cast<DWORD>(text.size() + 1);
        if (pwszProfile == nullptr) {
            *pdwLength = needed;
            return S_OK;
        }
        if (*pdwLength < needed) {
            *pdwLength = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        text.copy(pwszProfile, text.size());
        pwszProfile[text.size()] = L'\0';
        *pdwLength = needed;
        return S_OK;
    }

    HRESULT LoadProfileByData(LPCWSTR pwszProfile, IWMProfile** ppProfile) override {
        if (ppProfile == nullptr) return E_POINTER;
        *ppProfile = nullptr;
        if (pwszProfile == nullptr) return E_POINTER;
        CProfile* profile = nullptr;
        const HRESULT hr = ProfileFromXml(pugi::as_utf8(pwszProfile), &profile);
        *ppProfile = profile;
        return hr;
    }

  private:
    ~CProfileManager() override = default;
};

}  // namespace
}  // namespace wmf

HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager) {
    if (ppProfileManager == nullptr) return E_POINTER;
    *ppProfileManager = new (std::nothrow) wmf::CProfileManager();
    return *ppProfileManager == nullptr ? E_OUTOFMEMORY : S_OK;
}
