// The events the threads hand over, run on the owner's thread: bytes
// waiting, the device lost, line errors and the other line events.

#include "serial_backend.h"
#include "serial_port.h"
#include "serial_session.h"

void TCustomSerialPort::CallHandler(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    if (!OnHandlerException) throw;
    OnHandlerException(error);
  }
}

void TCustomSerialPort::ProcessHandovers() {
  const std::shared_ptr<SerialSession> s = m_session;
  if (!s) return;  // closed: a waiting thread was released by the stop
  for (;;) {
    std::shared_ptr<HandoverRequest> request;
    {
      std::lock_guard lock(s->mutex);
      if (s->stop || s->pending.empty()) return;
      request = s->pending.front();
      s->pending.pop_front();
    }
    // Release the waiting thread whatever the handlers do.
    int unread = 0;
    struct Release {
      SerialSession& s;
      HandoverRequest& request;
      const int& unread;
      ~Release() {
        {
          std::lock_guard lock(s.mutex);
          request.done = true;
          request.unread = unread;
        }
        s.handoverCv.notify_all();
      }
    } release{*s, *request, unread};
    unread = Dispatch(request->events, request->lost);
  }
}

int TCustomSerialPort::Dispatch(uint32_t events, bool deviceLost) {
  if (deviceLost) {
    HandleDeviceLost();
    return 0;
  }
  if (!IsOpen()) return 0;
  m_unreadAnnounced = 0;
  if (events & EV_RXCHAR) {
    CallHandler([this] { HandleRxChar(); });
    events &= ~uint32_t{EV_RXCHAR};
  }
  if (events != 0 && IsOpen()) CallHandler([this, events] { HandleEvents(events); });
  const int unread = IsOpen() ? m_unreadAnnounced : 0;
  m_unreadAnnounced = 0;
  return unread;
}

void TCustomSerialPort::HandleDeviceLost() {
  if (!IsOpen()) return;
  if (OnDeviceLost)
    CallHandler([this] { OnDeviceLost(this); });
  else
    Close();
}

void TCustomSerialPort::HandleRxChar() {
  int count = 0;
  try {
    count = InQueueCount();
  } catch (const ESerialPortError&) {
    // Pulled out between the event thread's look and this count: that is
    // the device loss, not an error of the receive handler.
    if (m_device->HungUp(0)) {
      HandleDeviceLost();
      return;
    }
    throw;
  }
  if (count <= 0) return;
  // No listeners are ever linked, so the bytes stay queued for OnRxChar.
  if (!OnRxChar) return;
  m_unreadAnnounced = count;
  OnRxChar(this, count);
}

void TCustomSerialPort::HandleRxBuf(const char* data, int count) {
  if (OnRxBuf) OnRxBuf(this, data, count);
}

void TCustomSerialPort::HandleEvents(uint32_t events) {
  if (events & EV_ERR) {
    TSerialStatus status = ReadErrors();
    if (status.errors != 0 && OnError) OnError(this, static_cast<int>(status.errors));
  }
  NotifyLinks(events);
  const std::pair<uint32_t, TNotifyEvent*> handlers[] = {
      {EV_RXFLAG, &OnRxFlag},     {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},      {EV_RING, &OnRing},
      {EV_RLSD, &OnRlsd},         {EV_TXEMPTY, &OnTxEmpty}, {EV_BREAK, &OnBreak},  {EV_PERR, &OnPErr},
      {EV_RX80FULL, &OnRx80Full}, {EV_EVENT1, &OnEvent1},   {EV_EVENT2, &OnEvent2}};
  for (const auto& [bit, handler] : handlers)
    if ((events & bit) && *handler) (*handler)(this);
}
