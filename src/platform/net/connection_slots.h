#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace net_detail {

class Transfer;

// The hops running per session and per "host:port" they connect to, against the session's
// connection limit for a host. Hops past it wait in order for a hop of the same session and host
// to end, so a host that never answers holds back only its own session's hops to it: the one curl
// multi handle serves every session, and a limit on it would let pictures hold back the backend.
// Engine thread only.
class ConnectionSlots {
 public:
  struct Host;
  // A transfer's place: none, running on a host, or waiting for it.
  struct Ticket {
    Host* host = nullptr;
    bool running = false;
    std::list<std::pair<std::shared_ptr<Transfer>, Ticket*>>::iterator place{};
  };

  // True when the hop to `hostKey` may start now, or was handed a slot while it waited.
  // Otherwise the transfer waits its turn (see release).
  bool take(Ticket& ticket, const std::shared_ptr<Transfer>& transfer, const void* session, const std::string& hostKey,
            int limit);
  // Ends a running hop's slot or a wait. A freed slot goes straight to the first waiter, which is
  // returned: its hop is to begin again.
  std::shared_ptr<Transfer> release(Ticket& ticket);

 private:
  using Key = std::pair<const void*, std::string>;
  std::map<Key, Host> hosts_;
};

struct ConnectionSlots::Host {
  std::map<Key, Host>::iterator self{};
  int running = 0;
  std::list<std::pair<std::shared_ptr<Transfer>, Ticket*>> waiting;
};

}  // namespace net_detail
