#pragma once

// The host of Winamp DSP plug-ins: finds plug-in files, loads and unloads them, opens their
// configuration and runs every recorded block through the chain of loaded plug-ins.
//
// Threads. Everything except ProcessPlugins runs on the main thread; ProcessPlugins runs on the
// relay thread, one pass at a time, while the main thread may load and unload plug-ins.
// The relay never waits for the main thread and takes no lock:
//  - The main thread owns LoadedPlugins and publishes the chain the relay walks as an immutable
//    snapshot (the active entries in order) through an atomic pointer.
//  - The relay counts its passes in an atomic (odd while inside a pass) and reads the snapshot
//    once per pass.
//  - A plug-in is loaded and initialised first, and published after. A removal publishes the
//    snapshot without the entry, waits until the pass in progress (if any) is over, and only
//    then calls Quit and releases the library, on the main thread. So no library is released and
//    no snapshot freed while a pass may still use it, and the main thread waits at most for one
//    pass.
//
// Faults. Every call into a plug-in goes through a TPlugInGuard. On Windows a hardware exception
// inside the call (access violation, illegal instruction, division by zero, stack overflow...)
// abandons the call and comes back as a failed result (see platform/win32/FaultGuard.h). The
// block then goes on as the plug-in left it, and the plug-in leaves the chain at once (its
// entry's Active is cleared by the relay): a broken plug-in cannot fault at every block. Its
// library stays loaded until UnloadPlugin or DonePlugins quits and releases it on the main
// thread. Config is called directly: it runs the plug-in's own window loop, which must not be
// cut short.
//
// Floating-point state: the x87 control word and MXCSR are saved before every call into a
// plug-in and restored after it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/DspRecords.h"

// The platform's dynamic libraries and file search, as the host needs them.
class TPlugInLibraries {
 public:
  using THandle = void*;
  struct TFoundFile {
    std::string Name;  // without directory
    bool Directory = false;
  };

  virtual ~TPlugInLibraries() = default;
  // The loaded library, or null when it cannot be loaded.
  virtual THandle Load(const std::string& path) = 0;
  // An exported function, or null.
  virtual void* FindFunction(THandle library, const char* name) = 0;
  virtual void Free(THandle library) = 0;
  // The entries of a directory whose names match a wildcard pattern by the platform's rules
  // (letter case ignored), hidden and system files included.
  virtual std::vector<TFoundFile> FindFiles(const std::string& directory,
                                            const std::string& pattern) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // True for an existing file (not a directory).
  virtual bool FileExists(const std::string& path) = 0;
  // Below, at or above 0: the order of two file names in the system's collation, case ignored.
  virtual int CompareNames(const std::string& a, const std::string& b) = 0;
};

// Runs one call into a plug-in. The result is false when a hardware fault abandoned the call.
class TPlugInGuard {
 public:
  virtual ~TPlugInGuard() = default;
  virtual bool Call(void (*call)(void* context), void* context) = 0;
};

// Where nothing can be caught: the call simply runs.
class TDirectCall : public TPlugInGuard {
 public:
  bool Call(void (*call)(void* context), void* context) override {
    call(context);
    return true;
  }
};

// One requested plug-in, whether it could be loaded or not.
struct TPluginEntry {
  std::string FileName;  // as requested, without directory
  // Initialised and taking part in the chain. Cleared by the relay thread when a call into the
  // plug-in faulted; never set again.
  std::atomic<bool> Active{false};
  TPlugInLibraries::THandle Handle = nullptr;  // set while the library is loaded
  TDspModule* Module = nullptr;                // the library's module 0
  TDspHeader* Header = nullptr;
};

using TPluginList = std::vector<std::unique_ptr<TPluginEntry>>;

class TPlugInHost {
 public:
  TPlugInHost(TPlugInLibraries& libraries, TPlugInGuard& guard);
  // Unloads everything (DonePlugins). No relay pass may run any more.
  ~TPlugInHost();
  TPlugInHost(const TPlugInHost&) = delete;
  TPlugInHost& operator=(const TPlugInHost&) = delete;

  // Main thread.

  // The application window, handed to the entry point and set as each module's parent window.
  void SetParentWindow(void* window) { ParentWindow = window; }
  // Starts with both lists empty (anything still loaded is unloaded first).
  void InitPlugins();
  // Unloads every plug-in, first to last, and empties both lists.
  void DonePlugins();
  // Lists the files "dsp*.dll" of a directory in FoundPlugins, sorted by name, case ignored.
  // An empty or missing directory gives an empty list.
  void ScanPlugins(const std::string& directory);
  // Loads directory\fileName, initialises its module 0 and appends it to the chain. Returns true
  // when the plug-in is active. A plug-in that cannot be loaded or initialised still gets an
  // inactive entry (its library released at once); a missing directory, an empty name, a name
  // already in the list (case ignored) or a library already loaded under another name adds
  // nothing.
  bool LoadPlugin(const std::string& directory, const std::string& fileName);
  // The plug-ins of the settings at start: LoadPlugin for each name, in order, whose file exists
  // in the directory. A name whose file is missing gets no entry at all.
  void LoadPluginFiles(const std::string& directory, const std::vector<std::string>& fileNames);
  // Removes the entry at a position (later entries move up); a loaded library is quit and
  // released. Positions outside the list do nothing.
  void UnloadPlugin(int32_t position);
  // Opens an active plug-in's configuration; returns when the plug-in returns.
  void ConfigPlugin(int32_t position);

  const std::vector<std::string>& FoundPlugins() const { return Found; }
  // Read-only for callers; positions are the plug-ins' identities.
  const TPluginList& LoadedPlugins() const { return Loaded; }

  // Relay thread.

  // Runs a block through the active plug-ins in order, in place, each given the same frame count
  // (size div 4; what a plug-in returns is not used), 16 bits, 2 channels and the rate. size
  // leaves as a whole number of frames, also with no plug-in loaded.
  // The buffer must have room for twice the block's frames: plug-ins commonly write up to twice
  // the frames they are given. Allocates nothing and takes no lock.
  void ProcessPlugins(int16_t* samples, int32_t& size, int32_t rate);

 private:
  struct TChain {
    std::vector<TPluginEntry*> Entries;
  };

  // Publishes the active entries of LoadedPlugins as the relay's chain and frees the previous
  // snapshot once no pass can use it.
  void PublishChain();
  // Returns when the relay is not inside a pass that began before the call.
  void WaitForPass() const;
  // Quit and release of a loaded library, once the relay no longer reaches it.
  void Release(TPluginEntry& entry);

  TPlugInLibraries& Libraries;
  TPlugInGuard& Guard;
  void* ParentWindow = nullptr;
  std::vector<std::string> Found;
  TPluginList Loaded;
  // The snapshot the relay reads, and the main thread's ownership of it.
  std::unique_ptr<TChain> Published;
  std::atomic<const TChain*> Chain{nullptr};
  // Odd while the relay is inside a pass.
  std::atomic<uint64_t> Passes{0};
};
