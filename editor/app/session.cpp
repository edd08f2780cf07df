#include "session.h"

#include <algorithm>

Session::Session() {
  m_info.sampleRate = 44100;
  m_info.bitsPerSample = 16;
  m_info.channels = 2;
  m_info.fileType = kFileTypeWav;
  m_source = describeSource(m_info);
}

int Session::addListener(Listener listener) {
  m_listeners.emplace_back(m_nextListenerId, std::move(listener));
  return m_nextListenerId++;
}

void Session::removeListener(int id) {
  m_listeners.erase(std::remove_if(m_listeners.begin(), m_listeners.end(),
                                   [id](const auto& l) { return l.first == id; }),
                    m_listeners.end());
}

void Session::openFile(const std::u16string& path, const AudioFileInfo& info) {
  m_path = path;
  m_info = info;
  m_source = describeSource(info);
  m_range = EditRange{};
  m_range.outFrames = int64_t(std::min<uint64_t>(m_source.totalFrames, uint64_t(INT64_MAX)));
  m_positionFrames = 0;
  notify(kFile | kRange | kPosition);
}

void Session::setEditRange(const EditRange& range) {
  m_range = range;
  notify(kRange);
}

double Session::playPositionFraction() const {
  const uint64_t total = totalFrames();
  return total ? double(m_positionFrames) / double(total) : 0.0;
}

void Session::setPlayPosition(uint64_t frames) {
  m_positionFrames = frames;
  notify(kPosition);
}

void Session::setPlaying(bool playing) {
  if (playing == m_playing) return;
  m_playing = playing;
  notify(kPlayState);
}

void Session::stopPlayback() {
  if (m_stopHook) m_stopHook();
  setPlaying(false);
}

void Session::notify(unsigned changes) {
  // A copy: a listener may add or remove listeners.
  const auto listeners = m_listeners;
  for (const auto& l : listeners) l.second(changes);
}
