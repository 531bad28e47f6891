// The registry editor's export format as this program writes and reads it: sections, value lines
// and the comments a backup carries, written and parsed in one place.
#include "RegFile.h"
#include "LoadedHives.h"
#include "KeyNames.h"
#include <algorithm>
#include <cwchar>
#include <cwctype>

const wchar_t kRegFileHeader[] = L"Windows Registry Editor Version 5.00";

namespace {
const wchar_t kInstallationNote[] = L"Velmora Klarner: installation ";
const wchar_t kKindNote[] = L"kind: ";
const wchar_t kFilesNote[] = L"Velmora Klarner: files in the files folder, listed in its manifest.jsonl";
// The registry editor breaks a byte list once its line reaches this many characters.
const size_t kHexLineBreak = 77;

void AppendEscaped(std::wstring& out, const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\\' || text[i] == L'"')
            out += L'\\';
        out += text[i];
    }
}

bool Writable(const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'\0' || text[i] == L'\r' || text[i] == L'\n')
            return false;
    return true;
}

// A string that reads back as the very same bytes: whole UTF-16 units, one terminating NUL
// and no other, nothing the quoted form cannot carry. Anything else goes as hex(1).
bool QuotableString(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return false;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    size_t units = size / sizeof(wchar_t);
    return text[units - 1] == L'\0' && Writable(text, units - 1);
}

void AppendHex(std::wstring& out, size_t lineLength, const BYTE* data, DWORD size)
{
    wchar_t digits[4];
    for (DWORD i = 0; i < size; ++i) {
        swprintf(digits, 4, L"%02x", data[i]);
        out += digits;
        if (i + 1 == size)
            break;
        out += L',';
        lineLength += 3;
        if (lineLength >= kHexLineBreak) {
            out += L"\\\r\n  ";
            lineLength = 2;
        }
    }
}
}

bool AppendRegSection(std::wstring& out, const std::wstring& shownPath)
{
    // Another installation's keys by their loaded names: a restore finds them there.
    const std::wstring fullPath = LoadedFullPath(shownPath);
    if (!Writable(fullPath.c_str(), fullPath.size()))
        return false;
    out += L'[';
    out += fullPath;
    out += L"]\r\n";
    return true;
}

bool AppendRegValue(std::wstring& out, const wchar_t* name, size_t nameLength, DWORD type, const BYTE* data,
                    DWORD size)
{
    if (!Writable(name, nameLength))
        return false;
    const size_t lineStart = out.size();
    if (nameLength == 0) {
        out += L'@';
    } else {
        out += L'"';
        AppendEscaped(out, name, nameLength);
        out += L'"';
    }
    out += L'=';
    if (type == REG_SZ && QuotableString(data, size)) {
        out += L'"';
        AppendEscaped(out, reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t) - 1);
        out += L"\"\r\n";
        return true;
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        wchar_t text[16];
        DWORD value;
        memcpy(&value, data, sizeof value);
        swprintf(text, 16, L"dword:%08lx", static_cast<unsigned long>(value));
        out += text;
        out += L"\r\n";
        return true;
    }
    wchar_t prefix[24];
    if (type == REG_BINARY)
        swprintf(prefix, 24, L"hex:");
    else
        swprintf(prefix, 24, L"hex(%lx):", static_cast<unsigned long>(type));
    out += prefix;
    AppendHex(out, out.size() - lineStart, data, size);
    out += L"\r\n";
    return true;
}

bool AppendRegComment(std::wstring& out, const std::wstring& text)
{
    if (!Writable(text.c_str(), text.size()))
        return false;
    out += L"; ";
    out += text;
    out += L"\r\n";
    return true;
}

namespace {
const wchar_t kRemovedEntry[] = L"Velmora Klarner: removed entry ";

const wchar_t kAt[] = L" at ";
const wchar_t kFrom[] = L" from HKEY_";
}

