#pragma once

#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace net_detail {

class Transfer;

// The hops running per session, in all and per "host:port" they connect to, against the session's
// limits. Hops past either wait in order for a hop of the same session to end, so a host that
// never answers holds back only its own session's hops to it, and pictures from a thousand hosts
// hold no more connections than their session's total: the one curl multi handle serves every
// session, and a limit on it would let pictures hold back the backend. A wait ends at its
// deadline (the transfer's timeout runs meanwhile). Engine thread only.
class ConnectionSlots {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Limits {
    int perHost = 1;
    int total = 1;
  };
  struct Host;
  struct Session;
  // A transfer's place: none, running on a host, or waiting for one.
  struct Ticket {
    Host* host = nullptr;
    bool running = false;
    std::list<std::pair<std::shared_ptr<Transfer>, Ticket*>>::iterator place{};
    std::multimap<TimePoint, Ticket*>::iterator due{};
  };

  // True when the hop to `hostKey` may start now, or was handed a slot while it waited.
  // Otherwise the transfer waits its turn (see release) until `deadline` (see expired).
  // A ticket running on another host must be released first.
  bool take(Ticket& ticket, const std::shared_ptr<Transfer>& transfer, const void* session, const std::string& hostKey,
            Limits limits, TimePoint deadline);
  // True when the ticket runs on `hostKey`.
  static bool runsOn(const Ticket& ticket, const std::string& hostKey);
  // Ends a running hop's slot or a wait. A freed slot goes straight to the session's first waiter
  // that its host's limit lets in, which is returned: its hop is to begin again.
  std::shared_ptr<Transfer> release(Ticket& ticket);
  // Appends the transfers whose wait is past its deadline at `now`; they stay waiting until released.
  void expired(TimePoint now, std::vector<std::shared_ptr<Transfer>>& out) const;
  // The earliest deadline of a wait; max() when none waits.
  TimePoint nextDeadline() const;

 private:
  using Key = std::pair<const void*, std::string>;
  std::shared_ptr<Transfer> grantNext(Session& session);
  void forgetIfIdle(Host& host);

  std::map<const void*, Session> sessions_;
  std::map<Key, Host> hosts_;
  std::multimap<TimePoint, Ticket*> deadlines_;
};

struct ConnectionSlots::Session {
  std::map<const void*, Session>::iterator self{};
  Limits limits{};
  int running = 0;
  // Waiters of every host, in the order they came.
  std::list<std::pair<std::shared_ptr<Transfer>, Ticket*>> waiting;
};

struct ConnectionSlots::Host {
  std::map<Key, Host>::iterator self{};
  Session* session = nullptr;
  int running = 0;
  int waiting = 0;
};

}  // namespace net_detail
