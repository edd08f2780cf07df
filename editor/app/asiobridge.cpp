#include "asiobridge.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

// The names callback carries no user pointer: collect through a guarded
// static for the duration of one call.
QMutex gNamesMutex;
QStringList* gNamesTarget = nullptr;

void collectNames(const char** names, int count) {
  if (!gNamesTarget || !names) return;
  for (int i = 0; i < count && gNamesTarget->size() < AsioBridge::kMaxDriverNames; ++i) {
    gNamesTarget->append(QString::fromLocal8Bit(names[i] ? names[i] : ""));
  }
}

}  // namespace

AsioBridge::~AsioBridge() {
  // Unloading could pull the code from under a still-running driver thread;
  // the library stays mapped until the process ends.
}

bool AsioBridge::load(const QString& libraryPath) {
  m_library.setFileName(libraryPath);
  if (!m_library.load()) return false;
  m_init = reinterpret_cast<InitAsioDriverFn>(m_library.resolve("initAsioDriver"));
  m_getNames = reinterpret_cast<GetAsioDriverNamesFn>(m_library.resolve("getAsioDriverNames"));
  m_open = reinterpret_cast<OpenAsioDeviceFn>(m_library.resolve("openAsioDevice"));
  m_stop = reinterpret_cast<StopAsioDeviceFn>(m_library.resolve("stopAsioDevice"));
  m_unSelect = reinterpret_cast<UnSelectAsioDeviceFn>(m_library.resolve("unSelectAsioDevice"));
  m_panel = reinterpret_cast<OpenAsioPanelFn>(m_library.resolve("openAsioPanel"));
  m_bufferSize =
      reinterpret_cast<GetAndSetAsioBufferSizeFn>(m_library.resolve("getAndSetAsioBufferSize"));
  m_exit = reinterpret_cast<ExitAsioDeviceFn>(m_library.resolve("exitAsioDevice"));
  m_addDevice = reinterpret_cast<int (*)(int, const char*)>(m_library.resolve("asioLinkAddDevice"));
  m_panelText = reinterpret_cast<int (*)(int, char*, int)>(m_library.resolve("asioLinkPanelText"));
  if (m_init) m_initResult = m_init(&m_handle);
  return true;
}

int AsioBridge::boundCount() const {
  const void* all[] = {
      reinterpret_cast<const void*>(m_init),       reinterpret_cast<const void*>(m_getNames),
      reinterpret_cast<const void*>(m_open),       reinterpret_cast<const void*>(m_stop),
      reinterpret_cast<const void*>(m_unSelect),   reinterpret_cast<const void*>(m_panel),
      reinterpret_cast<const void*>(m_bufferSize), reinterpret_cast<const void*>(m_exit)};
  int n = 0;
  for (const void* p : all) n += p != nullptr;
  return n;
}

QStringList AsioBridge::driverNames(int* result) {
  QStringList names;
  int rc = kSkipped;
  if (m_getNames && m_handle != 0) {
    QMutexLocker lock(&gNamesMutex);
    gNamesTarget = &names;
    rc = m_getNames(m_handle, &collectNames);
    gNamesTarget = nullptr;
  }
  if (result) *result = rc;
  return names;
}

int AsioBridge::openDevice(void* ctx, int device, int rate, RenderCallback render,
                           uint32_t* rateMask) {
  if (!m_open || m_handle == 0) return kSkipped;
  int unused = 0;
  return m_open(m_handle, ctx, device, rate, render, &unused, rateMask);
}

int AsioBridge::stopDevice(void* ctx) {
  return (m_stop && m_handle != 0) ? m_stop(m_handle, ctx) : kSkipped;
}

int AsioBridge::unSelectDevice(void* ctx) {
  return (m_unSelect && m_handle != 0) ? m_unSelect(m_handle, ctx, 0) : kSkipped;
}

int AsioBridge::openPanel(void* ctx) {
  return (m_panel && m_handle != 0) ? m_panel(m_handle, ctx) : kSkipped;
}

int AsioBridge::bufferSizeRequest(void* ctx, int apply) {
  return (m_bufferSize && m_handle != 0) ? m_bufferSize(m_handle, ctx, apply) : kSkipped;
}

int AsioBridge::addDevice(const QString& pcmName) {
  if (!m_addDevice || m_handle == 0) return kSkipped;
  return m_addDevice(m_handle, pcmName.toLocal8Bit().constData());
}

QString AsioBridge::panelText() {
  if (!m_panelText || m_handle == 0) return QString();
  QByteArray text(1024, '\0');
  const int n = m_panelText(m_handle, text.data(), text.size());
  if (n >= text.size()) {
    text.resize(n + 1);
    (void)m_panelText(m_handle, text.data(), text.size());
  }
  return QString::fromLocal8Bit(text.constData());
}
