// libasiolink.so: the direct output. It opens one sound card exclusively
// (ALSA hw PCMs, no mixing, no conversion by the sound server) and calls the
// program's render callback from its own real-time thread once per period.
//
// Devices, in list order: every hardware PCM of every card ("hw:CARD,DEV",
// listed by name), then every ALSA PCM name added with asioLinkAddDevice (in
// the order added; the program keeps them in its settings). Names arrive
// from ALSA as they are, which is the local 8-bit encoding.
//
// Formats. The renderer is asked for Int32 LSB (sample type 18) for PCM and
// for DSD Int8 MSB1 (33) for DSD, `frames` then counting 1-bit samples. The
// card's container is found in this order and never by a hidden conversion:
// S32 in the CPU's order, packed 24-bit, the byte-swapped forms, 24 bits in a
// 32-bit container, and only then 16-bit (which the panel text states).
// DSD goes out natively (DSD_U32, DSD_U16, DSD_U8 in the card's byte order)
// or, on cards that take only PCM, as DoP at a sixteenth of the DSD rate in a
// container of at least 24 bits; asioLinkSetDsdMode forces either.
//
// Results: 0 or a count is success, negatives are the kAsioLink* codes.
// `ctx` is never dereferenced. No output on stdout; one line on stderr when
// real-time priority, and one when locking the buffers in memory, is refused.
#pragma once

#include <cstdint>

#define ASIOLINK_EXPORT extern "C" __attribute__((visibility("default")))

typedef void (*AsioLinkRender)(int unused, int sampleType, int frames, void* left, void* right);
typedef void (*AsioLinkNames)(const char** names, int count);

enum AsioLinkResult {
  kAsioLinkOk = 0,
  kAsioLinkBufferSizeChanged = 2,  // getAndSetAsioBufferSize: never raised by ALSA
  kAsioLinkBadHandle = -1,
  kAsioLinkNoDevice = -2,         // index out of range
  kAsioLinkBusy = -3,             // another program holds the card
  kAsioLinkOpenFailed = -4,       // ALSA refused to open the PCM
  kAsioLinkUnsupportedRate = -5,  // no format of ours at this rate
  kAsioLinkNotOpen = -6,
  kAsioLinkDeviceGone = -19,    // unplugged while open; stays until the next open
  kAsioLinkStreamFailed = -20,  // an error no recovery could mend
  kAsioLinkNoMemory = -21,
};

enum AsioLinkDsdMode { kAsioLinkDsdAuto = 0, kAsioLinkDsdNative = 1, kAsioLinkDsdDop = 2 };

// The eight exports the program binds.
ASIOLINK_EXPORT int initAsioDriver(int* handle);
ASIOLINK_EXPORT int getAsioDriverNames(int handle, AsioLinkNames callback);
// Opens `device` at `rate` Hz and starts rendering after at least one period of
// silence. `rateMask` bit i: rate code i plays on this device (codes 0..7 PCM,
// 16..19 DSD natively or as DoP). Busy cards answer kAsioLinkBusy at once.
// A card ("hw:N,...") is first asked of the desktop's sound server over the
// session bus (device reservation) and held until the device is released.
ASIOLINK_EXPORT int openAsioDevice(int handle, void* ctx, int device, int rate,
                                   AsioLinkRender render, int* unused, uint32_t* rateMask);
// Render callbacks cease; what was rendered plays out after a period of
// silence, then the card is released. kAsioLinkDeviceGone if it was unplugged.
ASIOLINK_EXPORT int stopAsioDevice(int handle, void* ctx);
// Hard stop: queued audio is dropped and the card released.
ASIOLINK_EXPORT int unSelectAsioDevice(int handle, void* ctx, int zero);
// Fills the panel text (asioLinkPanelText); 0 with a device open, else kAsioLinkNotOpen.
ASIOLINK_EXPORT int openAsioPanel(int handle, void* ctx);
// apply = 0 polls: 0 normally, kAsioLinkDeviceGone once the open device has
// disappeared (render callbacks have stopped). apply = 1 does nothing.
ASIOLINK_EXPORT int getAndSetAsioBufferSize(int handle, void* ctx, int apply);
ASIOLINK_EXPORT int exitAsioDevice(int handle, void* ctx);

// Beyond the eight.
// Appends a PCM name the user typed ("hw:1,0", "iec958:CARD=X" or any name in
// the ALSA configuration); returns its device index.
ASIOLINK_EXPORT int asioLinkAddDevice(int handle, const char* pcmName);
// Forces native DSD or DoP for one device; takes effect at the next open.
ASIOLINK_EXPORT int asioLinkSetDsdMode(int handle, int device, int mode);
// The "Control Panel" text: card, PCM, format, rate, period and buffer,
// native or DoP, recovered underruns; with no device open, why the last open
// failed. Copies at most size - 1 bytes plus NUL; returns the full length.
ASIOLINK_EXPORT int asioLinkPanelText(int handle, char* buffer, int size);
// kAsioLinkOk while playing or closed, kAsioLinkDeviceGone or
// kAsioLinkStreamFailed after the stream ended on its own.
ASIOLINK_EXPORT int asioLinkStatus(int handle);
