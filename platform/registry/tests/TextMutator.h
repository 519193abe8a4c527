// Seeded mutations of text files for the parsers' fuzz tests, and the line helpers they
// share. One seed gives the same inputs on every machine: the engine's sequence is fixed
// by the standard and no library distribution (whose output is not) is used.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace fuzz {

// `fallback`, or the number in the environment variable `name` (for a longer hunt or
// another seed by hand, e.g. SKELVANE_FUZZ_RUNS=1000000).
inline uint32_t FromEnvironment(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                                            : fallback;
}
inline uint32_t Runs(uint32_t fallback) {
    return FromEnvironment("SKELVANE_FUZZ_RUNS", fallback);
}
inline uint32_t Seed() {
    return FromEnvironment("SKELVANE_FUZZ_SEED", 0x5ce1fa11);
}

// `text` with every byte outside printable ASCII written as \xNN, for failure messages.
inline std::string Shown(const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n\n";
        } else if (c < 0x20 || c >= 0x7f) {
            out += {'\\', 'x', kDigits[c >> 4], kDigits[c & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class TextMutator {
public:
    explicit TextMutator(uint32_t seed) : engine_(seed) {}

    // One to four changes anywhere: flipped bits, inserted pieces that upset parsers
    // (digits, quotes, brackets, backslashes, very long numbers, line ends), a number made
    // very long, a cut end, a duplicated line, a deleted stretch.
    std::string MutateFile(std::string text) { return Mutate(std::move(text), true); }

    // One to four changes to a single line, adding no line end and keeping its first
    // character, so the line stays the kind of line it was.
    std::string MutateLine(std::string line) { return Mutate(std::move(line), false); }

    // 0 .. n-1 (0 when n is 0).
    size_t Below(size_t n) { return n == 0 ? 0 : engine_() % n; }

private:
    std::string Mutate(std::string text, bool wholeFile) {
        const size_t first = wholeFile ? 0 : 1;  // the first position that may change
        for (size_t changes = 1 + Below(4); changes > 0; --changes) {
            if (text.size() <= first) {
                text += Piece(wholeFile);
                continue;
            }
            const size_t at = first + Below(text.size() - first);
            switch (Below(7)) {
                case 0:
                    text[at] = static_cast<char>(text[at] ^ (1 << Below(8)));
                    break;
                case 1:
                    text[at] = static_cast<char>(Below(256));
                    break;
                case 2:
                    text.insert(at, Piece(wholeFile));
                    break;
                case 3:
                    LengthenNumber(text, first);
                    break;
                case 4:
                    text.resize(at);
                    break;
                case 5:
                    text.erase(at, 1 + Below(64));
                    break;
                default:
                    if (wholeFile)
                        DuplicateLine(text, at);
                    else  // a stretch of the line repeated
                        text.insert(at,
                                    text.substr(first + Below(text.size() - first), 1 + Below(32)));
                    break;
            }
        }
        if (!wholeFile)
            for (char& c : text)
                if (c == '\n') c = ' ';
        return text;
    }

    // Something a parser may stumble on.
    std::string Piece(bool wholeFile) {
        static const char* const kPieces[] = {"\"",
                                              "[",
                                              "]",
                                              "\\",
                                              "=",
                                              ":",
                                              ",",
                                              "(",
                                              ")",
                                              ";",
                                              "@",
                                              " ",
                                              "\t",
                                              "\r",
                                              "\r\n",
                                              "\n",
                                              "\\\n",
                                              "\xEF\xBB\xBF",
                                              "\xff",
                                              "\x80",
                                              "dword:",
                                              "hex:",
                                              "hex(",
                                              "):",
                                              "=hex",
                                              "\"\"",
                                              "%@",
                                              "0x",
                                              "-1",
                                              "+1",
                                              "11111111111111111",
                                              "ffffffffffffffffffffffff",
                                              "4294967296",
                                              "18446744073709551616",
                                              "[HKEY_CURRENT_USER\\",
                                              "Windows Registry Editor Version 5.00",
                                              "\"k\" = \"v\";",
                                              "\"x\"=hex(11111111111111111):00"};
        constexpr size_t kCount = sizeof(kPieces) / sizeof(kPieces[0]);
        switch (Below(8)) {
            case 0:
                return std::string(1, '\0');
            case 1:
                return Digits(1 + Below(40));
            case 2:  // near and beyond the language files' line bound
                return std::string(900 + Below(200), "x\\\"["[Below(4)]);
            case 3:
                if (wholeFile) {  // a key path of many levels
                    std::string path;
                    for (size_t level = 500 + Below(40); level > 0; --level) path += "\\k";
                    return path;
                }
                [[fallthrough]];
            default:
                return kPieces[Below(kCount)];
        }
    }

    std::string Digits(size_t count) {
        static const char kHex[] = "0123456789abcdefABCDEF";
        std::string digits;
        while (digits.size() < count) digits += kHex[Below(sizeof(kHex) - 1)];
        return digits;
    }

    // Puts a long run of digits beside a digit of the text, so a number field overflows.
    void LengthenNumber(std::string& text, size_t first) {
        std::vector<size_t> digitsAt;
        for (size_t i = first; i < text.size(); ++i)
            if (text[i] >= '0' && text[i] <= '9') digitsAt.push_back(i);
        if (!digitsAt.empty()) text.insert(digitsAt[Below(digitsAt.size())], Digits(9 + Below(24)));
    }

    void DuplicateLine(std::string& text, size_t at) {
        size_t start = at;
        while (start > 0 && text[start - 1] != '\n') --start;
        const size_t lineEnd = text.find('\n', at);
        std::string line = text.substr(
            start, lineEnd == std::string::npos ? std::string::npos : lineEnd + 1 - start);
        if (line.back() != '\n') line += '\n';
        text.insert(start, line);
    }

    std::mt19937 engine_;
};

}  // namespace fuzz
