#include "platform/net/connection_slots.h"

#include <algorithm>

namespace net_detail {

bool ConnectionSlots::take(Ticket& ticket, const std::shared_ptr<Transfer>& transfer, const void* session,
                           const std::string& hostKey, int limit) {
  if (ticket.host) {
    if (ticket.running && ticket.host->self->first.second == hostKey) return true;
    if (!ticket.running) return false;  // already waiting
    release(ticket);
  }
  auto [found, fresh] = hosts_.try_emplace(Key(session, hostKey));
  Host& host = found->second;
  if (fresh) host.self = found;
  ticket.host = &host;
  if (host.running < std::max(limit, 1)) {
    ++host.running;
    ticket.running = true;
    return true;
  }
  ticket.running = false;
  ticket.place = host.waiting.emplace(host.waiting.end(), transfer, &ticket);
  return false;
}

std::shared_ptr<Transfer> ConnectionSlots::release(Ticket& ticket) {
  Host* host = std::exchange(ticket.host, nullptr);
  if (!host) return nullptr;
  std::shared_ptr<Transfer> granted;
  if (!ticket.running) {
    host->waiting.erase(ticket.place);
  } else if (host->waiting.empty()) {
    --host->running;
  } else {
    // The slot passes on without being free in between: no newcomer takes it first.
    auto& [next, nextTicket] = host->waiting.front();
    nextTicket->running = true;
    granted = std::move(next);
    host->waiting.pop_front();
  }
  ticket.running = false;
  if (host->running == 0 && host->waiting.empty()) hosts_.erase(host->self);
  return granted;
}

}  // namespace net_detail
