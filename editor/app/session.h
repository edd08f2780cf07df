// What the program has open and what it is doing with it: the file and its
// description, the marked range, the play position and the play state. The
// main window and the export and combine dialogs read it; a new file, a
// playback or an export changes it here once, and listeners hear of it.
// Plain C++ like the playback engine; used on the GUI thread only (what the
// engine's threads share goes through its own lock-free state).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "editpoints.h"
#include "sonvex.h"
#include "transaction.h"

class Session {
 public:
  // Bits of a change notification.
  enum Change : unsigned { kFile = 1u, kRange = 2u, kPosition = 4u, kPlayState = 8u };
  using Listener = std::function<void(unsigned changes)>;

  Session();

  // Listeners are called on the thread that changes the session (the GUI
  // thread); the id removes the listener again.
  int addListener(Listener listener);
  void removeListener(int id);

  [[nodiscard]] bool isFileOpen() const { return !m_path.empty(); }
  const std::u16string& filePath() const { return m_path; }
  // Of the open file; without one, the defaults the time texts use.
  const AudioFileInfo& fileInfo() const { return m_info; }
  const SourceDescription& source() const { return m_source; }
  [[nodiscard]] uint64_t totalFrames() const { return m_source.totalFrames; }
  // The file becomes current: whole file marked, position at the start.
  void openFile(const std::u16string& path, const AudioFileInfo& info);

  // In, out, fades and gain in source frames.
  const EditRange& editRange() const { return m_range; }
  void setEditRange(const EditRange& range);

  [[nodiscard]] uint64_t playPositionFrames() const { return m_positionFrames; }
  [[nodiscard]] double playPositionFraction() const;
  void setPlayPosition(uint64_t frames);

  [[nodiscard]] bool isPlaying() const { return m_playing; }
  void setPlaying(bool playing);

  // Stopping playback belongs to whoever runs it; the hook lets any part (a
  // dialog about to export) ask for it without knowing who that is. The
  // hook returns once playback has ended.
  void setStopHook(std::function<void()> hook) { m_stopHook = std::move(hook); }
  void stopPlayback();

 private:
  void notify(unsigned changes);

  std::u16string m_path;
  AudioFileInfo m_info{};
  SourceDescription m_source{};
  EditRange m_range;
  uint64_t m_positionFrames = 0;
  bool m_playing = false;
  std::function<void()> m_stopHook;
  std::vector<std::pair<int, Listener>> m_listeners;
  int m_nextListenerId = 1;
};
