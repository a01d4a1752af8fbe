// The scratch folder on Windows: folders found with FindFirstFileExW and removed by
// name, reparse points (junctions, symbolic links) removed as themselves and never
// entered, processes known by OpenProcess and GetProcessTimes, owners by GetSecurityInfo.
#include <windows.h>
#include <aclapi.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <vector>

#include "preview.h"
#include "scratch_folder.h"

namespace kelvane::cli {

namespace fs = std::filesystem;

namespace {

// Deeper folders are left; the preview makes none.
constexpr int kMaxDepth = 8;
// The longest path Windows takes, with the \\?\ prefix.
constexpr std::size_t kLongPath = 32768;

// A path being walked, grown and cut in place, so that the removal after a fault
// allocates nothing.
struct PathBuffer {
  wchar_t* text;
  std::size_t size;
  std::size_t length = 0;

  bool append(const wchar_t* part) {
    const std::size_t n = std::wcslen(part);
    if (length + n + 1 > size) return false;
    std::wmemcpy(text + length, part, n + 1);
    length += n;
    return true;
  }
  void cut(std::size_t at) { text[length = at] = L'\0'; }
};

bool isDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// A name in ASCII, as the scratch folders' are; "" for any other.
std::string asciiName(const wchar_t* name) {
  std::string out;
  for (; *name; ++name) {
    if (*name > 0x7F) return {};
    out += static_cast<char>(*name);
  }
  return out;
}

// Removes the entry at `path`, whose attributes are `attributes`, and, when it is a
// folder, everything in it. A reparse point is removed as itself: what it points to is
// never entered. Calls only the system: the removal after a fault uses it.
bool removeTree(PathBuffer& path, DWORD attributes, int depth = 0) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.text) : DeleteFileW(path.text);
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.text, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path.text);

  const std::size_t end = path.length;
  // Entries move as others go: the folder is read again until a pass removes nothing.
  for (bool removed = depth < kMaxDepth; removed;) {
    removed = false;
    WIN32_FIND_DATAW entry;
    if (!path.append(L"\\*")) break;
    const HANDLE find = FindFirstFileExW(path.text, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    path.cut(end);
    if (find == INVALID_HANDLE_VALUE) break;
    do {
      if (isDots(entry.cFileName)) continue;
      if (path.append(L"\\") && path.append(entry.cFileName) && removeTree(path, entry.dwFileAttributes, depth + 1)) {
        removed = true;
      }
      path.cut(end);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryW(path.text);
}

bool removeTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  std::vector<wchar_t> text(kLongPath);
  PathBuffer buffer{text.data(), text.size()};
  buffer.cut(0);
  return buffer.append(path.c_str()) && removeTree(buffer, attributes);
}

// `folder` as a whole path that the removal takes beyond MAX_PATH.
std::wstring nativePath(const fs::path& folder) {
  const std::wstring given = folder.wstring();
  std::wstring full(kLongPath, L'\0');
  const DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return given;
  full.resize(n);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.rfind(L"\\\\", 0) == 0 && full.rfind(L"\\\\?\\", 0) != 0 && full.rfind(L"\\\\.\\", 0) != 0) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return full;
}

enum class Process { Running, Gone, Unknown };

std::string creationTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return {};
  return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
}

// Whether process `pid` runs, and then its creation time. One that cannot be opened
// because no process has that id is gone; any other failure (access denied: it runs)
// leaves it unknown.
Process processOf(const std::string& pid, std::string& start) {
  const unsigned long long id = pid.size() <= 10 ? std::stoull(pid) : ~0ull;
  if (id > 0xFFFFFFFFull) return Process::Gone;  // no process has such an id
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER ? Process::Gone : Process::Unknown;
  DWORD code = 0;
  Process state = Process::Unknown;
  if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
    state = Process::Gone;  // ended, its object kept by a handle somewhere
  } else if (!(start = creationTime(process)).empty()) {
    state = Process::Running;
  }
  CloseHandle(process);
  return state;
}

// Who this program is: the user of its token and the owner it gives new objects (for
// an administrator, the Administrators group).
struct Identity {
  std::vector<char> user, owner;

