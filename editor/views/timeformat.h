// The program's one time text: hours:minutes:seconds.hundredths.
#pragma once

#include <QString>
#include <cstdint>

// Frames at `rate` Hz as "hh:mm:ss.cc", each field at least two digits,
// every field truncated. A rate of 0 yields "00:00:00.00".
QString formatTime(uint64_t frames, uint32_t rate);

// The file information texts of the main window's labels.
QString rateLabelText(uint32_t rate);      // 44100 -> "44.1kHz"
QString bitsLabelText(uint32_t bits);      // 24 -> "24bits", 1 -> "1bit"
QString channelsLabelText(uint32_t ch);    // 2 -> "STEREO"
QString fileTypeLabelText(uint32_t type);  // 2 -> "DSF(DSD)"
