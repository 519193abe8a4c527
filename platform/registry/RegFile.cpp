#include "platform/registry/RegFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace registry {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

std::string EscapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// Reads a quoted string starting at `pos` (which holds the opening quote); leaves `pos`
// after the closing quote.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '\\') {
            if (++pos >= line.size()) return false;
            out += line[pos];
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

// A whole run of hex digits as a number of type T; false for anything else in it (signs,
// spaces, "0x"), for no digits and for a number T cannot hold.
template <class T>
bool ParseHexNumber(std::string_view digits, T& value) {
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
    return !digits.empty() && error == std::errc() && stop == end;
}

// Bytes of two hex digits each, separated by commas; spaces may stand anywhere.
bool ParseHexBytes(std::string_view text, std::vector<BYTE>& out) {
    out.clear();
    std::string digits;
    const auto endByte = [&] {
        BYTE byte = 0;
        if (digits.size() != 2 || !ParseHexNumber(digits, byte)) return false;
        out.push_back(byte);
        digits.clear();
        return true;
    };
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            if (digits.size() == 2) return false;
            digits += c;
        } else if (c == ',') {
            if (!endByte()) return false;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return digits.empty() || endByte();  // nothing, or a trailing comma, ends cleanly
}

bool ParseData(std::string_view text, DWORD& type, std::vector<BYTE>& data) {
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string value;
        if (!ReadQuoted(text, pos, value) ||
            text.find_first_not_of(" \t", pos) != std::string_view::npos)
            return false;
        type = REG_SZ;
        data.assign(value.begin(), value.end());
        return true;
    }
    if (text.starts_with("dword:")) {
        const std::string_view digits = text.substr(6);
        DWORD value = 0;
        if (digits.size() != 8 || !ParseHexNumber(digits, value)) return false;
        type = REG_DWORD;
        data = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
        return true;
    }
    if (text.starts_with("hex:")) {
        type = REG_BINARY;
        return ParseHexBytes(text.substr(4), data);
    }
    if (text.starts_with("hex(")) {
        // A type wider than 32 bits makes the line damaged.
        const size_t close = text.find("):");
        return close != std::string_view::npos && ParseHexNumber(text.substr(4, close - 4), type) &&
               ParseHexBytes(text.substr(close + 2), data);
    }
    return false;
}

// Reads the value name at the start of a value line ("@" or a quoted name); leaves `pos`
// after it.
bool ReadValueName(std::string_view line, size_t& pos, std::string& name) {
    name.clear();
    if (!line.empty() && line[0] == '@') {
        pos = 1;
        return true;
    }
    pos = 0;
    return ReadQuoted(line, pos, name);
}

// Whether a value line goes on in the next line: hex data ending in a backslash. Only the
// data counts, so a name or a text holding "=hex" and ending in a backslash stays one line.
bool ContinuesOnNextLine(std::string_view line) {
    if (line.empty() || line.back() != '\\') return false;
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    line.remove_prefix(start);
    std::string name;
    size_t pos = 0;
    return ReadValueName(line, pos, name) && line.substr(pos).starts_with("=hex");
}

std::string HexBytes(const std::vector<BYTE>& data) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : ",%02x", data[i]);
        out += byte;
    }
    return out;
}