bool AppendKindNote(std::wstring& out, const char* kind, const std::wstring& path)
{
    // Another installation's keys by their loaded names, as their sections name them.
    const std::wstring named = path.compare(0, 5, L"HKEY_") == 0 ? LoadedFullPath(path) : path;
    return AppendRegComment(out, kKindNote + WidenAnsi(kind) + L" " + named);
}

bool SplitKindNote(const std::wstring& comment, std::wstring& kind, std::wstring& path)
{
    const size_t prefix = wcslen(kKindNote);
    if (comment.compare(0, prefix, kKindNote) != 0)
        return false;
    const size_t space = comment.find(L' ', prefix);
    if (space == std::wstring::npos || space == prefix)
        return false;
    kind = comment.substr(prefix, space - prefix);
    path = comment.substr(space + 1);
    return !path.empty();
}

bool AppendInstallationNote(std::wstring& out, const std::wstring& identity)
{
    return AppendRegComment(out, kInstallationNote + identity);
}

bool AppendFilesNote(std::wstring& out)
{
    return AppendRegComment(out, kFilesNote);
}

bool IsInstallationNote(const std::wstring& comment, std::wstring& identity)
{
    if (comment.compare(0, wcslen(kInstallationNote), kInstallationNote) != 0)
        return false;
    identity = comment.substr(wcslen(kInstallationNote));
    return true;
}

bool IsFilesNote(const std::wstring& comment)
{
    return comment == kFilesNote;
}

bool AppendRemovedEntryNote(std::wstring& out, const std::wstring& entry, size_t index, const std::wstring& listPath)
{
    return AppendRegComment(out, kRemovedEntry + entry + kAt + std::to_wstring(index) + L" from " + LoadedFullPath(listPath));
}

