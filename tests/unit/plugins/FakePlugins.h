#pragma once

// Plug-in libraries for the host's tests: plain C++ functions behind the records of the plug-in
// interface. A library's records live in an image that is allocated when the library is loaded
// and freed when its last reference is released, as a real library is mapped and unmapped, so
// AddressSanitizer sees any use of a released plug-in.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dsp/OVPlugIns.h"

// Thrown by a fake plug-in to stand for a hardware fault; TFakeGuard turns it into a failed call.
struct TFakeFault {};

class TFakeGuard : public TPlugInGuard {
 public:
  bool Call(void (*call)(void*), void* context) override {
    try {
      call(context);
      return true;
    } catch (const TFakeFault&) {
      return false;
    }
  }
};

// How one fake plug-in file behaves.
struct TFakeSpec {
  bool HasEntry = true;
  bool NullModule = false;
  int InitResult = 0;
  bool FaultInInit = false;
  bool FaultInQuit = false;
  // Runs on the samples of each ModifySamples call (frames given); must not allocate.
  std::function<void(short* samples, int frames)> Work;
  // What ModifySamples returns, from the frames given; the frames when not set.
  std::function<int(int frames)> Result;
  // Throws TFakeFault after Work on this call (1 = first); 0 never.
  int FaultAtCall = 0;
  // Runs inside Init and inside every ModifySamples (for blocking and state changes).
  std::function<void()> InInit;
  std::function<void()> InModify;
};

class TFakeLibraries;
struct TFakeImage;

// The loaded fake libraries by slot. Each slot has its own entry point and getModule, as each
// real library has its own code and data.
inline constexpr int MaxFakeImages = 16;
inline TFakeImage* FakeSlots[MaxFakeImages] = {};

struct TFakeImage {
  TFakeLibraries* Owner = nullptr;
  std::string File;
  TFakeSpec Spec;
  int References = 0;
  int Slot = -1;
  TDspHeader Header{};
  TDspModule Module{};
  void* EntryWindow = nullptr;
  int Inits = 0;
  int Configs = 0;
  std::atomic<int> Calls{0};
  std::atomic<int> Inside{0};
  std::atomic<bool> Quit{false};
  // Arguments of the last ModifySamples call.
  int LastFrames = 0, LastBps = 0, LastNch = 0, LastRate = 0;
};

class TFakeLibraries : public TPlugInLibraries {
 public:
  TFakeLibraries() { Directories.insert("C:\\plugins"); }
  ~TFakeLibraries() override {
    for (TFakeImage*& image : FakeSlots) {
      if (image && image->Owner == this) {
        delete image;
        image = nullptr;
      }
    }
  }

  // A file of the plug-in directory that is no library.
  void AddPlainFile(const std::string& name) { PlainFiles.insert(Key(name)); }
  // Registers a file of the plug-in directory C:\plugins. Aliases name the same file (as a
  // short name or another letter case does on Windows).
  void AddFile(const std::string& name, TFakeSpec spec) { Specs[Key(name)] = std::move(spec); }
  void AddAlias(const std::string& alias, const std::string& name) {
    Aliases[Key(alias)] = Key(name);
  }

  // The loaded image of a file, or null.
  TFakeImage* Image(const std::string& name) const {
    for (TFakeImage* image : FakeSlots)
      if (image && image->Owner == this && image->File == Key(name)) return image;
    return nullptr;
  }
  int LoadedCount() const {
    return static_cast<int>(std::count_if(std::begin(FakeSlots), std::end(FakeSlots),
                                          [this](auto* i) { return i && i->Owner == this; }));
  }

  THandle Load(const std::string& path) override {
    ++LoadCalls;
    const std::string prefix = "C:\\plugins\\";
    if (path.compare(0, prefix.size(), prefix) != 0) return nullptr;
    std::string key = Key(path.substr(prefix.size()));
    if (Aliases.count(key)) key = Aliases[key];
    if (!Specs.count(key)) return nullptr;
    if (TFakeImage* image = Image(key)) {
      ++image->References;
      return image;
    }
    const int slot = static_cast<int>(
        std::find(std::begin(FakeSlots), std::end(FakeSlots), nullptr) - std::begin(FakeSlots));
    if (slot == MaxFakeImages) throw std::logic_error("too many fake libraries");
    auto* image = new TFakeImage;
    image->Owner = this;
    image->File = key;
    image->Spec = Specs[key];
    image->References = 1;
    image->Slot = slot;
    image->Header = {0x20, nullptr, GetModules()[slot]};
    image->Module = {nullptr, nullptr, nullptr, &Config, &Init, &Modify, &QuitFn, image};
    FakeSlots[slot] = image;
    return image;
  }

