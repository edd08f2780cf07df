#include "fadertable.h"

FaderTable::FaderTable(int width) {
  // The knob travels over the track less its own width and margins; five
  // sections share that span. Positions accumulate in float and truncate, so
  // the table lands on whole pixels the way the track was drawn for.
  const int span = int(-double(width - 1 - 15) / 5.0);
  const float coarse = float(span) / 6.0f;  // 0 .. -11 dB, 1 dB apart
  const float fine = float(span) / 12.0f;   // -12 .. -58 dB and -120 dB
  float pos = float(width);
  auto put = [&](int db) {
    if (m_count < kMaxSteps) m_steps[m_count++] = Step{int(pos) - 10, db};
  };
  for (int db = 0; db >= -11; --db) {
    put(db);
    pos += coarse;
  }
  for (int db = -12; db >= -35; --db) {
    put(db);
    pos += fine;
  }
  for (int db = -36; db >= -58; db -= 2) {
    put(db);
    pos += fine;
  }
  put(kMinusInfinityDb);
  for (int i = m_count; i < kMaxSteps; ++i) m_steps[i] = Step{-1, kMinusInfinityDb};
}

int FaderTable::dbAt(int position) const {
  for (int i = kMaxSteps - 1; i >= 0; --i) {
    if (m_steps[i].position >= position) return m_steps[i].db;
  }
  // Right of the 0 dB step: never louder than 0 dB.
  return m_steps[0].db;
}

int FaderTable::positionFor(double db) const {
  for (int i = 0; i < m_count; ++i) {
    if (m_steps[i].db <= db) return m_steps[i].position;
  }
  return m_steps[m_count - 1].position;
}

MonitorVolume monitorVolumeFor(int db) {
  if (db <= -100) return MonitorVolume{FaderTable::kSilenceDb, QStringLiteral("-inf")};
  return MonitorVolume{double(db), QString::number(db)};
}
