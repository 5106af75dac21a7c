#include "platform/wmf/WideText.h"

namespace wmf {

bool NarrowFromWide(LPCWSTR pwszText, std::string* pNarrow) {
    if (pwszText == nullptr || pNarrow == nullptr) return false;
    std::string narrow;
    for (const WCHAR* p = pwszText; *p != L'\0'; ++p) {
        if (*p < 0 || *p > 0xFF) return false;
        narrow.push_back(static_cast<char>(static_cast<unsigned char>(*p)));
    }
    *pNarrow = std::move(narrow);
    return true;
}

}  // namespace wmf