  void* FindFunction(THandle library, const char* name) override {
    auto* image = static_cast<TFakeImage*>(library);
    if (!image->Spec.HasEntry || std::string(name) != DspEntryName) return nullptr;
    return reinterpret_cast<void*>(EntryPoints()[image->Slot]);
  }

  void Free(THandle library) override {
    auto* image = static_cast<TFakeImage*>(library);
    if (image->Inside.load() != 0) ++Violations;
    if (--image->References > 0) return;
    FakeSlots[image->Slot] = nullptr;
    ++Frees;
    delete image;
  }

  std::vector<TFoundFile> FindFiles(const std::string& directory,
                                    const std::string& pattern) override {
    LastPattern = pattern;
    LastSearch = directory;
    return Listing;
  }

  bool DirectoryExists(const std::string& path) override { return Directories.count(path) > 0; }

  bool FileExists(const std::string& path) override {
    const std::string prefix = "C:\\plugins\\";
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string key = Key(path.substr(prefix.size()));
    return Specs.count(key) > 0 || Aliases.count(key) > 0 || PlainFiles.count(key) > 0;
  }

  int CompareNames(const std::string& a, const std::string& b) override {
    return Key(a).compare(Key(b));
  }

  std::set<std::string> Directories;
  std::vector<TFoundFile> Listing;
  std::string LastPattern, LastSearch;
  int LoadCalls = 0;
  int Frees = 0;
  // Quit or release while the relay was inside the plug-in, or a call after Quit.
  std::atomic<int> Violations{0};
  // Files whose Quit ran, in order (main thread only).
  std::vector<std::string> QuitOrder;

 private:
  static std::string Key(const std::string& name) {
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
  }

  static TFakeImage& ImageOf(TDspModule* module) {
    return *static_cast<TFakeImage*>(module->userData);
  }

  template <int Slot>
  static TDspHeader* DSP_CALL Entry(void* window) {
    FakeSlots[Slot]->EntryWindow = window;
    return &FakeSlots[Slot]->Header;
  }
  template <int Slot>
  static TDspModule* DSP_CALL GetModule(int which) {
    TFakeImage* image = FakeSlots[Slot];
    return which == 0 && !image->Spec.NullModule ? &image->Module : nullptr;
  }
  template <int... Slots>
  static const TDspEntry* MakeEntryPoints(std::integer_sequence<int, Slots...>) {
    static const TDspEntry entries[] = {&Entry<Slots>...};
    return entries;
  }
  static const TDspEntry* EntryPoints() {
    return MakeEntryPoints(std::make_integer_sequence<int, MaxFakeImages>{});
  }
  using TGetModule = TDspModule*(DSP_CALL*)(int);
  template <int... Slots>
  static const TGetModule* MakeGetModules(std::integer_sequence<int, Slots...>) {
    static const TGetModule functions[] = {&GetModule<Slots>...};
    return functions;
  }
  static const TGetModule* GetModules() {
    return MakeGetModules(std::make_integer_sequence<int, MaxFakeImages>{});
  }

  static void DSP_CALL Config(TDspModule* module) { ++ImageOf(module).Configs; }

  static int DSP_CALL Init(TDspModule* module) {
    TFakeImage& image = ImageOf(module);
    ++image.Inits;
    if (image.Spec.InInit) image.Spec.InInit();
    if (image.Spec.FaultInInit) throw TFakeFault{};
    return image.Spec.InitResult;
  }

  static int DSP_CALL Modify(TDspModule* module, short* samples, int frames, int bps, int nch,
                             int rate) {
    TFakeImage& image = ImageOf(module);
    ++image.Inside;
    if (image.Quit.load()) ++image.Owner->Violations;
    const int call = ++image.Calls;
    image.LastFrames = frames;
    image.LastBps = bps;
    image.LastNch = nch;
    image.LastRate = rate;
    if (image.Spec.Work) image.Spec.Work(samples, frames);
    if (image.Spec.InModify) image.Spec.InModify();
    --image.Inside;
    if (call == image.Spec.FaultAtCall) throw TFakeFault{};
    return image.Spec.Result ? image.Spec.Result(frames) : frames;
  }

  static void DSP_CALL QuitFn(TDspModule* module) {
    TFakeImage& image = ImageOf(module);
    if (image.Inside.load() != 0) ++image.Owner->Violations;
    image.Quit = true;
    image.Owner->QuitOrder.push_back(image.File);
    if (image.Spec.FaultInQuit) throw TFakeFault{};
  }

  std::map<std::string, TFakeSpec> Specs;
  std::map<std::string, std::string> Aliases;
  std::set<std::string> PlainFiles;
};
