// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/PrintableName.h"

#include <cstdio>

std::string PrintableName(const std::string& strName) {
    std::string strText;
    strText.reserve(strName.size());
    for (const char c : strName) {
        const unsigned char uc = static_cast<unsigned char>(c);
        if (uc >= 0x20 && uc != 0x7F) {
            strText += c;
            continue;
        }
        switch (c) {
            case '\a':
                strText += "\\a";
                break;
            case '\b':
                strText += "\\b";
                break;
            case '\t':
                strText += "\\t";
                break;
            case '\n':
                strText += "\\n";
                break;
            case '\v':
                strText += "\\v";
                break;
            case '\f':
                strText += "\\f";
                break;
            case '\r':
                strText += "\\r";
                break;
            default: {
                char szOctal[8];
                std::snprintf(szOctal, sizeof szOctal, "\\%03o", uc);
                strText += szOctal;
            }
        }
    }
    return strText;
}

std::string QuotedName(const std::string& strName) { return "\"" + PrintableName(strName) + "\""; }
