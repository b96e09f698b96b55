#include "journal/journal_path.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "journal/journal.h"

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <sys/vfs.h>

#include <cerrno>
#include <cstdint>
#endif

namespace journal {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAppFolder = "transmitter-configurator";
constexpr const char* kFileName = "journal.sqlite3";

// The journal's paths are UTF-8 everywhere; a Windows path in the ANSI code page would lose
// every character outside it.
fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextOf(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string UnderFolder(std::string folder, const std::string& rest) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder + static_cast<char>(fs::path::preferred_separator) + rest;
}

std::string OnNetwork(const fs::path& folder, const std::string& what) {
    return "the journal cannot be kept in " + TextOf(folder) + ", which is on " + what +
           ": SQLite cannot lock a file there reliably; choose a folder on a local disk";
}

#ifdef _WIN32

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

// Backslashes only, and without the long-path prefix, which hides a drive letter or, as
// \\?\UNC\, a share.
std::wstring WindowsText(const fs::path& path) {
    std::wstring text = path.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + text.substr(8);
    if (text.starts_with(L"\\\\?\\")) text.erase(0, 4);
    return text;
}

std::string NetworkReason(const fs::path& folder) {
    std::wstring text = WindowsText(folder);
    if (!text.starts_with(L"\\\\") && (text.size() < 2 || text[1] != L':')) {
        // Relative to the current folder, which may itself be on a share.
        std::error_code failed;
        text = WindowsText(fs::absolute(folder, failed));
    }
    if (text.starts_with(L"\\\\")) return OnNetwork(folder, "a network share");
    if (text.size() >= 2 && text[1] == L':') {
        const std::wstring root = text.substr(0, 2) + L"\\";
        if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE)
            return OnNetwork(folder, "a network drive");
    }
    return {};
}

#elif defined(__linux__)

// The folder's file system, before the folder exists, is the one of its nearest ancestor that
// does: nothing can be mounted on a folder that is not there.
fs::path NearestExisting(fs::path folder) {
    std::error_code failed;
    while (!fs::exists(folder, failed)) {
        fs::path parent = folder.parent_path();
        if (parent.empty()) return ".";
        if (parent == folder) break;
        folder = std::move(parent);
    }
    return folder;
}

std::string NetworkReason(const fs::path& folder) {
    struct statfs info {};
    if (statfs(NearestExisting(folder).c_str(), &info) != 0) {
        return "cannot examine the folder " + TextOf(folder) + ": " +
               std::generic_category().message(errno);
    }
    // f_type is signed and as wide as a long; the magic numbers are 32-bit.
    switch (static_cast<std::uint32_t>(info.f_type)) {
        case 0x6969:
            return OnNetwork(folder, "NFS");
        case 0x517B:
            return OnNetwork(folder, "SMB");
        case 0xFF534D42:
            return OnNetwork(folder, "CIFS");
        case 0xFE534D42:
            return OnNetwork(folder, "SMB2");
        default:
            return {};
    }
}

#else

std::string NetworkReason(const fs::path&) {
    return {};
}

#endif

}  // namespace

std::string JournalFileRefusal(const std::string& path) {
    // Windows reads "COM5.sqlite3" and "com5 .db" as COM5: the name before its first dot,
    // blanks cut off its end.
    const std::size_t start = path.find_last_of("/\\") + 1;
    std::string stem = path.substr(start, path.find('.', start) - start);
    stem.erase(stem.find_last_not_of(' ') + 1);
    for (char& c : stem) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const bool numbered = stem.size() == 4 &&
                          (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
                          stem[3] <= '9';
    if (numbered || stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
        stem == "CONIN$" || stem == "CONOUT$") {
        return path + " is named as a device that Windows keeps (" + stem + "), not a file";
    }
    if (path.starts_with("\\\\.\\") || path.starts_with("//./")) {
        return path + " is a device, not a file";
    }
    std::error_code failed;
    const fs::file_status status = fs::status(PathOf(path), failed);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        return path + " is not a regular file";
    }
    return {};
}

std::string PrepareJournalFolder(const std::string& path) {
    fs::path folder = PathOf(path).parent_path();
    if (folder.empty()) folder = ".";
    // Checked first, so that no folder is left behind on a share that is then refused.
    if (std::string reason = NetworkReason(folder); !reason.empty()) return reason;
    std::error_code failed;
    if (fs::is_directory(folder, failed)) return {};
    // The folders above as any program makes them; the journal's own for its user alone.
    if (const fs::path parent = folder.parent_path(); !parent.empty()) {
        fs::create_directories(parent, failed);
    }
    if (!failed && fs::create_directory(folder, failed)) {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, failed);
    }
    if (failed) return "cannot make the folder " + TextOf(folder) + ": " + failed.message();
    return {};
}

std::string DefaultJournalPath() {
    try {
        const std::string rest = UnderFolder(kAppFolder, kFileName);
#ifdef _WIN32
        const DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
        if (size == 0) return {};
        std::wstring value(size, L'\0');
        value.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), size));
        return value.empty() ? std::string() : UnderFolder(Utf8(value), rest);
#else
        // A relative XDG_DATA_HOME is invalid and to be ignored, as other programs do.
        const char* data_home = std::getenv("XDG_DATA_HOME");
        if (data_home != nullptr && data_home[0] == '/') return UnderFolder(data_home, rest);
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') return {};
        return UnderFolder(UnderFolder(UnderFolder(home, ".local"), "share"), rest);
#endif
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace journal
