#include "database/FbClient.h"

#include <dlfcn.h>

#include <mutex>

namespace fesko::db {
namespace {

std::mutex g_mutex;
std::string g_library_name = "libfbclient.so.2";
void* g_handle = nullptr;
FbClient g_client;

}  // namespace

void SetClientLibraryName(const std::string& name) {
  std::lock_guard lock(g_mutex);
  g_library_name = name;
}

std::string ClientLibraryName() {
  std::lock_guard lock(g_mutex);
  return g_library_name;
}

bool TryLoadClientLibrary() {
  std::lock_guard lock(g_mutex);
  if (g_handle) return true;
  void* handle = ::dlopen(g_library_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  FbClient client;
#define FESKO_FB_BIND(name) \
  client.name = reinterpret_cast<decltype(client.name)>(::dlsym(handle, #name));
  FESKO_FB_ENTRY_POINTS(FESKO_FB_BIND)
  FESKO_FB_BIND(isc_interprete)
#undef FESKO_FB_BIND
  g_client = client;
  g_handle = handle;
  return true;
}

const FbClient& Fb() {
  return g_client;
}

FbClient& detail::Binding() {
  return g_client;
}

void UnloadClientLibrary() {
  std::lock_guard lock(g_mutex);
  if (!g_handle) return;
  // The library stays mapped: its own threads may outlive this call. Only the binding goes.
  g_client = FbClient{};
  g_handle = nullptr;
}

ISC_STATUS* StatusVector() {
  thread_local ISC_STATUS_ARRAY status;
  return status;
}

}  // namespace fesko::db
