// The objects behind the opaque handles that platform/ hands out.
//
// A handle is the address of its object. The registry owns the objects, so a
// handle can be checked before use (a closed or made-up handle is not found
// instead of being dereferenced) and closing frees its object exactly once.
#ifndef TILLWIRE_PLATFORM_HANDLE_REGISTRY_H
#define TILLWIRE_PLATFORM_HANDLE_REGISTRY_H

#include <map>
#include <memory>
#include <mutex>

template <typename Object>
class HandleRegistry {
 public:
  // Takes the object and returns its handle.
  Object* Add(Object object) {
    auto owned = std::make_unique<Object>(std::move(object));
    Object* handle = owned.get();
    std::lock_guard<std::mutex> lock(mutex);
    objects.emplace(handle, std::move(owned));
    return handle;
  }

  // The open object behind handle, or null. It stays valid until removed;
  // using a handle while another thread closes it is the caller's race, as on
  // Windows.
  Object* Find(const void* handle) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = objects.find(handle);
    return found == objects.end() ? nullptr : found->second.get();
  }

  // Frees the object behind handle; false when it is not open.
  bool Remove(const void* handle) {
    std::lock_guard<std::mutex> lock(mutex);
    return objects.erase(handle) == 1;
  }

 private:
  mutable std::mutex mutex;
  std::map<const void*, std::unique_ptr<Object>> objects;
};

#endif
