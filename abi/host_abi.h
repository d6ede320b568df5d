// The records and callbacks shared with the TV-tuner host. Their layout is the
// contract with hosts that already exist: every size and offset is checked for
// the 32-bit build. The header is free of platform headers so that the portable
// core and its native tests can use the same declarations.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define TEV_CDECL __cdecl
#else
#define TEV_CDECL
#endif

namespace tev {

// Frame kinds: 1 is 24-bit RGB (B, G, R), anything else packed 4:2:2 (YUY2).
constexpr int32_t FrameKindRgb24 = 1;

// Host function that copies `count` bytes; its result is ignored.
using CopyBytesCallback = void*(TEV_CDECL*)(void* destination, const void* source, uint32_t count);
// Host function: nonzero when the host still knows the channel `key`.
using ChannelKnownCallback = int32_t(TEV_CDECL*)(int64_t key);

struct FrameFormat {
  int32_t Width;
  int32_t Height;
  int32_t BytesPerPixel;
  int32_t Kind;
  int32_t Reserved;
};

struct PluginInitInfo {
  uint32_t HostValue;  // belongs to the host; never interpreted
  ChannelKnownCallback ChannelKnown;
};

struct ChannelInfo {
  uint32_t KeyLow;
  uint32_t KeyHigh;
  uint8_t Unread[4];
  char Name[1];  // zero-terminated, stored inline; the host decides its length
};

struct FrameInfo {
  uint8_t* Pixels;  // may be null
  uint8_t Unread1[12];
  CopyBytesCallback CopyBytes;
  uint8_t Unread2[24];
  const ChannelInfo* Channel;  // never null
};

struct DialogHostInfo {
  void* OwnerWindow;  // HWND
};

using InitEntry = void(TEV_CDECL*)(const PluginInitInfo*);
using SetFormatEntry = int32_t(TEV_CDECL*)(const FrameFormat*);
using ProcessFrameEntry = int32_t(TEV_CDECL*)(FrameInfo*);
using FreeBuffersEntry = void(TEV_CDECL*)();
using ShowDialogEntry = void(TEV_CDECL*)(const DialogHostInfo*);
using ShutdownEntry = void(TEV_CDECL*)();

struct PluginDescriptor {
  const char* Name;
  const char* Description;
  InitEntry Init;
  SetFormatEntry SetFormat;
  ProcessFrameEntry ProcessFrame;
  FreeBuffersEntry FreeBuffers;
  ShowDialogEntry ShowDialog;
  ShutdownEntry Shutdown;
};

inline int64_t ChannelKey(const ChannelInfo& channel) {
  return static_cast<int64_t>((static_cast<uint64_t>(channel.KeyHigh) << 32) | channel.KeyLow);
}

static_assert(sizeof(FrameFormat) == 20, "FrameFormat is five 32-bit values");
static_assert(offsetof(FrameFormat, Width) == 0 && offsetof(FrameFormat, Height) == 4 &&
                  offsetof(FrameFormat, BytesPerPixel) == 8 && offsetof(FrameFormat, Kind) == 12 &&
                  offsetof(FrameFormat, Reserved) == 16,
              "FrameFormat layout");
static_assert(offsetof(ChannelInfo, KeyLow) == 0 && offsetof(ChannelInfo, KeyHigh) == 4 &&
                  offsetof(ChannelInfo, Name) == 12,
              "ChannelInfo layout");

#if defined(__i386__) || defined(_M_IX86)
// The host's 32-bit ABI.
static_assert(sizeof(void*) == 4, "32-bit pointers");
static_assert(sizeof(PluginDescriptor) == 32, "PluginDescriptor is eight pointers");
static_assert(offsetof(PluginDescriptor, Name) == 0 && offsetof(PluginDescriptor, Description) == 4 &&
                  offsetof(PluginDescriptor, Init) == 8 && offsetof(PluginDescriptor, SetFormat) == 12 &&
                  offsetof(PluginDescriptor, ProcessFrame) == 16 &&
                  offsetof(PluginDescriptor, FreeBuffers) == 20 &&
                  offsetof(PluginDescriptor, ShowDialog) == 24 && offsetof(PluginDescriptor, Shutdown) == 28,
              "PluginDescriptor layout");
static_assert(sizeof(PluginInitInfo) == 8 && offsetof(PluginInitInfo, ChannelKnown) == 4,
              "PluginInitInfo layout");
static_assert(sizeof(FrameInfo) == 48 && offsetof(FrameInfo, Pixels) == 0 &&
                  offsetof(FrameInfo, CopyBytes) == 16 && offsetof(FrameInfo, Channel) == 44,
              "FrameInfo layout");
static_assert(sizeof(DialogHostInfo) == 4 && offsetof(DialogHostInfo, OwnerWindow) == 0,
              "DialogHostInfo layout");
#endif

}  // namespace tev
