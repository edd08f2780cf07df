// Binding of the output bridge library (libasiolink.so beside the program):
// loaded by file name, its eight exports bound by name. Every call is skipped
// when its export is missing or the driver handle is 0.
#pragma once

#include <QLibrary>
#include <QStringList>
#include <cstdint>

class AsioBridge {
 public:
  // Render callback: (ignored, sample type, frame count, left, right).
  typedef void (*RenderCallback)(int, int, int, void*, void*);
  typedef void (*NamesCallback)(const char** names, int count);

  typedef int (*InitAsioDriverFn)(int* handle);
  typedef int (*GetAsioDriverNamesFn)(int handle, NamesCallback callback);
  typedef int (*OpenAsioDeviceFn)(int handle, void* ctx, int device, int rate,
                                  RenderCallback render, int* unused, uint32_t* rateMask);
  typedef int (*StopAsioDeviceFn)(int handle, void* ctx);
  typedef int (*UnSelectAsioDeviceFn)(int handle, void* ctx, int zero);
  typedef int (*OpenAsioPanelFn)(int handle, void* ctx);
  typedef int (*GetAndSetAsioBufferSizeFn)(int handle, void* ctx, int apply);
  typedef int (*ExitAsioDeviceFn)(int handle, void* ctx);

  static constexpr int kSkipped = -1000;  // result of a call that was skipped
  static constexpr int kMaxDriverNames = 30;

  AsioBridge() = default;
  ~AsioBridge();
  AsioBridge(const AsioBridge&) = delete;
  AsioBridge& operator=(const AsioBridge&) = delete;

  // Loads `libraryPath`, binds the exports and calls initAsioDriver once.
  // Returns true when the library loaded (exports may still be missing).
  bool load(const QString& libraryPath);

  bool isLoaded() const { return m_library.isLoaded(); }
  int handle() const { return m_handle; }
  int initResult() const { return m_initResult; }
  // ASIO offers devices only when the bridge loaded and its driver started.
  bool isUsable() const { return m_handle != 0 && m_initResult >= 0; }
  // How many of the eight exports were found.
  int boundCount() const;

  // Driver names in the local 8-bit code page, at most 30; empty if skipped.
  QStringList driverNames(int* result = nullptr);
  int openDevice(void* ctx, int device, int rate, RenderCallback render, uint32_t* rateMask);
  int stopDevice(void* ctx);
  int unSelectDevice(void* ctx);
  int openPanel(void* ctx);
  int bufferSizeRequest(void* ctx, int apply);

  // Beyond the eight, bound when the bridge offers them.
  // Appends an ALSA PCM name to the device list; its index or a negative code.
  int addDevice(const QString& pcmName);
  // The "Control Panel" text of the open device, or why the last open failed.
  QString panelText();

 private:
  QLibrary m_library;
  int m_handle = 0;
  int m_initResult = kSkipped;
  InitAsioDriverFn m_init = nullptr;
  GetAsioDriverNamesFn m_getNames = nullptr;
  OpenAsioDeviceFn m_open = nullptr;
  StopAsioDeviceFn m_stop = nullptr;
  UnSelectAsioDeviceFn m_unSelect = nullptr;
  OpenAsioPanelFn m_panel = nullptr;
  GetAndSetAsioBufferSizeFn m_bufferSize = nullptr;
  ExitAsioDeviceFn m_exit = nullptr;  // bound, never called
  int (*m_addDevice)(int, const char*) = nullptr;
  int (*m_panelText)(int, char*, int) = nullptr;
};
