#include "platform/win/registry_watch.h"

#include <string>

#include "platform/diagnostics.h"

namespace platform {
namespace {

HKEY Root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

REGSAM ViewFlag(const KeyPlace& place) {
  if (place.hive != Hive::LocalMachine || place.view == View::Native) return 0;
  return place.view == View::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// The key, or its deepest parent that exists; none when not even the hive
// opens. `depth` is the length of the path opened.
UniqueHKey OpenDeepestExisting(const KeyPlace& place, std::size_t& depth) {
  std::wstring path = place.path;
  for (;;) {
    UniqueHKey key;
    const LSTATUS status = ::RegOpenKeyExW(Root(place.hive), path.c_str(), 0, KEY_NOTIFY | ViewFlag(place), key.put());
    depth = path.size();
    if (status == ERROR_SUCCESS) return key;
    if (status != ERROR_FILE_NOT_FOUND || path.empty()) {
      diagnostics::Failure(L"opening " + place.path + L" to watch it", static_cast<std::uint32_t>(status));
      return {};
    }
    const std::size_t separator = path.rfind(L'\\');
    path.resize(separator == std::wstring::npos ? 0 : separator);
  }
}

}  // namespace

// One key with a request of its own: closing a key whose request is still
// pending signals its event, so each key has its event, and is closed only
// once its request has ended.
struct RegistryWatch::Watched {
  Watched(const KeyPlace& key, HWND to, UINT as, WPARAM number) : place(key), window(to), message(as), index(number) {}

  const KeyPlace place;
  const HWND window;
  const UINT message;
  const WPARAM index;
  std::size_t depth = 0;  // of the key watched: the place's own, or a parent's
  UniqueHKey key;         // null while nothing is asked of Windows for the place
  KernelHandle changed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  RegisteredWait wait;  // last: ends first, while what it uses lives

  // Asks Windows for the next change; whether another key is watched now.
  bool Arm() {
    const std::size_t before = depth;
    UniqueHKey opened = OpenDeepestExisting(place, depth);
    const bool parent = depth != place.path.size();
    // A parent (HKCU\Software, say) changes all the time under other
    // programs' keys: of it only a subkey's arrival counts, the next step
    // towards ours.
    const LSTATUS status =
        !opened  ? ERROR_SUCCESS
        : parent ? ::RegNotifyChangeKeyValue(opened.get(), FALSE, REG_NOTIFY_CHANGE_NAME, changed.get(), TRUE)
                 : ::RegNotifyChangeKeyValue(opened.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                             changed.get(), TRUE);
    if (status != ERROR_SUCCESS) {
      diagnostics::Failure(L"watching " + place.path, static_cast<std::uint32_t>(status));
      opened.reset();
    }
    key = std::move(opened);  // the old key's request has ended: its closing signals nothing
    // A subkey made between the opening and the request was not seen:
    // closing the key ends the request with a notice, and the next round
    // watches deeper.
    std::size_t depthNow = 0;
    if (key && parent && OpenDeepestExisting(place, depthNow) && depthNow != depth) key.reset();
    return depth != before;
  }
};

RegistryWatch::RegistryWatch(HWND window, UINT message, const std::vector<KeyPlace>& keys) {
  for (const KeyPlace& place : keys) {
    const WPARAM index = watched_.size();
    auto& watched = *watched_.emplace_back(std::make_unique<Watched>(place, window, message, index));
    // A place Windows gives no event or wait for is left out, as one whose
    // key will not open: the log says so, and the others are watched.
    if (!watched.changed) {
      diagnostics::Failure(L"watching " + place.path + L": CreateEvent", ::GetLastError());
      continue;
    }
    watched.Arm();
    HANDLE wait = nullptr;
    if (!::RegisterWaitForSingleObject(&wait, watched.changed.get(), &RegistryWatch::Signalled, &watched, INFINITE,
                                       WT_EXECUTEDEFAULT)) {
      diagnostics::Failure(L"watching " + place.path + L": RegisterWaitForSingleObject", ::GetLastError());
      continue;
    }
    watched.wait.reset(wait);
  }
}

RegistryWatch::~RegistryWatch() = default;

bool RegistryWatch::Rearm(WPARAM notice) {
  if (notice >= watched_.size()) return false;
  Watched& watched = *watched_[notice];
  const bool ownKey = watched.depth == watched.place.path.size();
  return watched.Arm() || ownKey;
}

void CALLBACK RegistryWatch::Signalled(void* watched, BOOLEAN) {
  const auto* key = static_cast<const Watched*>(watched);
  ::PostMessageW(key->window, key->message, key->index, 0);
}

}  // namespace platform
