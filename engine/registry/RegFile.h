// The registry editor's export format ("Windows Registry Editor Version 5.00", UTF-16LE with a
// byte-order mark, CR LF) as this program writes a backup in it and reads one back: sections,
// value lines and the comments that say what each part of a backup is.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

extern const wchar_t kRegFileHeader[];

struct RegValue
{
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One part of a file: a section (a key's full path and its values) or a comment (its text after "; ").
struct RegFileItem
{
    bool section;
    std::wstring text;
    std::vector<RegValue> values;
};

// Reads a file of the format; false (with why) at its first line that is none of what this
// program writes.
bool ParseRegFile(const std::wstring& text, std::vector<RegFileItem>& items, std::wstring& why);
// One value line ("name"=data, @=data); false when it is none.
bool ParseRegValue(const std::wstring& line, RegValue& value);
// A link comment's link and target; false when the comment is none.
bool SplitLinkComment(const std::wstring& comment, std::wstring& path, std::wstring& target);

// A key's section header, "[full path]"; false (and nothing
// appended) when the path holds a character the format cannot carry in a key name: a line
// break would end the header early, and the import would put the key's values elsewhere.
bool AppendRegSection(std::wstring& out, const std::wstring& fullPath);
// One value line (or lines: long byte lists are wrapped as the registry editor wraps them).
// false when the name cannot be written in the format (it holds CR, LF or NUL).
bool AppendRegValue(std::wstring& out, const wchar_t* name, size_t nameLength, DWORD type, const BYTE* data,
                    DWORD size);
// A registry link cannot be exported: a comment names it and its target. false (and nothing
// appended) when either holds a character a line cannot carry: a line break in a target would
// start a section of its own, which an import would write wherever it names.
bool AppendRegLinkComment(std::wstring& out, const std::wstring& fullPath, const std::wstring& target);
// The note before a finding's sections, and its parts back (false when a comment is none).
bool AppendKindNote(std::wstring& out, const char* kind, const std::wstring& path);
bool SplitKindNote(const std::wstring& comment, std::wstring& kind, std::wstring& path);
// The note that names the backup's installation, and the one that says it has files (comments).
bool IsInstallationNote(const std::wstring& comment, std::wstring& identity);
bool AppendInstallationNote(std::wstring& out, const std::wstring& identity);
bool AppendFilesNote(std::wstring& out);
bool IsFilesNote(const std::wstring& comment);
// A comment line of the backup ("; text"); false when the text cannot be written on one line.
bool AppendRegComment(std::wstring& out, const std::wstring& text);
// What a list entry's removal adds beside the whole list as it was (which an import by hand puts
// back whole): "; Velmora Klarner: removed entry <entry> at <index> from <list's full path>", so
// that a restore puts back only that entry, in its old place. false when it cannot be written.
bool AppendRemovedEntryNote(std::wstring& out, const std::wstring& entry, size_t index, const std::wstring& listPath);
// The parts of such a line's text (after "; "); false when it is none.
bool SplitRemovedEntryNote(const std::wstring& text, std::wstring& entry, size_t& index, std::wstring& listPath);
