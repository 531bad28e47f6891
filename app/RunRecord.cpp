// The record of an unattended run.
#include "RunRecord.h"
#include "../engine/kinds/KindsTable.h"
#include "../engine/registry/KeyNames.h"
#include "../report/ReportLog.h"
#include <objbase.h>
#include "version.h"
#include "../engine/search/Said.h"
#include <nlohmann/json.hpp>
#include <cstdio>

namespace {
typedef nlohmann::ordered_json Json;

const size_t kSummaryLimit = 2047;  // characters, the line's end not counted

std::string IsoTime(const SYSTEMTIME& time)
{
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    return text;
}

std::wstring ComputerName()
{
    wchar_t name[256];
    DWORD size = 256;
    if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return std::wstring(name, size);
    size = 256;
    return ::GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

std::wstring UserName()
{
    wchar_t name[256];
    DWORD size = 256;
    return ::GetUserNameW(name, &size) && size > 0 ? std::wstring(name, size - 1) : std::wstring();
}

// Printable ASCII; every other character as <U+XXXX>, as the report writes what its code page lacks.
std::string Ascii(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[16];
            snprintf(escape, sizeof escape, "<U+%04X>", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

// A long path keeps its start and its end.
std::string Shortened(const std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    const size_t head = (limit - 3) / 2;
    return text.substr(0, head) + "..." + text.substr(text.size() - (limit - 3 - head));
}

BOOL WriteWhole(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}
}

RecordedFinding RecordedFinding::Of(const CmdListEntry& finding, Outcome status, const std::wstring& why)
{
    RecordedFinding recorded;
    const ILeftoverKind* kind = KindOf(finding);
    recorded.kind = kind ? kind->Identity().recordName : "unknown";
    if (kind)
        kind->RecordPath(finding, recorded.path, recorded.entry);
    else
        recorded.path = finding.path;
    recorded.keyword = finding.keyword;
    recorded.reason = InEnglish(finding.reason);
    recorded.status = status;
    recorded.why = InEnglish(why);
    recorded.measured = kind && kind->Identity().measured;
    recorded.size = finding.size;
    recorded.fileCount = finding.fileCount;
    return recorded;
}

CRunRecord::CRunRecord()
{
    ::GetSystemTime(&m_started);
}

BOOL CRunRecord::Open(const std::wstring& where)
{
    m_where = where;
    if (where == L"-") {
        HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        return output != nullptr && output != INVALID_HANDLE_VALUE;
    }
    // The record goes where a report could: a file on a disk, never a device, a pipe, a stream,
    // a folder or a link to somewhere else. Checked now, before anything is removed.
    const DWORD attributes = ::GetFileAttributesW(where.c_str());
    if (!NamesAFileOnADisk(where) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))))
        return FALSE;
    // A temporary name nobody can guess, made new: a file or link planted beside the record is
    // never opened, let alone truncated.
    GUID unique = {};
    wchar_t text[40] = L"";
    if (FAILED(::CoCreateGuid(&unique)) || ::StringFromGUID2(unique, text, 40) == 0)
        return FALSE;
    m_temporary = where + L"." + std::wstring(text + 1, wcslen(text) - 2) + L".tmp";
    m_file.Reset(::CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Only a file on a disk can be renamed into place.
    if (m_file && ::GetFileType(m_file) != FILE_TYPE_DISK) {
        m_file.Close();
        ::DeleteFileW(m_temporary.c_str());
    }
    return static_cast<bool>(m_file);
}

void CRunRecord::AddCheck(const std::string& kind, const char* state, const std::wstring& why)
{
    m_checks.push_back({ kind, state, why });
}

void CRunRecord::AddBackup(const std::wstring& path)
{
    if (!path.empty())
        m_backups.push_back(path);
}

int CRunRecord::Count(Outcome status) const
{
    int count = 0;
    for (const RecordedFinding& finding : m_findings)
        count += finding.status == status;
    return count;
}

std::string CRunRecord::Text(int exitCode) const
{
    SYSTEMTIME finished;
    ::GetSystemTime(&finished);
    Json record;
    record["program"] = "Velmora Klarner";
    record["version"] = KLARNER_VERSION_TEXT;
    record["computer"] = Utf8(ComputerName());
    record["user"] = Utf8(UserName());
    record["started"] = IsoTime(m_started);
    record["finished"] = IsoTime(finished);
    record["mode"] = m_mode;
    if (!m_offline.empty())
        record["offline"] = Utf8(m_offline);
    record["root"] = m_root.empty() ? Json(nullptr) : Json(m_root);
    record["keywords"] = Json::array();
    for (const std::wstring& keyword : m_keywords)
        record["keywords"].push_back(Utf8(keyword));
    record["report"] = m_report.empty() ? Json(nullptr) : Json(Utf8(m_report));
    if (m_mode == "restore")
        record["restoredFrom"] = Utf8(m_restoredFrom);
    record["backups"] = Json::array();
    for (const std::wstring& backup : m_backups)
        record["backups"].push_back(Utf8(backup));
    record["findings"] = Json::array();
    for (const RecordedFinding& finding : m_findings) {
        Json item;
        item["kind"] = finding.kind;
        item["path"] = Utf8(finding.path);
        if (!finding.entry.empty())
            item["entry"] = Utf8(finding.entry);
        item["keyword"] = Utf8(finding.keyword);
        item["status"] = OutcomeName(finding.status);
        // A finding with evidence says which value named what; any other says why it stays. One
        // with evidence that stays says why as well.
        const std::string why = !finding.why.empty() ? Utf8(finding.why)
                                : DefaultWhy(finding.status) ? std::string(DefaultWhy(finding.status))
                                                             : std::string();
        const bool stays = finding.status == Outcome::Failed || finding.status == Outcome::Refused;
        if (!finding.reason.empty())
            item["reason"] = Utf8(finding.reason);
        else if (!why.empty())
            item["reason"] = why;
        if (!finding.reason.empty() && stays && !why.empty())
            item["why"] = why;
        if (finding.measured) {
            item["size"] = finding.size;
            item["fileCount"] = finding.fileCount;
        }
        record["findings"].push_back(item);
    }
    record["unreadable"] = Json::array();
    for (const Unreadable& key : m_unreadable)
        record["unreadable"].push_back(Json{ { "path", Utf8(key.path) }, { "belowMatch", key.inMatch } });
    // What each kind of leftover did: one that could not look is never taken for a clean machine.
    record["checks"] = Json::array();
    for (const Check& check : m_checks) {
        Json item = Json{ { "kind", check.kind }, { "state", check.state } };
        if (!check.why.empty())
            item["why"] = Utf8(check.why);
        record["checks"].push_back(item);
    }
    record["counts"] = Json{ { "found", static_cast<int>(m_findings.size()) },
                             { "removed", Count(Outcome::Removed) },
                             { "removedAtRestart", Count(Outcome::RemovedAtRestart) },
                             { "failed", Count(Outcome::Failed) },
                             { "refused", Count(Outcome::Refused) },
                             { "unreadable", static_cast<int>(m_unreadable.size()) } };
    if (m_mode == "restore")
        record["counts"]["restored"] = Count(Outcome::Restored);
    record["restartRequired"] = m_restartRequired;
    record["restartReasons"] = Json::array();
    for (const std::wstring& reason : m_restartReasons)
        record["restartReasons"].push_back(Utf8(reason));
    record["pendingBefore"] = m_pendingBefore < 0 ? Json(nullptr)
                                                  : Json{ { "count", m_pendingBefore }, { "inProductPlaces", m_pendingInProduct } };
    record["exitCode"] = exitCode;
    return record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

BOOL CRunRecord::Finish(int exitCode)
{
    if (!Wanted())
        return TRUE;
    const std::string text = Text(exitCode);
    if (m_where == L"-")
        return WriteWhole(::GetStdHandle(STD_OUTPUT_HANDLE), text);
    // A collector never reads half a record: it appears under its name whole, or not at all.
    const BOOL written = m_file && WriteWhole(m_file, text) && ::FlushFileBuffers(m_file);
    m_file.Close();
    if (written && ::MoveFileExW(m_temporary.c_str(), m_where.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TRUE;
    ::DeleteFileW(m_temporary.c_str());
    return FALSE;
}

std::string CRunRecord::SummaryLine(int exitCode) const
{
    char counts[256];
    if (m_mode == "restore")
        snprintf(counts, sizeof counts, "Velmora Klarner: restore: %d restored, %d failed, %d refused; exit code %d",
                 Count(Outcome::Restored), Count(Outcome::Failed), Count(Outcome::Refused), exitCode);
    else
        snprintf(counts, sizeof counts,
                 "Velmora Klarner: %d found, %d removed, %d removed at restart, %d failed, %d refused, %d unreadable; "
                 "exit code %d",
                 static_cast<int>(m_findings.size()), Count(Outcome::Removed), Count(Outcome::RemovedAtRestart),
                 Count(Outcome::Failed), Count(Outcome::Refused), static_cast<int>(m_unreadable.size()), exitCode);
    std::string line = counts;
    // Room for both paths, however long they are.
    const size_t room = (kSummaryLimit - line.size() - 40) / 2;
    line += "; report " + (m_report.empty() ? std::string("none") : Shortened(Ascii(m_report), room));
    if (!m_backups.empty())
        line += "; backup " + Shortened(Ascii(m_backups.back()), room);
    // A kind that could not look is named: the line never reads as a clean machine then.
    std::string unavailable;
    for (const Check& check : m_checks)
        if (check.state == "unavailable")
            unavailable += (unavailable.empty() ? "" : ", ") + check.kind;
    if (!unavailable.empty())
        line += Shortened("; could not look: " + unavailable, kSummaryLimit - line.size());
    return line;
}

std::vector<std::wstring> CRunRecord::Files() const
{
    std::vector<std::wstring> files;
    for (const std::wstring& file : { m_where, m_temporary })
        if (!file.empty() && file != L"-")
            files.push_back(file);
    return files;
}
