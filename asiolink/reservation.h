// Asks the desktop's sound server to let go of a card (the freedesktop
// device-reservation protocol over the session bus) and holds the card's
// name while we play, so the server does not take the card back meanwhile.
#pragma once

#include <string>

struct DBusConnection;

namespace asiolink {

class CardReservation {
 public:
  CardReservation() = default;
  ~CardReservation() { release(); }
  CardReservation(const CardReservation&) = delete;
  CardReservation& operator=(const CardReservation&) = delete;

  // False only when the card's holder refused (or did not answer); `why`
  // then says so. Without a session bus there is nobody to ask: true.
  [[nodiscard]] bool acquire(int card, std::string* why);
  void release();
  bool held() const { return m_bus != nullptr; }

 private:
  DBusConnection* m_bus = nullptr;
  std::string m_name;
};

}  // namespace asiolink
