#include "dsp/OVPlugIns.h"

#include <algorithm>
#include <thread>

#include "dsp/FpState.h"
#include "util/Helpers.h"

namespace {

constexpr const char* PlugInPattern = "dsp*.dll";
constexpr int BitsPerSample = 16;
constexpr int Channels = 2;
constexpr int32_t FrameBytes = 4;

// What the guarded start of a plug-in needs and finds.
struct TStart {
  TDspEntry Entry;
  void* Window;
  void* Instance;
  TDspHeader* Header = nullptr;
  TDspModule* Module = nullptr;
  bool Initialised = false;
};

void StartPlugin(void* context) {
  auto& s = *static_cast<TStart*>(context);
  s.Header = s.Entry(s.Window);
  if (!s.Header || !s.Header->getModule) return;
  TDspModule* module = s.Header->getModule(0);
  if (!module || !module->Init || !module->ModifySamples) return;
  module->hDllInstance = s.Instance;
  module->hwndParent = s.Window;
  s.Module = module;
  s.Initialised = module->Init(module) == 0;
}

void QuitPlugin(void* context) {
  auto* module = static_cast<TDspModule*>(context);
  if (module->Quit) module->Quit(module);
}

struct TModify {
  TDspModule* Module;
  int16_t* Samples;
  int Frames;
  int Rate;
};

void ModifyBlock(void* context) {
  auto& m = *static_cast<TModify*>(context);
  m.Module->ModifySamples(m.Module, m.Samples, m.Frames, BitsPerSample, Channels, m.Rate);
}

// A call into a plug-in with the floating-point state put back after it.
bool GuardedCall(TPlugInGuard& guard, void (*call)(void*), void* context) {
  const TFpState fp = SaveFpState();
  const bool completed = guard.Call(call, context);
  RestoreFpState(fp, !completed);
  return completed;
}

}  // namespace

TPlugInHost::TPlugInHost(TPlugInLibraries& libraries, TPlugInGuard& guard)
    : Libraries(libraries), Guard(guard) {}

TPlugInHost::~TPlugInHost() {
  DonePlugins();
}

void TPlugInHost::InitPlugins() {
  DonePlugins();
}

void TPlugInHost::DonePlugins() {
  while (!Loaded.empty()) UnloadPlugin(0);
  Found.clear();
}

void TPlugInHost::ScanPlugins(const std::string& directory) {
  Found.clear();
  if (directory.empty() || !Libraries.DirectoryExists(directory)) return;
  for (auto& file : Libraries.FindFiles(directory, PlugInPattern)) {
    if (file.Directory || file.Name.empty() || file.Name[0] == '.') continue;
    Found.push_back(std::move(file.Name));
  }
  std::stable_sort(Found.begin(), Found.end(), [this](const std::string& a, const std::string& b) {
    return Libraries.CompareNames(a, b) < 0;
  });
}

bool TPlugInHost::LoadPlugin(const std::string& directory, const std::string& fileName) {
  if (fileName.empty() || !Libraries.DirectoryExists(directory)) return false;
  // Two entries of one library would share its one module record: Init twice, every block
  // processed twice, and Quit under the other entry's feet. File names are compared as the file
  // system does, whole and without regard to case; other names of a loaded library (a short name)
  // are caught by the handle.
  for (const auto& entry : Loaded)
    if (SameText(entry->FileName, fileName)) return false;

  auto entry = std::make_unique<TPluginEntry>();
  entry->FileName = fileName;
  if (TPlugInLibraries::THandle library = Libraries.Load(AddBackslash(directory) + fileName)) {
    for (const auto& other : Loaded) {
      if (other->Handle == library) {
        Libraries.Free(library);
        return false;
      }
    }
    if (auto* entryPoint =
            reinterpret_cast<TDspEntry>(Libraries.FindFunction(library, DspEntryName))) {
      TStart start{entryPoint, ParentWindow, library};
      if (GuardedCall(Guard, &StartPlugin, &start) && start.Initialised) {
        entry->Handle = library;
        entry->Header = start.Header;
        entry->Module = start.Module;
        entry->Active.store(true, std::memory_order_relaxed);
      }
    }
    if (!entry->Handle) Libraries.Free(library);
  }
  const bool active = entry->Active.load(std::memory_order_relaxed);
  Loaded.push_back(std::move(entry));
  if (active) PublishChain();
  return active;
}

void TPlugInHost::LoadPluginFiles(const std::string& directory,
                                  const std::vector<std::string>& fileNames) {
  for (const std::string& name : fileNames)
    if (!name.empty() && Libraries.FileExists(AddBackslash(directory) + name))
      LoadPlugin(directory, name);
}

void TPlugInHost::UnloadPlugin(int32_t position) {
  if (position < 0 || position >= static_cast<int32_t>(Loaded.size())) return;
  std::unique_ptr<TPluginEntry> entry = std::move(Loaded[position]);
  Loaded.erase(Loaded.begin() + position);
  PublishChain();
  entry->Active.store(false, std::memory_order_relaxed);
  if (entry->Handle) Release(*entry);
}

void TPlugInHost::Release(TPluginEntry& entry) {
  // A plug-in whose Quit faulted may have left threads or windows behind: its library stays
  // loaded rather than being unmapped under them.
  if (entry.Module && !GuardedCall(Guard, &QuitPlugin, entry.Module)) return;
  Libraries.Free(entry.Handle);
  entry.Handle = nullptr;
  entry.Module = nullptr;
  entry.Header = nullptr;
}

void TPlugInHost::ConfigPlugin(int32_t position) {
  if (position < 0 || position >= static_cast<int32_t>(Loaded.size())) return;
  TPluginEntry& entry = *Loaded[position];
  if (entry.Active.load(std::memory_order_acquire) && entry.Module->Config)
    entry.Module->Config(entry.Module);
}

void TPlugInHost::PublishChain() {
  std::unique_ptr<TChain> next;
  for (const auto& entry : Loaded) {
    if (!entry->Active.load(std::memory_order_relaxed)) continue;
    if (!next) next = std::make_unique<TChain>();
    next->Entries.push_back(entry.get());
  }
  Chain.store(next.get(), std::memory_order_seq_cst);
  WaitForPass();
  Published = std::move(next);
}

void TPlugInHost::WaitForPass() const {
  const uint64_t seen = Passes.load(std::memory_order_seq_cst);
  if ((seen & 1) == 0) return;
  while (Passes.load(std::memory_order_acquire) == seen) std::this_thread::yield();
}

void TPlugInHost::ProcessPlugins(int16_t* samples, int32_t& size, int32_t rate) {
  const int32_t frames = size > 0 ? size / FrameBytes : 0;
  // Only this thread writes the count: odd marks the pass as begun before the chain is read.
  const uint64_t pass = Passes.load(std::memory_order_relaxed) + 1;
  Passes.store(pass, std::memory_order_seq_cst);
  const TChain* chain = Chain.load(std::memory_order_seq_cst);
  if (chain && frames > 0) {
    for (TPluginEntry* entry : chain->Entries) {
      if (!entry->Active.load(std::memory_order_relaxed)) continue;
      TModify modify{entry->Module, samples, frames, rate};
      if (!GuardedCall(Guard, &ModifyBlock, &modify))
        entry->Active.store(false, std::memory_order_release);
    }
  }
  Passes.store(pass + 1, std::memory_order_release);
  size = frames * FrameBytes;
}
