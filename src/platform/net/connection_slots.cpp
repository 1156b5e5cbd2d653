#include "platform/net/connection_slots.h"

#include <algorithm>

namespace net_detail {

bool ConnectionSlots::runsOn(const Ticket& ticket, const std::string& hostKey) {
  return ticket.host && ticket.running && ticket.host->self->first.second == hostKey;
}

bool ConnectionSlots::take(Ticket& ticket, const std::shared_ptr<Transfer>& transfer, const void* session,
                           const std::string& hostKey, Limits limits, TimePoint deadline) {
  if (ticket.host) {
    if (!ticket.running) return false;  // already waiting
    if (runsOn(ticket, hostKey)) return true;
  }
  auto [foundSession, freshSession] = sessions_.try_emplace(session);
  Session& owner = foundSession->second;
  if (freshSession) owner.self = foundSession;
  owner.limits = limits;
  auto [foundHost, freshHost] = hosts_.try_emplace(Key(session, hostKey));
  Host& host = foundHost->second;
  if (freshHost) {
    host.self = foundHost;
    host.session = &owner;
  }
  ticket.host = &host;
  if (host.running < std::max(limits.perHost, 1) && owner.running < std::max(limits.total, 1)) {
    ++host.running;
    ++owner.running;
    ticket.running = true;
    return true;
  }
  ticket.running = false;
  ++host.waiting;
  ticket.place = owner.waiting.emplace(owner.waiting.end(), transfer, &ticket);
  ticket.due = deadlines_.emplace(deadline, &ticket);
  return false;
}

std::shared_ptr<Transfer> ConnectionSlots::release(Ticket& ticket) {
  Host* host = std::exchange(ticket.host, nullptr);
  if (!host) return nullptr;
  Session& session = *host->session;
  std::shared_ptr<Transfer> granted;
  if (!ticket.running) {
    session.waiting.erase(ticket.place);
    deadlines_.erase(ticket.due);
    --host->waiting;
  } else {
    --host->running;
    --session.running;
    granted = grantNext(session);
  }
  ticket.running = false;
  forgetIfIdle(*host);
  return granted;
}

// The slot passes on without being free in between: no newcomer takes it first.
std::shared_ptr<Transfer> ConnectionSlots::grantNext(Session& session) {
  if (session.running >= std::max(session.limits.total, 1)) return nullptr;
  const int perHost = std::max(session.limits.perHost, 1);
  auto next = std::find_if(session.waiting.begin(), session.waiting.end(),
                           [perHost](const auto& waiter) { return waiter.second->host->running < perHost; });
  if (next == session.waiting.end()) return nullptr;
  Ticket& ticket = *next->second;
  ++ticket.host->running;
  --ticket.host->waiting;
  ++session.running;
  ticket.running = true;
  deadlines_.erase(ticket.due);
  std::shared_ptr<Transfer> granted = std::move(next->first);
  session.waiting.erase(next);
  return granted;
}

void ConnectionSlots::forgetIfIdle(Host& host) {
  if (host.running > 0 || host.waiting > 0) return;
  Session& session = *host.session;
  hosts_.erase(host.self);
  if (session.running == 0 && session.waiting.empty()) sessions_.erase(session.self);
}

void ConnectionSlots::expired(TimePoint now, std::vector<std::shared_ptr<Transfer>>& out) const {
  for (auto due = deadlines_.begin(); due != deadlines_.end() && due->first <= now; ++due)
    out.push_back(due->second->place->first);
}

ConnectionSlots::TimePoint ConnectionSlots::nextDeadline() const {
  return deadlines_.empty() ? TimePoint::max() : deadlines_.begin()->first;
}

}  // namespace net_detail
