#include "platform/registry/RegFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

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
bool ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
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

bool ParseHexBytes(const std::string& text, std::vector<BYTE>& out) {
    out.clear();
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c == ',') {
            if (digits.size() != 2) return false;
            out.push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    if (digits.empty()) return true;  // nothing, or a trailing comma
    if (digits.size() != 2) return false;
    out.push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
    return true;
}

bool ParseData(const std::string& text, DWORD& type, std::vector<BYTE>& data) {
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string value;
        if (!ReadQuoted(text, pos, value) ||
            text.find_first_not_of(" \t", pos) != std::string::npos)
            return false;
        type = REG_SZ;
        data.assign(value.begin(), value.end());
        return true;
    }
    if (text.rfind("dword:", 0) == 0) {
        const std::string digits = text.substr(6);
        if (digits.size() != 8 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c));
            }))
            return false;
        const DWORD value = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
        type = REG_DWORD;
        data = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
        return true;
    }
    if (text.rfind("hex:", 0) == 0) {
        type = REG_BINARY;
        return ParseHexBytes(text.substr(4), data);
    }
    if (text.rfind("hex(", 0) == 0) {
        const size_t close = text.find("):");
        if (close == std::string::npos || close == 4) return false;
        const std::string typeDigits = text.substr(4, close - 4);
        if (!std::all_of(typeDigits.begin(), typeDigits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return false;
        type = static_cast<DWORD>(std::stoul(typeDigits, nullptr, 16));
        return ParseHexBytes(text.substr(close + 2), data);
    }
    return false;
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

void SerializeKey(const RegKey& key, const std::string& path, bool volatilePart, std::string& out) {
    if (key.isVolatile == volatilePart && !path.empty()) {
        out += "\n[" + path + "]\n";
        for (const RegValue& value : key.values) out += FormatValue(value) + "\n";
    }
    for (const auto& [lower, child] : key.children)
        SerializeKey(*child, path + "\\" + child->name, volatilePart, out);
}

}  // namespace

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(path);
    while (std::getline(stream, part, '\\'))
        if (!part.empty()) parts.push_back(part);
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
    const std::string lower = LowerCase(valueName);
    for (RegValue& value : values)
        if (LowerCase(value.name) == lower) return &value;
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
    const std::string lower = LowerCase(valueName);
    auto found = std::find_if(values.begin(), values.end(),
                              [&](const RegValue& v) { return LowerCase(v.name) == lower; });
    if (found == values.end()) return false;
    values.erase(found);
    return true;
}

bool ParseRegText(const std::string& text, const std::string& rootName, RegKey& root,
                  bool markVolatile, std::map<std::string, RegKey>* others) {
    bool intact = true;
    bool sawHeader = false;
    RegKey* current = nullptr;
    std::istringstream stream(text);
    std::string line;
    std::string pending;  // a hex line continued with a trailing backslash
    bool firstLine = true;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (firstLine && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        firstLine = false;
        if (!pending.empty()) {
            const size_t start = line.find_first_not_of(" \t");
            line = pending + (start == std::string::npos ? "" : line.substr(start));
            pending.clear();
        }
        if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
            line.pop_back();
            pending = line;
            continue;
        }
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';') continue;
        line.erase(0, start);
        if (line == kHeader || line == "REGEDIT4") {
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            current = nullptr;
            const size_t close = line.rfind(']');
            if (close == std::string::npos ||
                line.find_first_not_of(" \t", close + 1) != std::string::npos) {
                intact = false;
                continue;
            }
            std::vector<std::string> parts = SplitKeyPath(line.substr(1, close - 1));
            if (parts.empty() || parts[0][0] == '-') {
                intact = false;
                continue;
            }
            RegKey* base = nullptr;
            if (LowerCase(parts[0]) == LowerCase(rootName)) {
                base = &root;
            } else if (others != nullptr) {
                RegKey& other = (*others)[parts[0]];
                other.name = parts[0];
                base = &other;
            } else {
                intact = false;
                continue;
            }
            for (size_t i = 1; i < parts.size(); ++i)
                base = &base->AddChild(parts[i], markVolatile);
            current = base;
            continue;
        }
        std::string name;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, name)) {
            intact = false;
            continue;
        }
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (current == nullptr || pos >= line.size() || line[pos] != '=' ||
            !ParseData(line.substr(pos + 1), type, data)) {
            intact = false;
            continue;
        }
        current->SetValue(name, type, std::move(data));
    }
    return intact && pending.empty() && (sawHeader || text.empty());
}

std::string SerializeRegText(const RegKey& root, const std::string& rootName, bool volatilePart) {
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [lower, child] : root.children)
        SerializeKey(*child, rootName + "\\" + child->name, volatilePart, out);
    return out;
}

}  // namespace registry
