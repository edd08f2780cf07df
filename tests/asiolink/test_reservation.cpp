#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "reservation.h"

using asiolink::CardReservation;

namespace {

constexpr int kCard = 7;
const char* const kName = "org.freedesktop.ReserveDevice1.Audio7";

// Plays the sound server: holds card 7 and answers release requests.
class Holder {
 public:
  explicit Holder(bool grant) : m_grant(grant) {
    m_bus = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    if (!m_bus) return;
    dbus_bus_request_name(m_bus, kName, DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr);
    m_thread = std::thread([this] {
      while (!m_stop && dbus_connection_read_write(m_bus, 20)) {
        while (DBusMessage* m = dbus_connection_pop_message(m_bus)) {
          if (dbus_message_is_method_call(m, "org.freedesktop.ReserveDevice1", "RequestRelease")) {
            ++asked;
            if (m_grant) dbus_bus_release_name(m_bus, kName, nullptr);
            DBusMessage* reply = dbus_message_new_method_return(m);
            dbus_bool_t granted = m_grant;
            dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &granted, DBUS_TYPE_INVALID);
            dbus_connection_send(m_bus, reply, nullptr);
            dbus_message_unref(reply);
          }
          dbus_message_unref(m);
        }
      }
    });
  }
  ~Holder() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_bus) dbus_connection_close(m_bus), dbus_connection_unref(m_bus);
  }
  bool ok() const { return m_bus != nullptr; }
  // Whether the name is free for the taking right now (asked from outside).
  static bool nameFree() { return !dbus_bus_name_has_owner(probe(), kName, nullptr); }
  static DBusConnection* probe() {
    static DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    return bus;
  }

  std::atomic<int> asked{0};

 private:
  bool m_grant;
  DBusConnection* m_bus = nullptr;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// A session bus of the test's own.
class Reservation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FILE* p =
        popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    char address[512] = {0};
    if (p && std::fscanf(p, "%511s %d", address, &s_pid) == 2) {
      setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    }
    if (p) pclose(p);
  }
  static void TearDownTestSuite() {
    if (s_pid > 0) kill(s_pid, SIGTERM);
  }
  void SetUp() override {
    if (s_pid <= 0) GTEST_SKIP() << "dbus-daemon not available";
  }
  static int s_pid;
  CardReservation reservation;
  std::string why;
};
int Reservation::s_pid = 0;

}  // namespace

TEST_F(Reservation, FreeCardIsHeldUntilReleased) {
  ASSERT_TRUE(reservation.acquire(kCard, &why));
  EXPECT_TRUE(reservation.held());
  EXPECT_FALSE(Holder::nameFree());
  reservation.release();
  EXPECT_TRUE(Holder::nameFree());
}

TEST_F(Reservation, ServerThatGrantsHandsTheCardOver) {
  Holder server(true);
  ASSERT_TRUE(server.ok());
  ASSERT_TRUE(reservation.acquire(kCard, &why));
  EXPECT_EQ(server.asked, 1);
  EXPECT_TRUE(reservation.held());
  EXPECT_FALSE(Holder::nameFree());
}

TEST_F(Reservation, ServerThatRefusesKeepsTheCardAndWeSaySo) {
  Holder server(false);
  ASSERT_TRUE(server.ok());
  EXPECT_FALSE(reservation.acquire(kCard, &why));
  EXPECT_EQ(server.asked, 1);
  EXPECT_FALSE(reservation.held());
  EXPECT_NE(why.find("did not release"), std::string::npos);
}

TEST_F(Reservation, WithoutASessionBusNobodyIsAsked) {
  const std::string address = getenv("DBUS_SESSION_BUS_ADDRESS");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  const std::string savedRuntime = runtime ? runtime : "";
  setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
  EXPECT_TRUE(reservation.acquire(kCard, &why));
  EXPECT_FALSE(reservation.held());
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  if (runtime)
    setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}
