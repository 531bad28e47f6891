// Listing, copying and hashing files, and the backup's manifest.
#include "FileCopies.h"
#include "../registry/KeyNames.h"
#include "../../framework/Handles.h"
#include <bcrypt.h>
#include <winioctl.h>
#include <nlohmann/json.hpp>

namespace {
const DWORD kCopyChunk = 256 * 1024;

// The reparse data of a junction or symbolic link (the part of the SDK's REPARSE_DATA_BUFFER a
// link needs): where its names lie in the path buffer that follows.
struct LinkReparseData
{
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
};
const DWORD kTagMountPoint = 0xA0000003;
const DWORD kTagSymbolicLink = 0xA000000C;

const char* const kTypeNames[] = { "file", "folder", "link", "scheduled" };
}

void MakeFoldersTo(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(LongPath(path.substr(0, at)).c_str(), nullptr);
}

std::wstring LinkTarget(const std::wstring& path)
{
    CHandle link(::CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    std::vector<BYTE> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!link || !::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &got, nullptr) ||
        got < sizeof(LinkReparseData))
        return std::wstring();
    LinkReparseData head;
    memcpy(&head, buffer.data(), sizeof head);
    size_t names = sizeof head;
    if (head.tag == kTagSymbolicLink)
        names += sizeof(ULONG);  // its flags
    else if (head.tag != kTagMountPoint)
        return std::wstring();
    const bool print = head.printLength > 0;
    const size_t offset = names + (print ? head.printOffset : head.substituteOffset);
    const size_t length = print ? head.printLength : head.substituteLength;
    if (offset + length > got)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + offset), length / sizeof(wchar_t));
}

CSha256::CSha256()
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    m_failed = !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    if (!m_failed)
        m_failed = !BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    m_algorithm = algorithm;
    m_hash = hash;
}

CSha256::~CSha256()
{
    if (m_hash)
        ::BCryptDestroyHash(m_hash);
    if (m_algorithm)
        ::BCryptCloseAlgorithmProvider(m_algorithm, 0);
}

bool CSha256::Add(const BYTE* data, size_t size)
{
    if (!m_failed && size > 0)
        m_failed = !BCRYPT_SUCCESS(::BCryptHashData(m_hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0));
    return !m_failed;
}

std::string CSha256::Hex()
{
    UCHAR digest[32];
    if (m_failed || !BCRYPT_SUCCESS(::BCryptFinishHash(m_hash, digest, sizeof digest, 0)))
        return std::string();
    m_failed = true;  // a finished hash takes no more data
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (UCHAR byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

bool CopyAndHashInto(HANDLE source, HANDLE destination, unsigned long long& size, std::string& sha256)
{
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN))
        return false;
    CSha256 hash;
    // One buffer per thread for every file: a thousand small files would otherwise cost a
    // thousand large allocations.
    static thread_local std::vector<BYTE> chunk(kCopyChunk);
    size = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source, chunk.data(), kCopyChunk, &got, nullptr))
            return false;
        if (got == 0)
            break;
        DWORD written = 0;
        if (!hash.Add(chunk.data(), got) ||
            (destination && (!::WriteFile(destination, chunk.data(), got, &written, nullptr) || written != got)))
            return false;
        size += got;
    }
    sha256 = hash.Hex();
    return !sha256.empty() && (!destination || ::FlushFileBuffers(destination));
}

bool CopyAndHashFrom(HANDLE source, const std::wstring& to, unsigned long long& size, std::string& sha256)
{
    CHandle copy;
    if (!to.empty()) {
        copy.Reset(::CreateFileW(LongPath(to).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy)
            return false;
    }
    return CopyAndHashInto(source, copy, size, sha256);
}

bool CopyAndHash(const std::wstring& from, const std::wstring& to, unsigned long long& size, std::string& sha256)
{
    CHandle source(::CreateFileW(LongPath(from).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return source && CopyAndHashFrom(source, to, size, sha256);
}

std::string ManifestLine(const ManifestEntry& entry)
{
    nlohmann::ordered_json line = { { "type", kTypeNames[entry.type] }, { "path", Utf8(entry.path) } };
    if (entry.type == ManifestEntry::File) {
        line["copy"] = Utf8(entry.copy);
        line["size"] = entry.size;
        line["sha256"] = entry.sha256;
    }
    if (entry.type == ManifestEntry::Link)
        line["target"] = Utf8(entry.target);
    if (entry.type == ManifestEntry::Scheduled && !entry.staged.empty())
        line["staged"] = Utf8(entry.staged);
    if (entry.type == ManifestEntry::Folder && !entry.access.empty())
        line["access"] = Utf8(entry.access);
    if (entry.type != ManifestEntry::Scheduled)
        line["attributes"] = entry.attributes;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ReadManifest(const std::wstring& path, std::vector<ManifestEntry>& entries)
{
    CHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file && ReadManifest(static_cast<HANDLE>(file), entries);
}

bool ReadManifest(HANDLE file, std::vector<ManifestEntry>& entries)
{
    LARGE_INTEGER size = {}, start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::GetFileSizeEx(file, &size) || size.QuadPart > 256 * 1024 * 1024)
        return false;
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && (!::ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) || got != text.size()))
        return false;
    try {
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            const std::string line = text.substr(at, end - at);
            at = end + 1;
            if (line.find_first_not_of(" \r\t") == std::string::npos)
                continue;
            const nlohmann::json item = nlohmann::json::parse(line);
            ManifestEntry entry;
            const std::string type = item.at("type").get<std::string>();
            size_t known = 0;
            while (known < 4 && type != kTypeNames[known])
                ++known;
            if (known == 4)
                return false;
            entry.type = static_cast<ManifestEntry::Type>(known);
            entry.path = FromUtf8(item.at("path").get<std::string>());
            entry.copy = FromUtf8(item.value("copy", std::string()));
            entry.size = item.value("size", 0ull);
            entry.sha256 = item.value("sha256", std::string());
            entry.attributes = item.value("attributes", 0u);
            entry.target = FromUtf8(item.value("target", std::string()));
            entry.staged = FromUtf8(item.value("staged", std::string()));
            entry.access = FromUtf8(item.value("access", std::string()));
            if (entry.path.empty() || (entry.type == ManifestEntry::File && (entry.copy.empty() || entry.sha256.size() != 64)))
                return false;
            entries.push_back(entry);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}