bool SplitRemovedEntryNote(const std::wstring& text, std::wstring& entry, size_t& index, std::wstring& listPath)
{
    const size_t prefix = wcslen(kRemovedEntry);
    const size_t from = text.find(kFrom);
    if (text.compare(0, prefix, kRemovedEntry) != 0 || from == std::wstring::npos)
        return false;
    const size_t at = text.rfind(kAt, from);
    if (at == std::wstring::npos || at < prefix)
        return false;
    const std::wstring digits = text.substr(at + 4, from - at - 4);
    if (digits.empty() || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    entry = text.substr(prefix, at - prefix);
    index = static_cast<size_t>(_wtoi(digits.c_str()));
    listPath = text.substr(from + 6);
    return !entry.empty();
}

bool AppendRegLinkComment(std::wstring& out, const std::wstring& fullPath, const std::wstring& target)
{
    std::wstring shown = target;
    while (!shown.empty() && shown.back() == L'\0')
        shown.pop_back();
    if (!AppendRegComment(out, L"registry link " + LoadedFullPath(fullPath) + L" -> " + shown +
                                   L" (a link is not exported; it was removed as the link, its target stays)"))
        return false;
    out += L"\r\n";
    return true;
}


namespace {
const wchar_t kLinkComment[] = L"registry link ";
const wchar_t kLinkArrow[] = L" -> ";
const wchar_t kLinkTail[] = L" (a link is not exported";

// A quoted text of the format from `at` (on its opening quote); `at` ends behind the closing one.
bool ParseQuoted(const std::wstring& line, size_t& at, std::wstring& text)
{
    if (at >= line.size() || line[at] != L'"')
        return false;
    for (++at; at < line.size(); ++at) {
        if (line[at] == L'"') {
            ++at;
            return true;
        }
        if (line[at] == L'\\' && at + 1 < line.size())
            ++at;
        text += line[at];
    }
    return false;
}

bool ParseHexBytes(const std::wstring& text, std::vector<BYTE>& bytes)
{
    std::wstring digits;
    for (wchar_t c : text) {
        if (iswxdigit(c)) {
            digits += c;
        } else if (c == L',') {
            if (digits.size() != 2)
                return false;
            bytes.push_back(static_cast<BYTE>(wcstoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        } else if (c != L'\\' && c != L' ' && c != L'\t') {
            return false;
        }
    }
    if (!digits.empty()) {
        if (digits.size() != 2)
            return false;
        bytes.push_back(static_cast<BYTE>(wcstoul(digits.c_str(), nullptr, 16)));
    }
    return true;
}

}

bool ParseRegValue(const std::wstring& line, RegValue& value)
{
    size_t at = 0;
    value = RegValue();
    if (line.compare(0, 2, L"@=") == 0)
        at = 1;
    else if (!ParseQuoted(line, at, value.name))
        return false;
    if (at >= line.size() || line[at] != L'=')
        return false;
    const std::wstring data = line.substr(at + 1);
    if (!data.empty() && data[0] == L'"') {
        size_t quoted = 0;
        std::wstring text;
        if (!ParseQuoted(data, quoted, text) || quoted != data.size())
            return false;
        value.type = REG_SZ;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
        return true;
    }
    if (data.compare(0, 6, L"dword:") == 0) {
        if (data.size() != 14 || data.find_first_not_of(L"0123456789abcdefABCDEF", 6) != std::wstring::npos)
            return false;
        const DWORD number = wcstoul(data.c_str() + 6, nullptr, 16);
        value.type = REG_DWORD;
        value.data.assign(reinterpret_cast<const BYTE*>(&number), reinterpret_cast<const BYTE*>(&number) + sizeof number);
        return true;
    }
    size_t bytesAt = 0;
    if (data.compare(0, 4, L"hex:") == 0) {
        value.type = REG_BINARY;
        bytesAt = 4;
    } else if (data.compare(0, 4, L"hex(") == 0) {
        const size_t close = data.find(L"):");
        // The type in hex digits, nothing else: "hex(z)" is no type of this format.
        if (close == std::wstring::npos || close == 4 || close > 12 ||
            data.substr(4, close - 4).find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
            return false;
        value.type = wcstoul(data.substr(4, close - 4).c_str(), nullptr, 16);
        bytesAt = close + 2;
    } else {
        return false;
    }
    return ParseHexBytes(data.substr(bytesAt), value.data);
}


bool SplitLinkComment(const std::wstring& comment, std::wstring& path, std::wstring& target)
{
    const size_t prefix = wcslen(kLinkComment);
    if (comment.compare(0, prefix, kLinkComment) != 0)
        return false;
    const size_t arrow = comment.find(kLinkArrow), tail = comment.rfind(kLinkTail);
    if (arrow == std::wstring::npos || tail == std::wstring::npos || tail <= arrow)
        return false;
    path = comment.substr(prefix, arrow - prefix);
    target = comment.substr(arrow + wcslen(kLinkArrow), tail - arrow - wcslen(kLinkArrow));
    return true;
}

bool ParseRegFile(const std::wstring& text, std::vector<RegFileItem>& items, std::wstring& why)
{
    std::vector<std::wstring> lines;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(at, end - at);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    if (lines.empty() || lines[0] != kRegFileHeader) {
        why = L"not a backup of this program: its first line is no registry export's";
        return false;
    }
    for (size_t index = 1; index < lines.size(); ++index) {
        std::wstring line = lines[index];
        if (line.empty())
            continue;
        if (line[0] == L'[') {
            if (line.back() != L']' || line.size() < 3 || line[1] == L'-') {
                why = L"a line of the backup is no section this program writes: " + line;
                return false;
            }
            items.push_back({ true, line.substr(1, line.size() - 2), {} });
            continue;
        }
        if (line.compare(0, 2, L"; ") == 0) {
            items.push_back({ false, line.substr(2), {} });
            continue;
        }
        // A byte list goes on over lines that end with a backslash.
        while (line.back() == L'\\' && line.find(L"=hex") != std::wstring::npos && index + 1 < lines.size())
            line += lines[++index];
        // A value belongs to the last section, whatever comments came between.
        RegValue value;
        auto section = std::find_if(items.rbegin(), items.rend(), [](const RegFileItem& item) { return item.section; });
        if (section == items.rend() || !ParseRegValue(line, value)) {
            why = L"a line of the backup is no value this program writes: " + line;
            return false;
        }
        section->values.push_back(value);
    }
    return true;
}
