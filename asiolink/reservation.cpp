#include "reservation.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdlib>

namespace asiolink {

namespace {

constexpr int kPriority = 1000;  // above the sound servers' own (0)
constexpr int kReplyTimeoutMs = 1000;

// Connecting without a bus address would start a bus of our own; a desktop
// session has one of these two.
bool sessionBusKnown() {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  return runtime && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0;
}

bool askToRelease(DBusConnection* bus, const std::string& name, int card) {
  const std::string path = "/org/freedesktop/ReserveDevice1/Audio" + std::to_string(card);
  DBusMessage* call = dbus_message_new_method_call(
      name.c_str(), path.c_str(), "org.freedesktop.ReserveDevice1", "RequestRelease");
  if (!call) return false;
  dbus_int32_t priority = kPriority;
  dbus_message_append_args(call, DBUS_TYPE_INT32, &priority, DBUS_TYPE_INVALID);
  DBusError err;
  dbus_error_init(&err);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, kReplyTimeoutMs, &err);
  dbus_message_unref(call);
  dbus_bool_t granted = FALSE;
  if (reply) {
    if (!dbus_message_get_args(reply, &err, DBUS_TYPE_BOOLEAN, &granted, DBUS_TYPE_INVALID)) {
      granted = FALSE;
    }
    dbus_message_unref(reply);
  }
  dbus_error_free(&err);
  return granted;
}

}  // namespace

bool CardReservation::acquire(int card, std::string* why) {
  release();
  if (!sessionBusKnown()) return true;
  DBusError err;
  dbus_error_init(&err);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
  dbus_error_free(&err);
  if (!bus) return true;
  dbus_connection_set_exit_on_disconnect(bus, FALSE);
  const std::string name = "org.freedesktop.ReserveDevice1.Audio" + std::to_string(card);
  int r = dbus_bus_request_name(bus, name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &err);
  dbus_error_free(&err);
  if (r == DBUS_REQUEST_NAME_REPLY_EXISTS && askToRelease(bus, name, card)) {
    r = dbus_bus_request_name(bus, name.c_str(),
                              DBUS_NAME_FLAG_DO_NOT_QUEUE | DBUS_NAME_FLAG_REPLACE_EXISTING, &err);
    dbus_error_free(&err);
  }
  if (r == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER || r == DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER) {
    m_bus = bus;
    m_name = name;
    return true;
  }
  dbus_connection_close(bus);
  dbus_connection_unref(bus);
  if (r == DBUS_REQUEST_NAME_REPLY_EXISTS) {
    if (why) *why = "the desktop's sound server keeps the card and did not release it";
    return false;
  }
  return true;  // the bus would not tell: let the open itself decide
}

void CardReservation::release() {
  if (!m_bus) return;
  DBusError err;
  dbus_error_init(&err);
  dbus_bus_release_name(m_bus, m_name.c_str(), &err);
  dbus_error_free(&err);
  dbus_connection_close(m_bus);
  dbus_connection_unref(m_bus);
  m_bus = nullptr;
  m_name.clear();
}

}  // namespace asiolink
