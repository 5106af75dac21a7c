// The XML text of profiles, in the form Windows Media profiles take (<profile>, one
// <streamconfig> per stream with its media type). Used by the profile manager.
#pragma once

#include <string>

#include "platform/wmf/Profile.h"

namespace wmf {

// The profile as XML text (UTF-8). Equal profiles give equal text, so a profile read back
// with ProfileFromXml gives the same text again.
std::string ProfileToXml(const CProfile& profile);

// A new profile from XML text (UTF-8) into *ppProfile (one reference). NS_E_INVALIDPROFILE for
// text that is not well-formed XML, whose root is not <profile>, or whose stream descriptions
// are incomplete, malformed or out of range (*ppProfile is then null).
HRESULT ProfileFromXml(const std::string& text, CProfile** ppProfile);

}  // namespace wmf