std::string FormatValue(const RegValue& value) {
    std::string line = value.name.empty() ? "@" : "\"" + EscapeText(value.name) + "\"";
    line += '=';
    const bool plainText = value.type == REG_SZ &&
                           std::none_of(value.data.begin(), value.data.end(),
                                        [](BYTE b) { return b == '\0' || b == '\n' || b == '\r'; });
    if (plainText) {
        line += "\"" + EscapeText(std::string(value.data.begin(), value.data.end())) + "\"";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char digits[16];
        const DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                             (static_cast<DWORD>(value.data[3]) << 24);
        std::snprintf(digits, sizeof(digits), "dword:%08x", number);
        line += digits;
    } else if (value.type == REG_BINARY) {
        line += "hex:" + HexBytes(value.data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
        line += prefix + HexBytes(value.data);
    }
    return line;
}

void SerializeSection(const RegKey& key, const std::string& path, std::string& out) {
    out += "\n[" + path + "]\n";
    for (const RegValue& value : key.values) out += FormatValue(value) + "\n";
}

void SerializeKey(const RegKey& key, const std::string& path, bool volatilePart, std::string& out) {
    if (key.isVolatile == volatilePart) SerializeSection(key, path, out);
    for (const auto& [lower, child] : key.children)
        SerializeKey(*child, path + "\\" + child->name, volatilePart, out);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
    std::vector<std::string> parts;
    while (!path.empty()) {
        const size_t end = std::min(path.find('\\'), path.size());
        if (end > 0) parts.emplace_back(path.substr(0, end));
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return parts;
}

RegKey* RegKey::Child(const std::string& childName) const {
    auto found = children.find(LowerCase(childName));
    return found == children.end() ? nullptr : found->second.get();
}

RegKey& RegKey::AddChild(const std::string& childName, bool childVolatile) {
    auto& slot = children[LowerCase(childName)];
    if (!slot) {
        slot = std::make_unique<RegKey>();
        slot->name = childName;
        slot->isVolatile = childVolatile;
    }
    return *slot;
}

RegValue* RegKey::Value(const std::string& valueName) {
    for (RegValue& value : values)
        if (EqualIgnoringCase(value.name, valueName)) return &value;
    return nullptr;
}

void RegKey::SetValue(const std::string& valueName, DWORD type, std::vector<BYTE> data) {
    RegValue* value = Value(valueName);
    if (value == nullptr) {
        values.push_back(RegValue{valueName, type, {}});
        value = &values.back();
    }
    value->type = type;
    value->data = std::move(data);
}

bool RegKey::DeleteValue(const std::string& valueName) {
    auto found = std::find_if(values.begin(), values.end(), [&](const RegValue& v) {
        return EqualIgnoringCase(v.name, valueName);
    });
    if (found == values.end()) return false;
    values.erase(found);
    return true;
}

bool ParseRegText(const std::string& text, const std::string& rootName, RegKey& root,
                  bool markVolatile, std::map<std::string, RegKey>* others) {
    bool intact = true;
    bool sawHeader = false;
    RegKey* current = nullptr;
    std::string pending;  // a hex value line continued with a trailing backslash
    std::string joined;   // the last continued line, whole
    for (size_t next = 0; next < text.size();) {
        const size_t end = std::min(text.find('\n', next), text.size());
        std::string_view line(text.data() + next, end - next);
        if (next == 0 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        next = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        // Continuations are appended in place, so a long run of them stays linear.
        if (!pending.empty()) {
            const size_t start = line.find_first_not_of(" \t");
            if (start != std::string_view::npos) pending.append(line.substr(start));
            if (pending.back() == '\\') {
                pending.pop_back();
                continue;
            }
            joined = std::move(pending);
            pending.clear();
            line = joined;
        } else if (ContinuesOnNextLine(line)) {
            pending = line.substr(0, line.size() - 1);
            continue;
        }
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == ';') continue;
        line.remove_prefix(start);
        if (line == kHeader || line == "REGEDIT4") {
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            current = nullptr;
            const size_t close = line.rfind(']');
            if (close == std::string_view::npos ||
                line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
                intact = false;
                continue;
            }
            std::vector<std::string> parts = SplitKeyPath(line.substr(1, close - 1));
            if (parts.empty() || parts[0][0] == '-' || parts.size() - 1 > kMaxKeyDepth) {
                intact = false;
                continue;
            }
            RegKey* base = nullptr;
            if (EqualIgnoringCase(parts[0], rootName)) {
                base = &root;
            } else if (others != nullptr) {
                RegKey& other = (*others)[parts[0]];
                other.name = parts[0];
                base = &other;
            } else {
                intact = false;
                continue;
            }
            // Only the section's own key takes the mark: every volatile key has a section of
            // its own, before its children's, and a key the path merely passes through (the
            // "Software" above a volatile key) is a lasting one that the other file may lack,
            // for instance after the settings file was deleted.
            for (size_t i = 1; i < parts.size(); ++i)
                base = &base->AddChild(parts[i], markVolatile && i + 1 == parts.size());
            current = base;
            continue;
        }
        std::string name;
        size_t pos = 0;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (current == nullptr || !ReadValueName(line, pos, name) || pos >= line.size() ||
            line[pos] != '=' || !ParseData(line.substr(pos + 1), type, data)) {
            intact = false;
            continue;
        }
        current->SetValue(name, type, std::move(data));
    }
    return intact && pending.empty() && (sawHeader || text.empty());
}

std::string SerializeRegText(const RegKey& root, const std::string& rootName, bool volatilePart) {
    std::string out = std::string(kHeader) + "\n";
    // The root's own section only when it holds values, as an export shows it.
    if (!root.values.empty() && root.isVolatile == volatilePart)
        SerializeSection(root, rootName, out);
    for (const auto& [lower, child] : root.children)
        SerializeKey(*child, rootName + "\\" + child->name, volatilePart, out);
    return out;
}

}  // namespace registry