  Identity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    for (auto [kind, into] : {std::pair{TokenUser, &user}, std::pair{TokenOwner, &owner}}) {
      DWORD size = 0;
      GetTokenInformation(token, kind, nullptr, 0, &size);
      into->resize(size);
      if (size == 0 || !GetTokenInformation(token, kind, into->data(), size, &size)) into->clear();
    }
    CloseHandle(token);
  }

  bool is(PSID sid) const {
    const PSID me = user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const PSID mine = owner.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner;
    return (me && EqualSid(sid, me)) || (mine && EqualSid(sid, mine));
  }
};

// Whether `path` is a folder, no reparse point, owned by `identity`. The folder is
// opened as itself, never through a reparse point.
bool isOwnFolder(const std::wstring& path, const Identity& identity) {
  const HANDLE folder =
      CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool own = GetFileInformationByHandle(folder, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                   nullptr, &descriptor) == ERROR_SUCCESS &&
                   owner && identity.is(owner);
  if (descriptor) LocalFree(descriptor);
  CloseHandle(folder);
  return own;
}

// The live folder, for a fault: a filter or handler reaches only what is static.
std::atomic<bool> faultArmed{false};
wchar_t faultText[kLongPath];
PathBuffer faultPath{faultText, kLongPath};
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

void removeAfterFault() {
  if (!faultArmed.exchange(false)) return;
  const DWORD attributes = GetFileAttributesW(faultPath.text);
  if (attributes != INVALID_FILE_ATTRIBUTES) removeTree(faultPath, attributes);
}

// The program ends as it would have: the filter that was there before decides.
LONG WINAPI onFault(EXCEPTION_POINTERS* exception) {
  removeAfterFault();
  return previousFilter ? previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void onAbort(int) { removeAfterFault(); }

}  // namespace

int ScratchFolder::removeStale(const fs::path& parent) {
  const std::wstring folder = nativePath(parent);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileExW((folder + L"\\kelvane-preview-*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchLimitToDirectories, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return 0;
  const Identity identity;
  int removed = 0;
  do {
    const std::string name = asciiName(entry.cFileName);
    const auto owner = ownerOf(name);
    const std::wstring path = folder + L"\\" + entry.cFileName;
    if (!owner || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !isOwnFolder(path, identity)) {
      continue;
    }
    std::string start;
    const Process process = processOf(owner->first, start);
    if (process == Process::Unknown || (process == Process::Running && start == owner->second)) continue;
    removed += removeTree(path) ? 1 : 0;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return removed;
}

ScratchFolder::ScratchFolder(const fs::path& parent) {
  removeStale(parent);
  const std::string stem = stemOf(std::to_string(GetCurrentProcessId()), creationTime(GetCurrentProcess()));
  const std::wstring folder = nativePath(parent);
  // Windows has no mkdtemp: a name is taken by making its folder, which fails when it is.
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100 && native_.empty(); ++attempt) {
    std::string name = stem;
    for (int i = 0; i < 6; ++i) name += kLetters[letter(random)];
    const std::wstring candidate = folder + L"\\" + fs::path(name).wstring();
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      native_ = candidate;
      path = parent / name;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      throw PreviewError("cannot make a scratch folder in " + parent.string() + ": error " +
                         std::to_string(GetLastError()));
    }
  }
  if (native_.empty()) throw PreviewError("cannot make a scratch folder: every name tried is taken");
  faultPath.cut(0);
  if (faultPath.append(native_.c_str())) faultArmed.store(true);
}

ScratchFolder::~ScratchFolder() {
  if (native_ == faultPath.text) faultArmed.store(false);
  removeTree(native_);
}

void ScratchFolder::removeOnFault() {
  // A stack overflow leaves the filter the stack this guarantees.
  ULONG guarantee = 64 * 1024;
  SetThreadStackGuarantee(&guarantee);
  previousFilter = SetUnhandledExceptionFilter(onFault);
  std::signal(SIGABRT, onAbort);
  std::atexit(removeAfterFault);
}

}  // namespace kelvane::cli
