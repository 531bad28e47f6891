// Reading a backup's parts into the findings they belong to.
#include "RestoreBlock.h"
#include "../registry/KeyNames.h"
#include "../system/ProviderOrder.h"
#include <algorithm>
#include <cwchar>

RestoredItem RestoredItemOf(const char* kind, const std::wstring& path, Outcome outcome, const std::wstring& why)
{
    RestoredItem item;
    item.kind = kind;
    item.path = path;
    item.outcome = outcome;
    item.why = why;
    return item;
}

namespace {
bool IsProviderOrderList(const std::wstring& listPath)
{
    const std::wstring name = listPath.substr(listPath.rfind(L'\\') + 1);
    return std::any_of(std::begin(kProviderOrderValues), std::end(kProviderOrderValues),
                       [&](const wchar_t* order) { return _wcsicmp(order, name.c_str()) == 0; });
}

// The list's value as the section just before holds it, taken out of the section: only the
// entry goes back, never the whole list over what is there now.
void TakeListValue(RestoreBlock& block, RestoreEntryNote& note, const std::vector<RestoreEntryNote>& earlier)
{
    const std::wstring key = note.listPath.substr(0, note.listPath.rfind(L'\\'));
    const std::wstring name = note.listPath.substr(note.listPath.rfind(L'\\') + 1);
    for (const RestoreEntryNote& other : earlier)
        if (_wcsicmp(other.listPath.c_str(), note.listPath.c_str()) == 0)
            note.before = other.before;
    if (block.sections.empty() || _wcsicmp(block.sections.back().path.c_str(), key.c_str()) != 0)
        return;
    std::vector<RegValue>& values = block.sections.back().values;
    for (auto value = values.begin(); value != values.end(); ++value)
        if (_wcsicmp(value->name.c_str(), name.c_str()) == 0) {
            note.before = *value;
            values.erase(value);
            block.sections.back().listOnly = values.empty();
            return;
        }
}
}

BackupContents ContentsOf(const std::vector<RegFileItem>& items)
{
    BackupContents contents;
    std::vector<RestoreEntryNote> allNotes;  // every list's state as first backed up
    RestoreBlock* block = nullptr;
    auto begin = [&](const std::string& kind, const std::wstring& finding) {
        contents.blocks.push_back(RestoreBlock());
        block = &contents.blocks.back();
        block->kind = kind;
        block->finding = finding;
    };
    for (const RegFileItem& item : items) {
        if (item.section) {
            if (!block)
                begin("key", std::wstring());
            block->sections.push_back({ item.text, item.values });
            continue;
        }
        std::wstring kind, path, target;
        RestoreEntryNote note;
        if (IsInstallationNote(item.text, path)) {
            contents.identity = path;
        } else if (IsFilesNote(item.text)) {
            contents.hasFiles = true;
        } else if (SplitKindNote(item.text, kind, path)) {
            begin(std::string(kind.begin(), kind.end()), path);
        } else if (SplitRemovedEntryNote(item.text, note.entry, note.index, note.listPath)) {
            if (!block)
                begin("key", std::wstring());
            TakeListValue(*block, note, allNotes);
            allNotes.push_back(note);
            block->notes.push_back(note);
        } else if (SplitLinkComment(item.text, path, target)) {
            if (!block)
                begin("key", std::wstring());
            // Only a link that the removal of its finding recorded, in the tree it removed: a
            // comment anywhere else could make any key a link to anywhere.
            RestoreLink link = { path, target, false };
            const std::wstring parent = link.path.substr(0, link.path.rfind(L'\\'));
            link.recorded = !block->finding.empty()
                                ? PathAtOrBelow(link.path, block->finding)
                                : std::any_of(block->sections.begin(), block->sections.end(), [&](const RestoreSection& s) {
                                      return _wcsicmp(s.path.c_str(), parent.c_str()) == 0;
                                  });
            block->links.push_back(link);
        }
    }
    // An older backup's entries, by the list they name.
    std::vector<RestoreBlock> split;
    for (RestoreBlock& each : contents.blocks) {
        if (!each.finding.empty() || each.notes.empty())
            continue;
        for (const RestoreEntryNote& entry : each.notes) {
            RestoreBlock part;
            part.kind = IsProviderOrderList(entry.listPath) ? "providerOrderEntry" : "filterEntry";
            part.notes.push_back(entry);
            split.push_back(part);
        }
        each.notes.clear();
    }
    contents.blocks.insert(contents.blocks.end(), split.begin(), split.end());
    return contents;
}
