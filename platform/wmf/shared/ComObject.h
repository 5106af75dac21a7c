// Counted references and interface lookup shared by the objects of this layer.
#pragma once

#include <atomic>

#include "platform/wmf/wmsdk.h"

namespace wmf {

// The id of each interface an object of this layer implements.
template <typename Interface>
constexpr IID InterfaceIdOf();
template <>
constexpr IID InterfaceIdOf<INSSBuffer>() {
    return IID_INSSBuffer;
}
template <>
constexpr IID InterfaceIdOf<IWMProfile>() {
    return IID_IWMProfile;
}
template <>
constexpr IID InterfaceIdOf<IWMProfileManager>() {
    return IID_IWMProfileManager;
}
template <>
constexpr IID InterfaceIdOf<IWMSyncReader>() {
    return IID_IWMSyncReader;
}
template <>
constexpr IID InterfaceIdOf<IWMWriter>() {
    return IID_IWMWriter;
}

// Implements IUnknown for an object of one interface. The creator holds the first reference;
// the last Release deletes the object. QueryInterface gives this object for IID_IUnknown and
// the interface's own id (with a new reference), asks QueryOther for any other id, and clears
// *ppv on failure.
template <typename Interface>
class CComObject : public Interface {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == InterfaceIdOf<Interface>()) {
            AddRef();
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        return QueryOther(riid, ppv);
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
    // Another interface than this object's own: E_NOINTERFACE unless a derived class has one.
    virtual HRESULT QueryOther(REFIID /*riid*/, void** /*ppv*/) { return E_NOINTERFACE; }

  private:
    std::atomic<ULONG> m_nRefs{1};
};

}  // namespace wmf
