// The localized text of a key as a Qt string, for window code.
#pragma once

#include <QString>

#include "Skelvane/settings/LocalizableString.h"

inline QString LocalizedText(const char* key, const char* defaultText) {
    return QString::fromStdString(GetLocalizedString(key, defaultText));
}
