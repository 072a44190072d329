#include "platform/win/registry_watch.h"

#include <stdexcept>
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

RegistryWatch::RegistryWatch(HWND window, UINT message, std::vector<KeyPlace> keys)
    : target_{window, message}, keys_(std::move(keys)), changed_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (!changed_) throw std::runtime_error("CreateEventW failed");
  Rearm();
  HANDLE wait = nullptr;
  if (!::RegisterWaitForSingleObject(&wait, changed_.get(), &RegistryWatch::Signalled, &target_, INFINITE,
                                     WT_EXECUTEDEFAULT)) {
    throw std::runtime_error("RegisterWaitForSingleObject failed");
  }
  wait_.reset(wait);
}

void RegistryWatch::Rearm() {
  // Closing a key ends its request; a key created meanwhile is watched
  // itself from now on.
  watched_.clear();
  for (const KeyPlace& place : keys_) {
    std::size_t depth = 0;
    UniqueHKey key = OpenDeepestExisting(place, depth);
    if (!key) continue;
    const bool parent = depth != place.path.size();
    // A parent (HKCU\Software, say) changes all the time under other
    // programs' keys: of it only a subkey's arrival counts, the next step
    // towards ours.
    const LSTATUS status =
        parent ? ::RegNotifyChangeKeyValue(key.get(), FALSE, REG_NOTIFY_CHANGE_NAME, changed_.get(), TRUE)
               : ::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                           changed_.get(), TRUE);
    if (status != ERROR_SUCCESS) {
      diagnostics::Failure(L"watching " + place.path, static_cast<std::uint32_t>(status));
      continue;
    }
    watched_.push_back(std::move(key));
    // A subkey made between the opening and the request was not seen:
    // another round finds it.
    std::size_t depthNow = 0;
    if (parent && OpenDeepestExisting(place, depthNow) && depthNow != depth) ::SetEvent(changed_.get());
  }
}

void CALLBACK RegistryWatch::Signalled(void* target, BOOLEAN) {
  const auto* to = static_cast<const Target*>(target);
  ::PostMessageW(to->window, to->message, 0, 0);
}

}  // namespace platform
