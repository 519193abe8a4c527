#include "Skelvane/capture/TextFormat.h"

std::string FormatWithText(const std::string& format, const std::string& text) {
    std::string result;
    result.reserve(format.size() + text.size());
    bool textPlaced = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                result += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == 's' && !textPlaced) {
                result += text;
                textPlaced = true;
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}
