#include "Skelvane/capture/TextFormat.h"

std::string FormatWithText(const std::string& format, const std::string& text) {
    return FormatWithTextAndNumbers(format, text, {});
}

std::string FormatWithTextAndNumbers(const std::string& format, const std::string& text,
                                     std::initializer_list<int64_t> numbers) {
    std::string result;
    result.reserve(format.size() + text.size());
    bool textPlaced = false;
    const int64_t* nextNumber = numbers.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char kind = format[i + 1];
            if (kind == '%') {
                result += '%';
                ++i;
                continue;
            }
            if (kind == 's' && !textPlaced) {
                result += text;
                textPlaced = true;
                ++i;
                continue;
            }
            if (kind == 'd' && nextNumber != numbers.end()) {
                result += std::to_string(*nextNumber++);
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}
