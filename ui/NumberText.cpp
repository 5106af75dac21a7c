// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/NumberText.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <locale.h>

namespace {

// Switches the calling thread to the C library's "C" locale while it lives.
class CClassicLocaleScope {
  public:
    CClassicLocaleScope() : m_previous(uselocale(ClassicLocale())) {}
    ~CClassicLocaleScope() { uselocale(m_previous); }
    CClassicLocaleScope(const CClassicLocaleScope&) = delete;
    CClassicLocaleScope& operator=(const CClassicLocaleScope&) = delete;

  private:
    // Made once, kept for the life of the process.
    static locale_t ClassicLocale() {
        static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        return classic;
    }

    locale_t m_previous;
};

}  // namespace

QString FormatNumber(const char* pszFormat, double dValue) {
    char szText[64];
    {
        CClassicLocaleScope scope;
        std::snprintf(szText, sizeof szText, pszFormat, dValue);
    }
    return QString::fromLatin1(szText);
}

double ReadNumber(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    CClassicLocaleScope scope;
    return std::atof(bytes.constData());
}

bool ReadFiniteNumber(const QString& text, double* pdValue) {
    const QByteArray bytes = text.trimmed().toLatin1();
    if (bytes.isEmpty()) return false;
    char* pEnd = nullptr;
    double dValue = 0.0;
    {
        CClassicLocaleScope scope;
        dValue = std::strtod(bytes.constData(), &pEnd);
    }
    if (pEnd != bytes.constData() + bytes.size() || !std::isfinite(dValue)) return false;
    *pdValue = dValue;
    return true;
}
