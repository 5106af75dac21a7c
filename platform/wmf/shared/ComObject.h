// SPDX-License-Identifier: GPL-3.0-or-later
// Counted references and interface lookup shared by the objects of this layer.
#pragma once

#include <atomic>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The id of each interface an object of this layer implements (naming any other interface does
// not compile).
template <typename Interface>
constexpr IID kInterfaceId = Interface::kNoInterfaceIdListed;
template <>
inline constexpr IID kInterfaceId<INSSBuffer> = IID_INSSBuffer;
template <>
inline constexpr IID kInterfaceId<IWMMediaProps> = IID_IWMMediaProps;
template <>
inline constexpr IID kInterfaceId<IWMStreamConfig> = IID_IWMStreamConfig;
template <>
inline constexpr IID kInterfaceId<IWMProfile> = IID_IWMProfile;
template <>
inline constexpr IID kInterfaceId<IWMProfileManager> = IID_IWMProfileManager;
template <>
inline constexpr IID kInterfaceId<IWMSyncReader> = IID_IWMSyncReader;
template <>
inline constexpr IID kInterfaceId<IWMHeaderInfo> = IID_IWMHeaderInfo;
template <>
inline constexpr IID kInterfaceId<IWMWriter> = IID_IWMWriter;
template <>
inline constexpr IID kInterfaceId<IVarnelWriterHold> = IID_IVarnelWriterHold;
template <>
inline constexpr IID kInterfaceId<IVarnelWriterSettings> = IID_IVarnelWriterSettings;

// Implements IUnknown for an object of one or more interfaces. The creator holds the first
// reference; the last Release deletes the object. References are counted atomically, so they
// may be taken and released on any thread. QueryInterface gives this object, with a new
// reference, for the id of each of its interfaces and for IID_IUnknown (as its first interface),
// asks QueryOther for any other id, and clears *ppv on failure.
template <typename First, typename... Others>
class CComObject : public First, public Others... {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<First*>(this);
        } else if (!(Find<First>(riid, ppv) || ... || Find<Others>(riid, ppv))) {
            return QueryOther(riid, ppv);
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        const ULONG left = --m_nRefs;
        if (left == 0) delete this;
        return left;
    }

    // The current reference count, for tests.
    ULONG RefCount() const { return m_nRefs.load(); }

  protected:
    CComObject() = default;
    ~CComObject() override = default;
    // An id that is none of this object's interfaces: E_NOINTERFACE unless a derived class
    // hands out another object (with its own reference) for it.
    virtual HRESULT QueryOther(REFIID /*riid*/, void** /*ppv*/) { return E_NOINTERFACE; }

  private:
    template <typename Interface>
    bool Find(REFIID riid, void** ppv) {
        if (riid != kInterfaceId<Interface>) return false;
        *ppv = static_cast<Interface*>(this);
        return true;
    }

    std::atomic<ULONG> m_nRefs{1};
};

}  // namespace wmf
